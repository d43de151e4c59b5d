#!/usr/bin/env python3
"""graybmp for Python against Pillow, threads against turns, and Dask against one batch.

    PYTHONPATH=build/python /usr/bin/python3 bench/python.py [ROUNDS]   (default 5)

Each figure is the median of ROUNDS rounds. bench/run runs it after the tool's benches.
"""
import io
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import graybmp
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "examples"))
import dask_gray  # noqa: E402

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 5
TOOL = os.path.join(HERE, "..", "build", "graybmp")
SAMPLE = os.path.join(HERE, "..", "build", "tools", "graybmp-sample")


def median_seconds(work, rounds=ROUNDS):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def sample(folder, name, width, height, bits):
    path = os.path.join(folder, name)
    subprocess.run([SAMPLE, path, str(width), str(height), str(bits)], check=True)
    with open(path, "rb") as f:
        return f.read()


def pillow_gray(data):
    out = io.BytesIO()
    Image.open(io.BytesIO(data)).convert("L").save(out, "BMP")
    return out.getvalue()


def main():
    work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        big = sample(work, "big.bmp", 4096, 4096, 24)
        ours = median_seconds(lambda: graybmp.gray(big, method="bt601", compact=True))
        theirs = median_seconds(lambda: pillow_gray(big))
        print(f"48 MiB 24-bit, bt601 compact: graybmp {ours:.3f} s, Pillow {theirs:.3f} s: "
              f"{theirs / ours:.1f}x")

        small = [sample(work, f"s{k}.bmp", 64, 64, 8) for k in range(20)] * 100
        ours = median_seconds(lambda: [graybmp.gray(d) for d in small])
        theirs = median_seconds(lambda: [pillow_gray(d) for d in small])
        print(f"2,000 small 8-bit images in memory: graybmp {ours:.3f} s, Pillow {theirs:.3f} s: "
              f"{theirs / ours:.1f}x")

        images = [big] * 4
        turns = median_seconds(lambda: [graybmp.gray(d, "luminance") for d in images])

        def threaded():
            threads = [threading.Thread(target=graybmp.gray, args=(d, "luminance")) for d in images]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        together = median_seconds(threaded)
        print(f"4 x 48 MiB by luminance: 4 threads {together:.3f} s, in turn {turns:.3f} s: "
              f"{together / turns:.2f}")

        tree = os.path.join(work, "tree")
        for k in range(20):
            os.makedirs(os.path.join(tree, f"d{k}"))
        for k in range(2000):
            shutil.copy(os.path.join(work, f"s{k % 20}.bmp"), os.path.join(tree, f"d{k % 20}", f"f{k}.bmp"))
        files = sorted(os.path.join(tree, f"d{k}", n) for k in range(20)
                       for n in os.listdir(os.path.join(tree, f"d{k}")))
        out = os.path.join(work, "out")

        def batch():
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            for k in range(20):  # the tool's -d takes a flat folder: one batch a folder
                os.makedirs(os.path.join(out, f"d{k}"))
            subprocess.run([TOOL, "-d", out + "/d0"] + [f for f in files if "/d0/" in f], check=True)
            for k in range(1, 20):
                subprocess.run([TOOL, "-d", f"{out}/d{k}"] + [f for f in files if f"/d{k}/" in f],
                               check=True)

        from dask.distributed import Client, LocalCluster

        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                               dashboard_address=None)
        client = Client(cluster)

        def dask():
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            pairs, problems = dask_gray.plan([tree], out)
            assert not problems and len(pairs) == 2000
            tasks = [pairs[i:i + 100] for i in range(0, len(pairs), 100)]
            results = client.gather(client.map(dask_gray.convert_files, tasks, method="mean",
                                               compact=False, pure=False))
            assert all(reason is None for r in results for _, reason in r)

        dask()  # the workers import graybmp once
        ours, tool = median_seconds(dask), median_seconds(batch)
        client.close()
        cluster.close()
        print(f"2,000 small files in 20 folders: Dask, 2 local workers {ours:.3f} s, graybmp -d "
              f"{tool:.3f} s: {ours / tool:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
