#!/usr/bin/env python3
"""Reads the HDF5 file of a tessivo128-capture run on the simulator with h5py:
while the tool writes it (SWMR: some frames, not all, complete false) and
after the tool ended (every frame, complete true).

Usage: h5py_capture_check.py TOOL. Exits 77 (skipped) without h5py."""
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

TOOL = sys.argv[1]
FRAMES = 40  # at 10 nA about 76 ms a frame: some 3 s of writing


with tempfile.TemporaryDirectory() as folder:
    environment = {k: v for k, v in os.environ.items() if not k.startswith("TESSIVO_")}
    environment.update(TESSIVO_DEVICE="simulator", XDG_CONFIG_HOME=f"{folder}/config")
    tool = subprocess.Popen([TOOL, "--hdf5", "--range", "10", "--frames", str(FRAMES), "--quiet",
                             "--out", folder, "--name", "live"],
                            cwd=folder, env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    path = f"{folder}/live/live.h5"
    live = wait_for(lambda: open_swmr(path), 20, "the file opens with swmr=True")
    # Refreshed and read through the same object (HDF5 1.10).
    current = live["frames/current"]

    def frames_so_far():
        current.refresh()
        return current.shape[0]

    seen = wait_for(frames_so_far, 20, "frames appear while the tool runs")
    check(0 < seen < FRAMES, f"{seen} of {FRAMES} frames while writing")
    check(not live.attrs["complete"], "complete is false while writing")
    check(np.all(np.isfinite(current[seen - 1])), "the newest frame reads as numbers")

    out, err = tool.communicate(timeout=60)
    check(tool.returncode == 0, f"the tool ended with {tool.returncode}: {err.decode()}")
    check(out.decode() == f"{folder}/live\n", f"the tool printed {out!r}")
    live.close()

    with h5py.File(path, "r") as f:
        a = f.attrs
        check(f["frames/current"].shape == (FRAMES, 128, 128), f"shape {f['frames/current'].shape}")
        check(bool(a["complete"]) and a["frames_written"] == FRAMES, f"complete {a['complete']}, "
              f"{a['frames_written']} frames written")
        check(a["current_range_nA"] == 10 and (a["device_serial"], a["backend"]) == ("ZK128", "simulator"),
              "range, device and backend")

print(f"h5py read the tool's file while it grew ({seen} frames) and after it ended")
