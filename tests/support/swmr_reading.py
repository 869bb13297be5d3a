"""What the h5py checks share: failing with a message, waiting with a
deadline (from checks), and opening a file that may still be growing (SWMR)."""
import h5py

from checks import check, wait_for  # noqa: F401 (the h5py checks take them from here)


def open_swmr(path):
    try:
        return h5py.File(path, "r", libver="latest", swmr=True)
    except OSError:  # not there yet, or not yet in SWMR mode
        return None
