#!/usr/bin/env python3
"""tessivo128-tango under load, on the simulator at integration count 0
(800 nA): 1 and 4 PyTango clients, each a process of its own, subscribed to
change events on Current. Prints for each the frames the server received,
the share of them each client got, the server's CPU and the time from a
frame's arrival at the server to the client's callback (p50, p99); then the
event rate one client gets with ImageEventRate 25.

Usage: bench_tango.py SERVER [SECONDS]"""
import multiprocessing as mp
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
from tango_rig import Counter, Server, tango, wait_for  # noqa: E402

SERVER = sys.argv[1] if __name__ == "__main__" else None
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def connect(name):
    """A proxy with a long timeout: the machine may be busy with the clients themselves."""
    def attempt():
        try:
            device = tango.DeviceProxy(name)
            device.set_timeout_millis(10000)
            return device
        except tango.DevFailed:
            return None
    return wait_for(attempt, 60, f"a client connects to {name}")


def client(name, ready, go, done, results):
    device = connect(name)
    counter = Counter()
    subscription = device.subscribe_event("Current", tango.EventType.CHANGE_EVENT, counter)
    ready.set()
    go.wait()
    start, first = counter.count, len(counter.delays)
    done.wait()
    results.put((counter.count - start, counter.delays[first:]))
    device.unsubscribe_event(subscription)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))] if ordered else float("nan")


def measure(server, name, clients):
    # Spawned, not forked: a forked copy of a PyTango client shares its ORB.
    spawn = mp.get_context("spawn")
    ready = [spawn.Event() for _ in range(clients)]
    go, done, results = spawn.Event(), spawn.Event(), spawn.Queue()
    workers = [spawn.Process(target=client, args=(name, r, go, done, results)) for r in ready]
    for w in workers:
        w.start()
    for r in ready:
        r.wait(30)
    device = connect(name)
    time.sleep(1.0)  # subscriptions settle
    frames0, cpu0, wall0 = device.FramesReceived, cpu_seconds(server.process.pid), time.monotonic()
    go.set()
    time.sleep(SECONDS)
    done.set()
    frames, cpu = device.FramesReceived - frames0, cpu_seconds(server.process.pid) - cpu0
    wall = time.monotonic() - wall0
    got = [results.get(timeout=60) for _ in workers]
    for w in workers:
        w.join(30)
    delays = [d for _, ds in got for d in ds]
    shares = ", ".join(f"{100.0 * n / frames:.1f} %" for n, _ in got)
    print(f"{clients} client(s): {frames} frames in {wall:.1f} s ({frames / wall:.0f} frames/s); "
          f"each client got {shares}; server CPU {100.0 * cpu / wall:.0f} % of a core; "
          f"arrival to callback p50 {1000 * percentile(delays, 0.5):.2f} ms, p99 {1000 * percentile(delays, 0.99):.2f} ms")


def write(device, name, value):
    """Writes, retrying while the server's events are held up by clients that just left."""
    def attempt():
        try:
            device.write_attribute(name, value)
            return True
        except tango.DevFailed as failure:
            print(f"(write of {name} retried: {failure.args[-1].desc.strip()})")
            return False
    wait_for(attempt, 60, f"{name} is written")


def limited_rate(name):
    device = connect(name)
    write(device, "ImageEventRate", 25)
    counter = Counter()
    device.subscribe_event("Current", tango.EventType.CHANGE_EVENT, counter)
    time.sleep(1.0)
    start, t0 = counter.count, time.monotonic()
    time.sleep(SECONDS)
    rate = (counter.count - start) / (time.monotonic() - t0)
    print(f"ImageEventRate 25: one client got {rate:.2f} events/s")
    write(device, "ImageEventRate", 0)


def main():
    with tempfile.TemporaryDirectory() as folder:
        run(folder)


def run(folder):
    server = Server(SERVER, folder, environment={"TESSIVO_SIM_INTEGRATION_COUNT": "0"})
    try:
        measure_all(server)
    finally:
        server.stop()


def measure_all(server):
    device = server.proxy()
    name = server.url()
    device.Connect()
    device.Range = 800
    device.ApplyParameters()
    device.Start()
    wait_for(lambda: device.FramesReceived > 100, 10, "the capture runs")
    for clients in (1, 4):
        measure(server, name, clients)
    limited_rate(name)
    device.Stop()


if __name__ == "__main__":
    main()
