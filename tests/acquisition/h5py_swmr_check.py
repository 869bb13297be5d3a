#!/usr/bin/env python3
"""Reads runs written by Hdf5RunSink (through hdf5_run_writer) with h5py: while
one is being written (SWMR), after it ended, and after its writer died.

Usage: h5py_swmr_check.py WRITER_PROGRAM. Exits 77 (skipped) without h5py."""
import math
import os
import subprocess
import sys
import tempfile
import time

try:
    import h5py
    import numpy as np
except ImportError:
    print("SKIP: h5py is not installed (Debian: python3-h5py)")
    sys.exit(77)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from swmr_reading import check, open_swmr, wait_for  # noqa: E402

WRITER = sys.argv[1]
FRAMES, INTERVAL_MS, DIE_AFTER = 40, 50, 30
PIXELS = np.arange(128 * 128)


def check_frames(f, count):
    current, gray, times = f["frames/current"], f["frames/gray"], f["frames/timestamp"]
    check(current.shape == (count, 128, 128) and gray.shape == (count, 128, 128) and times.shape == (count,),
          f"shapes {current.shape} {gray.shape} {times.shape} for {count} frames")
    for k in range(1, count + 1):
        check(np.array_equal(current[k - 1].ravel(), k + PIXELS / 16384.0), f"currents of frame {k}")
        check(np.array_equal(gray[k - 1].ravel(), (k + PIXELS) % 256), f"gray levels of frame {k}")
    start = f.attrs["start_time_unix_s"]
    check(np.all(np.diff(times[:]) > 0) and start <= times[0] < start + 60, "timestamps after the start, rising")


def check_nexus_chain(f, count):
    """Follows the NeXus "default" chain the way silx and NeXpy do, to an image stack."""
    entry = f[f.attrs["default"]]
    data = entry[entry.attrs["default"]]
    signal = data[data.attrs["signal"]]
    classes = (entry.attrs["NX_class"], data.attrs["NX_class"], entry["instrument"].attrs["NX_class"],
               entry["instrument/detector"].attrs["NX_class"])
    check(classes == (b"NXentry", b"NXdata", b"NXinstrument", b"NXdetector") or
          classes == ("NXentry", "NXdata", "NXinstrument", "NXdetector"), f"NeXus classes {classes}")
    check(signal.shape == (count, 128, 128) and signal.attrs["interpretation"] in (b"image", "image")
          and signal.attrs["units"] == "nA", f"the signal {signal.name}: an image stack in nA")
    check(signal == f["frames/current"] and data["gray"] == f["frames/gray"],
          "the NXdata members are the /frames datasets themselves (hard links)")


def run(folder, name, *extra):
    return subprocess.Popen([WRITER, folder, name, str(FRAMES), str(INTERVAL_MS), *extra])


with tempfile.TemporaryDirectory() as folder:
    # While it grows: some frames, not all, and not complete.
    path = f"{folder}/live.h5"
    writer = run(folder, "live")
    live = wait_for(lambda: open_swmr(path), 10, "the file opens with swmr=True")
    # One object per dataset, refreshed and read through that same object: with
    # HDF5 1.10 a refresh through a second object of a dataset spoils the first.
    datasets = [live[name] for name in ("frames/current", "frames/gray", "frames/timestamp")]
    current = datasets[0]

    def frames_so_far():
        for dataset in datasets:
            dataset.refresh()
        return min(dataset.shape[0] for dataset in datasets)

    seen = wait_for(frames_so_far, 10, "frames appear while the run goes on")
    check(0 < seen < FRAMES, f"{seen} of {FRAMES} frames while writing")
    check(not live.attrs["complete"], "complete is false while writing")
    for k in (1, seen):
        check(np.array_equal(current[k - 1].ravel(), k + PIXELS / 16384.0), f"live currents of frame {k}")

    # The reader keeps the file open: the run must still end cleanly.
    check(writer.wait(timeout=60) == 0, "the writer finishes while a reader has the file open")
    live.close()

    with h5py.File(path, "r") as f:  # a normal open: the SWMR mark is gone
        check_frames(f, FRAMES)
        check_nexus_chain(f, FRAMES)
        a = f.attrs
        check(bool(a["complete"]) and a["frames_written"] == FRAMES and a["frames_requested"] == FRAMES,
              f"complete {a['complete']}, frames {a['frames_written']} of {a['frames_requested']}")
        check((a["vbias1_V"], a["vbias2_V"], a["von_V"], a["voff_V"]) == (1.5, -2.25, 10, -5), "bias voltages")
        check(a["current_range_nA"] == 800 and a["integration_count"] == 3, "range and integration count")
        check((a["device_serial"], a["backend"], a["console_version"]) == ("ZK128", "simulator", "0.1.0"),
              "device, backend and version texts")
        check(a["start_time"].endswith("Z") and f["frames/current"].attrs["units"] == "nA", "time and current units")
        check(f["frames/timestamp"].attrs["units"] == "seconds since 1970-01-01T00:00:00Z", "timestamp units")
        off, on = f["references/full_off"], f["references/full_on"]
        check(np.array_equal(off[:].ravel(), -PIXELS / 16384.0) and off.attrs["taken_unix_s"] == a["start_time_unix_s"],
              "the measured full-off reference and its time")
        check(np.all(np.isnan(on[:])) and math.isnan(on.attrs["taken_unix_s"]), "the unmeasured full-on reference")

    # A writer that dies leaves the frames of its last flush, and complete false.
    writer = run(folder, "died", str(DIE_AFTER))
    check(writer.wait(timeout=60) == 3, "the writer died on purpose")
    with h5py.File(f"{folder}/died.h5", "r", libver="latest", swmr=True) as f:
        flushed = f["frames/current"].shape[0]
        check(0 < flushed <= DIE_AFTER and f.attrs["frames_written"] == flushed,
              f"{flushed} frames flushed, frames_written {f.attrs['frames_written']}")
        check(not f.attrs["complete"], "complete is false after the writer died")
        check_frames(f, flushed)
        check_nexus_chain(f, flushed)

print("h5py read the run while it grew, after it ended and after its writer died")
