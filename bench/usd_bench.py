"""USD write/read speed of vorrel beside pxr on the same ~1M-triangle mesh.

    python3 bench/usd_bench.py [path/to/usd_bench]

Runs the C++ program usd_bench (built with -DVORREL_BUILD_BENCH=ON; default
build/bench/usd_bench) for vorrel's figures, then times pxr writing and reading
the same mesh as .usdc and .usda.
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


def main():
    binary = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "bench" / "usd_bench"
    with tempfile.TemporaryDirectory() as tmp:
        if binary.exists():
            print(subprocess.run([str(binary), tmp], check=True, capture_output=True, text=True).stdout, end="")
        else:
            print(f"({binary} not built; vorrel figures skipped)")
        positions, indices = wavy_grid(707)
        for extension in ("usdc", "usda"):
            path = f"{tmp}/pxr_bench.{extension}"
            start = time.perf_counter()
            pxr_write(path, positions, indices)
            write_s = time.perf_counter() - start
            start = time.perf_counter()
            _, read_indices = pxr_read(path)
            read_s = time.perf_counter() - start
            assert len(read_indices) == indices.size
            print(f"pxr {extension}: write {write_s:.3f} s, read {read_s:.3f} s")


if __name__ == "__main__":
    main()
