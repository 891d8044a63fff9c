#!/usr/bin/env python3
"""OBJ read throughput of vorrel's reader beside the PyPI packages rapidobj and
trimesh, on the sample scans and a generated OBJ of about 2 million triangles.

    python3 bench/io_bench.py [--bench build/bench/io_bench] [FILE ...]

The C++ program io_bench (configure with -DVORREL_BUILD_BENCH=ON) measures
vorrel; this script times the peers on the same files in the same run (best of
three) and prints MB/s and the ratio vorrel / peer. Peers that are not
installed are reported as such.
"""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
RUNS = 3


def best_seconds(fn):
    best = float("inf")
    for _ in range(RUNS):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def peer_readers():
    readers = {}
    try:
        import rapidobj

        readers["rapidobj"] = rapidobj.parse_obj
    except ImportError:
        readers["rapidobj"] = None
    try:
        import trimesh

        readers["trimesh"] = lambda path: trimesh.load(path, process=False, force="mesh", skip_materials=True)
    except ImportError:
        readers["trimesh"] = None
    return readers


def vorrel_figures(bench, files):
    out = subprocess.run([str(bench), *files], check=True, capture_output=True, text=True).stdout
    figures = {}
    for line in out.splitlines():
        fields = line.split("\t")
        if len(fields) == 5:
            figures[(fields[0], fields[1])] = float(fields[4])
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bench", default=str(ROOT / "build" / "bench" / "io_bench"))
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()

    files = args.files
    if not files:
        data = ROOT.parent / "shared" / "data" / "obj"
        files = sorted(str(p) for p in data.glob("*.obj"))
        big = pathlib.Path(tempfile.gettempdir()) / "vorrel-bench-grid-2m.obj"
        if not big.exists():
            subprocess.run([args.bench, "--generate", str(big)], check=True)
        files.append(str(big))

    ours = vorrel_figures(args.bench, files)
    peers = peer_readers()
    print(f"{'file':32} {'MB':>8} {'vorrel read':>12} {'vorrel write':>13}" +
          "".join(f" {name + ' read':>14} {'ratio':>7}" for name in peers))
    for path in files:
        size_mb = os.path.getsize(path) / 1e6
        read = ours.get(("read", path), float("nan"))
        write = ours.get(("write", path), float("nan"))
        row = f"{pathlib.Path(path).name:32} {size_mb:8.1f} {read:9.1f} MB/s {write:10.1f} MB/s"
        for name, reader in peers.items():
            if reader is None:
                row += f" {'not installed':>14} {'':>7}"
                continue
            try:
                rate = size_mb / best_seconds(lambda: reader(path))
            except Exception as error:  # a peer failing on a file is reported, not fatal
                row += f" {'failed':>14} {type(error).__name__:>7}"
                continue
            row += f" {rate:9.1f} MB/s {read / rate:6.2f}x"
        print(row)
    return 0


if __name__ == "__main__":
    sys.exit(main())
