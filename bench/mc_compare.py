"""Marching-cubes throughput of scikit-image on the field volume_bench uses,
next to ours: python3 bench/mc_compare.py build/bench/volume_bench"""
import re
import subprocess
import sys
import time

import numpy as np
from skimage.measure import marching_cubes


def distance_like_field(n):
    c, r = n / 2.0, n * 0.35
    z, y, x = np.meshgrid(np.arange(n), np.arange(n), np.arange(n), indexing="ij")
    dx, dy, dz = x - c, y - c, z - c
    wave = 0.05 * r * np.sin(dx * 0.2) * np.cos(dy * 0.15)
    return (np.sqrt(dx * dx + dy * dy + dz * dz) - r + wave).astype(np.float32)


def ours(bench):
    out = subprocess.run([bench], capture_output=True, text=True).stdout
    return {int(m[0]): float(m[1]) for m in re.findall(r"marching cubes (\d+)\^3: [\d.]+ s, ([\d.]+) M cells/s", out)}


def main():
    mine = ours(sys.argv[1]) if len(sys.argv) > 1 else {}
    for n in (256, 512):
        field = distance_like_field(n)
        start = time.perf_counter()
        marching_cubes(field, level=0.0)
        seconds = time.perf_counter() - start
        rate = (n - 1) ** 3 / seconds / 1e6
        line = f"scikit-image {n}^3: {seconds:.3f} s, {rate:.1f} M cells/s"
        if n in mine:
            line += f"; ours {mine[n]:.1f} M cells/s, ratio {mine[n] / rate:.2f}"
        print(line)


if __name__ == "__main__":
    main()
