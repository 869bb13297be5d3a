"""What the Python checks share: failing with a message and waiting with a
deadline."""
import sys
import time


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
