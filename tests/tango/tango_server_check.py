#!/usr/bin/env python3
"""tessivo128-tango on the simulator, driven by a PyTango client.

Usage: tango_server_check.py SERVER CASE, CASE one of
  states  the state machine, refusals, limits, and the parameter command the
          simulator received, byte for byte
  events  change and data-ready events on Current at integration count 0,
          and ImageEventRate
  save    a run saved by command and read back; AbortSave; SIGTERM mid-run
  unplug  an unplug mid-run: FAULT, the run partial, Connect again
Exits 77 (skipped) without PyTango."""
import glob
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from tango_rig import Counter, Server, check, refusal, tango, wait_for  # noqa: E402

SERVER, CASE = sys.argv[1], sys.argv[2]


def state_is(device, state):
    return lambda: device.state() == state


def connect_and_apply(device, range_na=100):
    device.Connect()
    device.Range = range_na
    device.ApplyParameters()


def voltage_field(volts):
    # The DAC code (V + 20) / 5 x 512, halves away from zero, in the upper 12 bits.
    code = min(max(int((volts + 20) / 5 * 512 + 0.5), 0), 4095)
    return [(code << 4) >> 8, (code << 4) & 0xFF]


def states(folder):
    log = f"{folder}/commands.txt"
    server = Server(SERVER, folder, environment={"TESSIVO_SIM_COMMAND_LOG": log, "TESSIVO_SIM_BATTERY": "2400"})
    d = server.proxy()
    check(d.state() == tango.DevState.OFF, f"starts OFF, not {d.state()}")
    for command in ("Start", "ApplyParameters", "Save", "Stop", "TakeFullOn"):
        why = refusal(lambda: d.command_inout(command))
        check(why and "OFF" in why, f"{command} in OFF refused naming the state: {why}")
    for name, value in (("Range", 0), ("Range", 801), ("Vbias1", 15.5), ("Voff", -16), ("SaveFrames", 1001)):
        check(refusal(lambda: d.write_attribute(name, value)), f"{name} = {value} refused by its limits")
    why = refusal(lambda: d.write_attribute("SaveName", "../escape"))
    check(why and why.startswith("The name must not contain"), f"a bad name refused with the console's sentence: {why}")
    check(refusal(lambda: d.write_attribute("SaveKinds", "data,movies")), "an unknown kind refused")

    d.Connect()
    check(d.state() == tango.DevState.ON and d.SerialNumber == "ZK128", f"ON after Connect: {d.state()}")
    check(d.Battery == 67, f"battery 2400 reads 67 %, not {d.Battery}")
    why = refusal(d.Connect)
    check(why and "ON" in why, f"Connect in ON refused: {why}")
    d.Range, d.Vbias1, d.Vbias2, d.Von, d.Voff = 100, -2.5, 1.25, 5.0, -5.0
    d.ApplyParameters()
    lines = wait_for(lambda: [l.split() for l in open(log) if l.startswith("AE AA 01")] if os.path.exists(log)
                     else None, 5, "the parameter command reaches the simulator")
    sent = [int(b, 16) for b in lines[-1]]
    expected_fields = sum((voltage_field(v) for v in (5.0, -5.0, -2.5, 1.25)), [])
    check(len(sent) == 18 and sent[:3] == [0xAE, 0xAA, 0x01] and sent[-1] == 0x0A, f"frame {lines[-1]}")
    check(sent[3:11] == expected_fields, f"voltage fields {sent[3:11]} against {expected_fields}")
    check(sent[12] == 100 and sent[16] == sum(sent[:16]) & 0xFF, f"range byte {sent[12]}, checksum {sent[16]}")
    check((sent[13] << 16 | sent[14] << 8 | sent[15]) >= 6400, f"integration count {sent[13:16]}")
    firsts = [l.split()[2] for l in open(log)]
    check(firsts[:3] == ["00", "04", "01"], f"handshake, battery query, parameters in order: {firsts}")

    d.Start()
    check(d.state() == tango.DevState.RUNNING, "RUNNING after Start")
    check("RUNNING" in (refusal(d.ApplyParameters) or ""), "ApplyParameters refused while RUNNING")
    wait_for(lambda: d.FramesReceived > 2, 10, "frames arrive")
    check(d.read_attribute("Current").value.shape == (128, 128), "Current is 128 x 128")
    d.Stop()
    check(d.state() == tango.DevState.ON, "ON after Stop")
    d.Disconnect()
    check(d.state() == tango.DevState.OFF, "OFF after Disconnect")
    code = server.stop()
    check(code == 0, f"the server ends cleanly on SIGTERM, not with {code}: {server.output()[-600:]}")

    # Two devices in one process, each opening the ZK128 its SerialNumber
    # property names (Tango's file database stands in for the real one).
    with open(f"{folder}/tango.db", "w") as db:
        db.write("tessivo128-tango/test/DEVICE/Tessivo128: lab/zk128/1, lab/zk128/2\n"
                 "lab/zk128/1->SerialNumber: ZK128\nlab/zk128/2->SerialNumber: ZK999\n")
    server = Server(SERVER, folder, devices=("lab/zk128/1", "lab/zk128/2"), extra=[f"-file={folder}/tango.db"])
    server.proxy("lab/zk128/1").Connect()
    check(server.proxy("lab/zk128/1").SerialNumber == "ZK128", "the first device opened ZK128")
    why = refusal(server.proxy("lab/zk128/2").Connect)
    check(why and why.startswith("No device with serial number ZK999"), f"the second looked for ZK999: {why}")
    check(server.stop() == 0, "the two-device server ends cleanly")


