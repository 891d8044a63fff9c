"""Prints a SHA-256 of the proxy for a fixed set of calls, one line each.

A speed-up must not change any output: run this before and after a change
(and under `taskset -c 0` against both processors) and compare the lines.

    PYTHONPATH=build/mod python3 tools/output_hashes.py [--quick]
"""

import argparse
import hashlib
import os
import sys

import numpy as np
import vorrel

DATA = os.path.join(os.path.dirname(__file__), "..", "..", "shared", "data", "obj")

CALLS = [
    ("stanford-bunny.obj", dict(voxel_res=96)),
    ("stanford-bunny.obj", dict(quality="balanced")),
    ("stanford-bunny.obj", dict(voxel_res=96, remesh=3, adaptive_remesh=True)),
    ("stanford-bunny.obj", dict(voxel_res=96, use_sdf=False, remesh=2)),
    ("stanford-bunny.obj", dict(target_faces=5000)),
    ("spot.obj", dict(quality="fast")),
    ("spot.obj", dict(voxel_res=80, bilateral=True, offset=1.0, close=2, remesh=2)),
    ("teapot.obj", dict(quality="balanced")),
    ("fandisk.obj", dict(voxel_res=100, smooth=0, remesh=0, project=0)),
    ("ogre.obj", dict(voxel_res=128, remesh=2)),
    ("rocker-arm.obj", dict(quality="high")),
]
QUICK = {0, 1, 2, 3, 6}


def digest(mesh):
    h = hashlib.sha256()
    h.update(np.ascontiguousarray(mesh.positions(), dtype="<f8").tobytes())
    h.update(np.ascontiguousarray(mesh.indices(), dtype="<u4").tobytes())
    return h.hexdigest()[:16]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="five calls instead of all")
    args = parser.parse_args()
    devnull = os.open(os.devnull, os.O_WRONLY)
    for index, (name, options) in enumerate(CALLS):
        if args.quick and index not in QUICK:
            continue
        mesh = vorrel.load(os.path.join(DATA, name))
        saved = os.dup(2)
        os.dup2(devnull, 2)  # the stage lines would drown the hashes
        try:
            proxy = vorrel.generate_proxy(mesh, **options)
        finally:
            os.dup2(saved, 2)
            os.close(saved)
        print(f"{digest(proxy)} {proxy.face_count:8d} {name} {options}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
