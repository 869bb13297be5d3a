"""Starts tessivo128-tango without a database on a free loopback port, on the
simulator, and hands out PyTango proxies to its devices. Shared by the
server's tests and its benchmark. Exits 77 (skipped) without PyTango."""
import os
import signal
import socket
import subprocess
import sys
import time

try:
    import tango
except ImportError:
    print("SKIP: PyTango is not installed (Debian: python3-tango)")
    sys.exit(77)


def check(condition, what):
    if not condition:
        raise SystemExit(f"FAIL: {what}")


def wait_for(probe, seconds, what):
    """The first true value of probe() within the deadline."""
    deadline = time.monotonic() + seconds
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise SystemExit(f"FAIL: {what} (not within {seconds} s)")
        time.sleep(0.02)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """tessivo128-tango INSTANCE -nodb -dlist DEVICES on 127.0.0.1, in `folder`."""

    started = []  # every server of this script, so a failed check leaves none running

    @classmethod
    def stop_all(cls):
        for server in cls.started:
            if server.process.poll() is None:
                server.process.kill()
                server.process.wait()

    def __init__(self, executable, folder, devices=("lab/zk128/1",), environment=None, extra=()):
        self.port = free_port()
        self.folder = folder
        env = {k: v for k, v in os.environ.items() if not k.startswith("TESSIVO_")}
        env.update(TESSIVO_DEVICE="simulator", XDG_CONFIG_HOME=f"{folder}/config")
        env.update(environment or {})
        arguments = [executable, "test"]
        arguments += list(extra) or ["-nodb", "-dlist", ",".join(devices)]
        arguments += ["-ORBendPoint", f"giop:tcp:127.0.0.1:{self.port}"]
        self.log = open(f"{folder}/server.out", "wb")
        self.process = subprocess.Popen(arguments, cwd=folder, env=env, stdout=self.log, stderr=subprocess.STDOUT)
        self.devices = devices
        Server.started.append(self)

    def url(self, device=None):
        return f"tango://127.0.0.1:{self.port}/{device or self.devices[0]}#dbase=no"

    def proxy(self, device=None):
        name = self.url(device)

        def connected():
            check(self.process.poll() is None, f"the server ended early: {self.output()}")
            try:
                proxy = tango.DeviceProxy(name)
                proxy.ping()
                return proxy
            except tango.DevFailed:
                return None

        return wait_for(connected, 30, f"the server answers at {name}")

    def output(self):
        with open(f"{self.folder}/server.out", "rb") as f:
            return f.read().decode(errors="replace")

    def stop(self, sig=signal.SIGTERM, seconds=30):
        """Ends the server with the signal; its exit code."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            return self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise SystemExit(f"FAIL: the server did not end within {seconds} s of signal {sig}")
        finally:
            self.log.close()


def refusal(call):
    """The description of the DevFailed the call raises, or None."""
    try:
        call()
    except tango.DevFailed as failure:
        return failure.args[0].desc
    return None


class Counter:
    """Counts events and keeps their delays (callback time against the event's time stamp)."""

    def __init__(self, keep=False):
        self.keep = keep
        self.count = 0
        self.errors = 0
        self.delays = []
        self.values = []

    def push_event(self, event):
        if event.err:
            self.errors += 1
            return
        self.count += 1
        if getattr(event, "attr_value", None) is not None:
            self.delays.append(time.time() - event.attr_value.time.totime())
            if self.keep:
                self.values.append(event.attr_value.value)
