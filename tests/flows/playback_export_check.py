"""Frames exported from an open recording, read back with h5py or as CSV and
compared with the source run (its HDF5 file and its CSV file).

usage: playback_export_check.py SOURCE.h5 SOURCE_current.csv EXPORTED FIRST COUNT
Exit code 77 when h5py or numpy is missing."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import check  # noqa: E402

try:
    import h5py
    import numpy as np
except ImportError:
    sys.exit(77)

source_h5, source_csv, exported, first, count = sys.argv[1:4] + [int(sys.argv[4]), int(sys.argv[5])]
with h5py.File(source_h5, "r") as f:
    currents = f["frames/current"][first:first + count]
    stamps = f["frames/timestamp"][first:first + count]
    step = float(f.attrs["current_range_nA"]) * 1e-6  # one device count
source_times = [line[6:].strip() for line in open(source_csv) if line.startswith("Time: ")][first:first + count]

if exported.endswith(".h5"):
    with h5py.File(exported, "r") as f:
        got = f["frames/current"][:]
        got_stamps = f["frames/timestamp"][:]
        check(bool(f.attrs["complete"]), "the exported run is complete")
        check(int(f.attrs["frames_written"]) == count, f"frames_written is {count}")
    check(np.allclose(got_stamps, stamps, atol=1e-3), "the recorded times are kept")
else:
    got = np.loadtxt(exported, delimiter=",", comments="Time:").reshape(-1, 128, 128)
    times = [line[6:].strip() for line in open(exported) if line.startswith("Time: ")]
    check(times == source_times, f"the recorded times are kept: {times} != {source_times}")
check(got.shape == (count, 128, 128), f"{count} frames exported, got {got.shape}")
check(np.allclose(got, currents, rtol=1e-5, atol=step), "the exported currents are the source's")
