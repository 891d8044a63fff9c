"""USD write/read speed of vorrel beside pxr on the same ~1M-triangle mesh.

    python3 bench/usd_bench.py [path/to/usd_bench [repeats]]

Runs the C++ program usd_bench (built with -DVORREL_BUILD_BENCH=ON; default
build/bench/usd_bench) for vorrel's figures, then times pxr writing and reading
the same mesh as .usdc and .usda. Both print the fastest of `repeats` rounds
(default 7) and, in brackets, the first round of the process.

What the read figures cover differs: pxr opens the stage and fetches points and
faceVertexIndices as Vt arrays (float32 points; an uncompressed array can be
served from the file mapping without a copy), viewed by NumPy without a copy.
vorrel builds a whole mesh: float64 positions and triangles checked against
the point count, after checking that every face has three corners.
"""
import pathlib
import subprocess
import sys
import tempfile
import time

import numpy as np
from pxr import Sdf, Usd, UsdGeom, Vt

ROOT = pathlib.Path(__file__).resolve().parents[1]


def wavy_grid(n):
    # Same mesh as bench/usd_bench.cpp.
    i, j = np.meshgrid(np.arange(n + 1), np.arange(n + 1), indexing="ij")
    x, y = i / n, j / n
    positions = np.stack([x, y, 0.05 * np.sin(20 * x) * np.cos(17 * y)], axis=-1).reshape(-1, 3)
    a = (np.arange(n)[:, None] * (n + 1) + np.arange(n)[None, :]).ravel()
    b, c = a + 1, a + n + 1
    d = c + 1
    indices = np.stack([np.stack([a, c, b], 1), np.stack([b, c, d], 1)], 1).reshape(-1, 3)
    return positions, indices.astype(np.int32)


def pxr_write(path, positions, indices):
    layer = Sdf.Layer.CreateNew(path)
    stage = Usd.Stage.Open(layer)
    mesh = UsdGeom.Mesh.Define(stage, "/proxy")
    mesh.CreatePointsAttr(Vt.Vec3fArray.FromNumpy(positions.astype(np.float32)))
    mesh.CreateFaceVertexCountsAttr(Vt.IntArray.FromNumpy(np.full(len(indices), 3, dtype=np.int32)))
    mesh.CreateFaceVertexIndicesAttr(Vt.IntArray.FromNumpy(indices.ravel()))
    layer.Save()


def pxr_read(path):
    stage = Usd.Stage.Open(path)
    mesh = UsdGeom.Mesh(stage.GetPrimAtPath("/proxy"))
    points = np.asarray(mesh.GetPointsAttr().Get())
    indices = np.asarray(mesh.GetFaceVertexIndicesAttr().Get())
    return points, indices


def seconds(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def main():
    binary = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "bench" / "usd_bench"
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    with tempfile.TemporaryDirectory() as tmp:
        if binary.exists():
            run = subprocess.run([str(binary), tmp, str(repeats)], check=True, capture_output=True, text=True)
            print(run.stdout, end="")
        else:
            print(f"({binary} not built; vorrel figures skipped)")
        positions, indices = wavy_grid(707)
        for extension in ("usdc", "usda"):
            path = f"{tmp}/pxr_bench.{extension}"
            write_s, read_s = [], []
            for _ in range(repeats):
                write_s.append(seconds(lambda: pxr_write(path, positions, indices))[0])
                elapsed, (_, read_indices) = seconds(lambda: pxr_read(path))
                read_s.append(elapsed)
                assert len(read_indices) == indices.size
            print(f"pxr {extension}: write {min(write_s):.4f} s (first {write_s[0]:.4f}), "
                  f"read {min(read_s):.4f} s (first {read_s[0]:.4f})")


if __name__ == "__main__":
    main()