VANISHING_CLIENT = """
import sys, time, tango
d = tango.DeviceProxy(sys.argv[1])
d.subscribe_event("Current", tango.EventType.CHANGE_EVENT, lambda event: None)
print("subscribed", flush=True)
time.sleep(60)
"""


def events(folder):
    server = Server(SERVER, folder, environment={"TESSIVO_SIM_INTEGRATION_COUNT": "0"})
    d = server.proxy()
    connect_and_apply(d, 800)
    current, ready, state = Counter(), Counter(), Counter(keep=True)
    ids = [d.subscribe_event("Current", tango.EventType.CHANGE_EVENT, current),
           d.subscribe_event("Current", tango.EventType.DATA_READY_EVENT, ready),
           d.subscribe_event("State", tango.EventType.CHANGE_EVENT, state)]
    d.Start()
    wait_for(lambda: d.FramesReceived > 50, 10, "the capture runs")
    first, events0 = d.FramesReceived, current.count
    time.sleep(2.0)
    frames, got = d.FramesReceived - first, current.count - events0
    check(frames > 200, f"count 0 gives many frames: {frames} in 2 s")
    check(got >= 0.5 * frames, f"{got} Current events for {frames} frames")
    check(abs(ready.count - current.count) <= 0.1 * current.count + 5,
          f"data-ready events {ready.count} follow the change events {current.count}")
    # A client killed mid-stream changes nothing for this one.
    other = subprocess.Popen([sys.executable, "-c", VANISHING_CLIENT, server.url()], stdout=subprocess.PIPE)
    check(other.stdout.readline().strip() == b"subscribed", "a second client subscribes")
    other.kill()
    other.wait()
    before = current.count
    wait_for(lambda: current.count > before + 200, 5, "events keep coming after the other client vanished")
    d.ImageEventRate = 25
    settled = current.count + 2
    wait_for(lambda: current.count > settled, 5, "events at the limited rate")
    before = current.count
    time.sleep(2.0)
    limited = (current.count - before) / 2.0
    check(20 <= limited <= 26, f"ImageEventRate 25 gives {limited} events/s")
    d.Stop()
    wait_for(lambda: tango.DevState.ON in state.values, 5, "a State change event says ON")
    check(tango.DevState.RUNNING in state.values, f"State events {state.values}")
    for i in ids:
        d.unsubscribe_event(i)
    server.stop()
    print(f"{got} events for {frames} frames at count 0; {limited} events/s at ImageEventRate 25")


def start_run(d, folder, name, frames, kinds):
    d.SaveFolder, d.SaveName, d.SaveFrames, d.SaveKinds = folder, name, frames, kinds
    return d.Save()


