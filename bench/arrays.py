#!/usr/bin/env python3
"""graybmp's arrays against the gray copy and against the common decoders, CPU time, the
median of ROUNDS rounds, side by side in one run:
  to_array of a 48 MiB 24-bit BMP and of 2,000 small ones, against gray(data, compact=True),
  OpenCV's imdecode(IMREAD_GRAYSCALE) (when cv2 is there) and Pillow's convert('L');
  from_array of a (4096, 4096, 3) array at 2 levels by Floyd-Steinberg against Pillow's
  convert('L').convert('1'), and at 4 levels against convert('L').quantize() to 4 grays.

    PYTHONPATH=build/python /usr/bin/python3 bench/arrays.py [ROUNDS]   (default 9)
"""
import io
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy
from PIL import Image

import graybmp

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 9
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "tools", "graybmp-sample")


def cpu(work):
    times = []
    for _ in range(ROUNDS):
        start = time.process_time()
        work()
        times.append(time.process_time() - start)
    return statistics.median(times)


def sample(folder, width, height):
    path = os.path.join(folder, f"s{width}x{height}.bmp")
    subprocess.run([SAMPLE, path, str(width), str(height), "24"], check=True)
    with open(path, "rb") as f:
        return f.read()


def main():
    try:
        import cv2
    except ImportError:
        cv2 = None
    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as work:
        big = sample(work, 4096, 4096)
        small = [sample(work, 64, 48)] * 2000
        for name, images in (("48 MiB 24-bit", [big]), ("2,000 of 64 x 48", small)):
            base = cpu(lambda: [graybmp.gray(d, compact=True) for d in images])
            rows = {"to_array": cpu(lambda: [graybmp.to_array(d) for d in images]),
                    "Pillow convert('L')": cpu(lambda: [numpy.asarray(Image.open(io.BytesIO(d)).convert("L"))
                                                         for d in images])}
            if cv2 is not None:
                rows["cv2.imdecode gray"] = cpu(lambda: [cv2.imdecode(numpy.frombuffer(d, numpy.uint8),
                                                                      cv2.IMREAD_GRAYSCALE) for d in images])
            print(f"{name}: gray(compact=True) {base:.4f} s")
            for label, t in rows.items():
                print(f"  {label:24} {t:.4f} s  {t / base:.2f}x of gray")
        array = numpy.random.default_rng(1).integers(0, 256, (4096, 4096, 3), dtype=numpy.uint8)
        palette = Image.new("P", (1, 1))
        palette.putpalette([0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255] + [0] * 756)
        pairs = [("2 levels, Floyd-Steinberg",
                  lambda: graybmp.from_array(array, levels=2, dither="floyd-steinberg"),
                  lambda: Image.fromarray(array).convert("L").convert("1")),
                 ("4 levels, Floyd-Steinberg",
                  lambda: graybmp.from_array(array, levels=4, dither="floyd-steinberg"),
                  lambda: Image.fromarray(array).convert("L").convert("RGB").quantize(palette=palette))]
        for label, ours, theirs in pairs:
            a, b = cpu(ours), cpu(theirs)
            print(f"from_array, {label}: graybmp {a:.3f} s, Pillow {b:.3f} s: {a / b:.2f}x of Pillow")


main()
