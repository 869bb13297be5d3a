"""What the h5py checks share: failing with a message, waiting with a
deadline, and opening a file that may still be growing (SWMR)."""
import sys
import time

import h5py


def check(condition, what):
    if not condition:
        sys.exit("FAIL: " + what)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.02)
    sys.exit(f"FAIL: {what} within {seconds} s")


def open_swmr(path):
    try:
        return h5py.File(path, "r", libver="latest", swmr=True)
    except OSError:  # not there yet, or not yet in SWMR mode
        return None