def save(folder):
    try:
        import h5py
        import numpy as np
    except ImportError:
        print("SKIP: h5py or numpy is not installed")
        sys.exit(77)
    server = Server(SERVER, folder)
    d = server.proxy()
    connect_and_apply(d, 100)
    why = refusal(lambda: d.Save())
    check(why and "ON" in why, f"Save refused outside RUNNING: {why}")
    d.Start()
    open(f"{folder}/plain", "w").close()
    d.SaveFolder, d.SaveName = f"{folder}/plain/sub", "run"
    why = refusal(lambda: d.Save())
    check(why and why.startswith("The folder "), f"a folder that cannot be made is refused: {why}")
    run = start_run(d, folder, "run", 20, "data,hdf5")
    check(run == f"{folder}/run", f"Save returns the run folder: {run}")
    wait_for(lambda: d.LastRunOutcome == "Saved 20 of 20 frames", 30, "the run ends complete")
    check(d.LastRunFolder == run and d.SaveProgress == 20, f"{d.LastRunFolder}, {d.SaveProgress}")
    csv = f"{run}/run_current.csv"
    currents = np.loadtxt(csv, delimiter=",", comments="Time:").reshape(-1, 128, 128)
    with h5py.File(f"{run}/run.h5", "r") as f:
        check(f["frames/current"].shape == (20, 128, 128) and bool(f.attrs["complete"]), "the HDF5 file is whole")
        check(np.allclose(f["frames/current"][:], currents), "HDF5 and CSV hold the same currents")
        check(f.attrs["current_range_nA"] == 100, "the run records the applied range")

    start_run(d, folder, "aborted", 1000, "data")
    wait_for(lambda: d.SaveProgress > 2, 20, "the long run gathers frames")
    d.AbortSave()
    outcome = wait_for(lambda: d.LastRunOutcome if "aborted" in d.LastRunOutcome else None, 20, "the abort ends it")
    check(outcome.startswith("Saved ") and outcome.endswith("the run was aborted."), outcome)

    run = start_run(d, folder, "killed", 1000, "data,hdf5")
    wait_for(lambda: d.SaveProgress > 5, 20, "the run gathers frames before SIGTERM")
    check(server.stop() == 0, "the server ends cleanly on SIGTERM mid-run")
    with h5py.File(f"{run}/killed.h5", "r") as f:
        written = f.attrs["frames_written"]
        check(not f.attrs["complete"] and 5 < written < 1000, f"SIGTERM leaves a partial file: {written}")
    check(glob.glob(f"{run}/killed_current.csv"), "the CSV of the partial run is in place")
    log = open(f"{folder}/log.txt").read()
    check("the run was interrupted" in log, "the log says the run was interrupted")


def unplug(folder):
    plug = f"{folder}/unplugged"
    server = Server(SERVER, folder, environment={"TESSIVO_SIM_UNPLUG_FILE": plug})
    d = server.proxy()
    connect_and_apply(d, 100)
    state = Counter(keep=True)
    d.subscribe_event("State", tango.EventType.CHANGE_EVENT, state)
    d.Start()
    run = start_run(d, folder, "lost", 1000, "data,hdf5")
    wait_for(lambda: d.SaveProgress > 3, 20, "the run gathers frames")
    open(plug, "w").close()
    wait_for(state_is(d, tango.DevState.FAULT), 10, "an unplug takes the device to FAULT")
    check(d.status() == "Device disconnected.", f"status {d.status()!r}")
    outcome = wait_for(lambda: d.LastRunOutcome if "disconnected" in d.LastRunOutcome else None, 20, "the run ends")
    check(outcome.startswith("Saved ") and outcome.endswith("the device was disconnected."), outcome)
    check(os.path.exists(f"{run}/lost_current.csv") and os.path.exists(f"{run}/lost.h5"), "every kind kept")
    wait_for(lambda: tango.DevState.FAULT in state.values, 5, "a State event says FAULT")
    check("FAULT" in (refusal(d.Start) or ""), "Start refused in FAULT")
    os.remove(plug)
    wait_for(lambda: refusal(d.Connect) is None, 5, "Connect after the replug")
    check(d.state() == tango.DevState.ON, "ON after the replug")
    server.stop()


with tempfile.TemporaryDirectory() as work:
    try:
        {"states": states, "events": events, "save": save, "unplug": unplug}[CASE](work)
    finally:
        Server.stop_all()
print(f"tessivo128-tango {CASE}: passed")
