#!/usr/bin/env python3
"""vorrel's benchmark suite: the proxy pipeline end to end, its scaling with
resolution, input size and threads, and the field's peers on the same inputs,
all in one run so that ratios do not suffer from the drift of a shared machine.

    python3 bench/suite.py [--quick] [--groups e2e,resolution,size,threads,peers,stages,io]

bench/run.sh installs the peers and builds the C++ programs first; this script
expects them under --peers-build and --bench-build. Every vorrel proxy runs in
a child process of its own (peak resident memory per run, CPU affinity for the
thread series); stage seconds come from the "  <stage>: done in X.XXs" lines
on standard error, and the remesher's iterations from the arrival times of its
lines. Tables go to standard output as Markdown.
"""
import argparse
import glob
import json
import math
import os
import pathlib
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT.parent / "shared" / "data"
SCANS = ["spot", "stanford-bunny", "fandisk", "rocker-arm", "teapot", "ogre"]
PRESETS = {"fast": (64, 3, 0), "balanced": (128, 5, 3), "high": (256, 5, 5)}
RAW = {"smooth": 0, "remesh": 0, "project": 0.0}
# Stages that run parallel loops; smoothing, remeshing and sealing are sequential.
PARALLEL_STAGES = ["sdf band", "sdf sign", "sdf far field (EDT)", "marching cubes", "project to offset surface"]
STAGE_COLUMNS = ["sdf band", "sdf sign", "sdf far field (EDT)", "marching cubes", "Taubin smooth", "remesh",
                 "project to offset surface"]
SHORT = {"sdf band": "band", "sdf sign": "sign", "sdf far field (EDT)": "far", "marching cubes": "mc",
         "Taubin smooth": "smooth", "remesh": "remesh", "project to offset surface": "project"}
STAGE_DONE = re.compile(r"^\s+(.+?): done(?: [\d.]+k? items)? in ([\d.]+)s")


# ---------------------------------------------------------------- child runs

def resident_mb():
    """This process's current resident size (its own, unlike getrusage's peak, which counts the parent's)."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def worker(spec):
    """Runs one proxy call in this (child) process and prints its figures as JSON."""
    import vorrel

    options = spec.get("options", {})
    out = {}
    if spec["mode"] == "generate":
        mesh = vorrel.load(spec["input"])
        out["rss_before_mb"] = resident_mb()
        start = time.perf_counter()
        proxy = vorrel.generate_proxy(mesh, **options)
        out["seconds"] = time.perf_counter() - start
        out["vertices"], out["faces"] = proxy.vertex_count, proxy.face_count
        if spec.get("output"):
            vorrel.save(proxy, spec["output"])
    else:
        out["rss_before_mb"] = resident_mb()
        start = time.perf_counter()
        result = vorrel.proxy_from_path(spec["input"], spec["output"], **options)
        out["seconds"] = time.perf_counter() - start
        out["vertices"], out["faces"] = result["output_vertices"], result["output_faces"]
    print(json.dumps(out), flush=True)


def run_measured(cmd, cpus=None):
    """Runs cmd; returns stdout, (arrival time, text) pieces of stderr, wall seconds and peak RSS in MB.

    The peak comes from GNU time: a child forked from this process would report
    this process's own resident size as its peak at least."""
    if cpus:
        cmd = ["taskset", "-c", cpus] + cmd
    rss_file = tempfile.NamedTemporaryFile(prefix="vorrel-rss-", delete=False)
    rss_file.close()
    cmd = ["/usr/bin/time", "-f", "%M", "-o", rss_file.name] + cmd
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    pieces, chunks = [], []

    def read_stderr():
        while True:
            data = os.read(proc.stderr.fileno(), 65536)
            if not data:
                return
            pieces.append((time.perf_counter() - start, data.decode("utf-8", "replace")))

    def read_stdout():
        chunks.append(proc.stdout.read())

    readers = [threading.Thread(target=read_stderr), threading.Thread(target=read_stdout)]
    for r in readers:
        r.start()
    for r in readers:
        r.join()
    proc.wait()
    wall = time.perf_counter() - start
    with open(rss_file.name) as f:
        peak_kb = [line for line in f.read().split("\n") if line.strip().isdigit()]
    os.unlink(rss_file.name)
    return {"stdout": b"".join(chunks).decode(), "stderr": pieces, "wall": wall,
            "peak_mb": int(peak_kb[-1]) / 1024 if peak_kb else float("nan"), "rc": proc.returncode}


def stderr_lines(pieces):
    """Stderr split into lines (progress lines end in carriage returns) with arrival times."""
    lines, pending = [], ""
    for t, text in pieces:
        pending += text
        parts = re.split(r"[\r\n]", pending)
        pending = parts.pop()
        lines.extend((t, p) for p in parts if p.strip())
    if pending.strip():
        lines.append((pieces[-1][0], pending))
    return lines


def parse_stages(pieces):
    """Stage seconds by name, plus "remesh" and its per-iteration seconds from line arrival times."""
    stages, iterations = {}, []
    last_done, remesh_start, previous = None, None, None
    for t, line in stderr_lines(pieces):
        m = STAGE_DONE.match(line)
        if m:
            name = m.group(1).strip()
            if name.startswith("project to offset surface"):
                name = "project to offset surface"
            stages[name] = stages.get(name, 0.0) + float(m.group(2))
            last_done = t
        elif line.strip().startswith("Remeshing:"):
            remesh_start = previous = last_done if last_done is not None else t
        elif remesh_start is not None and re.match(r"\s+Iter \d+:", line):
            iterations.append(t - previous)
            previous = t
        elif remesh_start is not None and line.strip().startswith("Cleanup"):
            stages["remesh"] = t - remesh_start
            remesh_start = None
    if remesh_start is not None and iterations:
        stages["remesh"] = previous - remesh_start
    return stages, iterations


def vorrel_run(mode, source, options, output=None, cpus=None):
    spec = {"mode": mode, "input": str(source), "options": options, "output": str(output) if output else None}
    r = run_measured([sys.executable, str(pathlib.Path(__file__).resolve()), "--worker", json.dumps(spec)], cpus)
    if r["rc"] != 0:
        text = "".join(p for _, p in r["stderr"])
        raise RuntimeError(f"vorrel run failed ({mode} {source} {options}): {text[-2000:]}")
    figures = json.loads(r["stdout"].strip().splitlines()[-1])
    stages, iterations = parse_stages(r["stderr"])
    figures.update(stages=stages, remesh_iterations=iterations, peak_mb=r["peak_mb"], process_wall=r["wall"])
    figures["other"] = max(figures["seconds"] - sum(stages.values()), 0.0)
    return figures


def key_values(text):
    return {k: v for k, _, v in (w.partition("=") for w in text.split()) if _}


def peer_run(cmd, cpus=None):
    r = run_measured(cmd, cpus)
    if r["rc"] != 0:
        raise RuntimeError(f"{cmd[0]} failed: {''.join(p for _, p in r['stderr'])[-1000:]}")
    kv = key_values(r["stdout"])
    kv["wall"], kv["peak_mb"] = r["wall"], r["peak_mb"]
    return kv


# ---------------------------------------------------------------- tables

def fmt(v, digits=2):
    if v is None:
        return "–"
    if isinstance(v, float):
        if math.isnan(v):
            return "–"
        if 0 < abs(v) < 0.1:
            return f"{v:.3g}"
        return f"{v:.{digits}f}"
    return str(v)


def table(title, header, rows, note=None):
    print(f"\n### {title}\n")
    if note:
        print(note + "\n")
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        print("| " + " | ".join(fmt(v) for v in row) + " |")
    sys.stdout.flush()


def stage_cells(figures):
    return [figures["stages"].get(s) for s in STAGE_COLUMNS]


def ratio(a, b):
    return a / b if a is not None and b else None


# ---------------------------------------------------------------- inputs

class Inputs:
    def __init__(self, args):
        self.args = args
        self.work = pathlib.Path(args.work)
        self.work.mkdir(parents=True, exist_ok=True)
        self.peers = pathlib.Path(args.peers_build)

    def scan(self, name):
        return DATA / "obj" / f"{name}.obj"

    def subdivided(self, steps):
        """The spot scan after `steps` Loop subdivisions (5,856 × 4^steps triangles)."""
        path = self.work / f"spot_s{steps}.obj"
        if not path.exists():
            subprocess.run([str(self.peers / "tools" / "mesh_subdivide"), str(self.scan("spot")), str(path),
                            str(steps)], check=True, capture_output=True)
        return path


def triangles_of(path):
    import vorrel

    return vorrel.load(str(path)).face_count


def grid_cells(path, voxel_res, pad=5):
    """Cells of the default distance-field grid (close 1, band 2 cells: 5 padding cells per side)."""
    import numpy as np
    import vorrel

    p = vorrel.load(str(path)).positions()
    extent = p.max(axis=0) - p.min(axis=0)
    h = extent.max() / voxel_res
    return int(np.prod([max(math.ceil(e / h), 1) + 2 * pad for e in extent]))


def structure_mb(cells):
    """Bytes the field needs at its peak: 13 per cell, plus 8 per cell for the band entries or the transform."""
    return cells * (13 + 8) / 2**20


# ---------------------------------------------------------------- groups

def group_e2e(inp, quick):
    names = ["spot", "stanford-bunny"] if quick else SCANS
    sources = [(n, inp.scan(n)) for n in names]
    sources += [(f"spot ×{4 ** s}", inp.subdivided(s)) for s in ([4] if quick else [4, 5])]
    runs = [("generate", "fast"), ("generate", "balanced")] if quick else \
        [("generate", "fast"), ("generate", "balanced"), ("generate", "high"), ("path", ".glb"),
         ("path", ".usdc")]
    rows = []
    for name, source in sources:
        tris = triangles_of(source)
        for mode, what in runs:
            if mode == "generate":
                f = vorrel_run("generate", source, {"quality": what})
                label = what
            else:
                f = vorrel_run("path", source, {"quality": "balanced"}, inp.work / f"e2e{what}")
                label = f"balanced → {what}"
            rows.append([name, tris, label, *stage_cells(f), f["other"], f["seconds"], f["peak_mb"],
                         f["vertices"], f["faces"]])
    table("End to end", ["input", "triangles", "run", *[SHORT[s] for s in STAGE_COLUMNS], "other", "wall s",
                         "peak MB", "out V", "out F"], rows,
          "Seconds per stage from the stage lines; `other` is wall minus the stages (sealing, conversion, and for "
          "files: read, attribute transfer, write). Peak MB is the whole child process (Python, NumPy, input).")


def group_resolution(inp, quick):
    source = inp.scan("stanford-bunny")
    resolutions = [64, 128, 256] if quick else [64, 128, 256, 512]
    rows, previous = [], None
    base = vorrel_run("generate", source, {"voxel_res": 8, **RAW})["rss_before_mb"]
    for r in resolutions:
        f = vorrel_run("generate", source, {"voxel_res": r, "smooth": 5, "remesh": 3})
        raw = vorrel_run("generate", source, {"voxel_res": r, **RAW})
        cells = grid_cells(source, r)
        need = structure_mb(cells)
        rows.append([r, cells, *stage_cells(f), f["seconds"], ratio(f["seconds"], previous), f["peak_mb"],
                     raw["peak_mb"], need, ratio(raw["peak_mb"] - base, need), f["faces"]])
        previous = f["seconds"]
    table("Scaling with resolution (stanford-bunny, balanced settings at each voxel_res)",
          ["voxel_res", "cells", *[SHORT[s] for s in STAGE_COLUMNS], "wall s", "× previous", "peak MB",
           "raw peak MB", "field MB (21 B/cell)", "(raw peak − base) / field", "out F"], rows,
          f"`base` = {base:.0f} MB, the child's resident size after loading the input (interpreter, NumPy, module, "
          "input). The field needs 13 B/cell plus 8 B/cell for the band entries while the band is built or for "
          "the transform while it runs; target: within 1.2× of that. `raw` is the same call with smooth 0, remesh 0, "
          "project 0, whose peak holds the field and the marching-cubes mesh only.")


def vdb(inp, source, r, mode="levelset", threads=0, cpus=None):
    out = inp.work / f"vdb_{mode}_{pathlib.Path(source).stem}_{r}.obj"
    return peer_run([str(inp.peers / "proxy" / "vdb_proxy"), str(source), str(out), str(r), "--mode", mode,
                     "--threads", str(threads)], cpus), out


def group_size(inp, quick):
    steps = [2, 3, 4] if quick else [2, 3, 4, 5]
    r = 256
    rows = []
    for s in steps:
        source = inp.subdivided(s)
        tris = triangles_of(source)
        f = vorrel_run("generate", source, {"voxel_res": r, **RAW})
        v, _ = vdb(inp, source, r)
        field = sum(f["stages"].get(k, 0.0) for k in ("sdf band", "sdf sign", "sdf far field (EDT)"))
        rows.append([tris, *[f["stages"].get(k) for k in ("sdf band", "sdf sign", "sdf far field (EDT)",
                                                           "marching cubes")],
                     f["seconds"], f["peak_mb"], float(v["volume_s"]), float(v["compute_s"]), v["peak_mb"],
                     ratio(field, float(v["volume_s"])), ratio(f["seconds"], float(v["compute_s"]))])
    table(f"Scaling with input size (spot subdivided, voxel_res {r}, smooth 0 remesh 0 project 0) beside OpenVDB",
          ["triangles", "band", "sign", "far", "mc", "vorrel s", "vorrel MB", "vdb level set s", "vdb total s",
           "vdb MB", "field / vdb level set", "vorrel / vdb total"], rows,
          "Targets: band + sign + far field ≤ 0.5× OpenVDB's meshToLevelSet; the whole conversion ≤ 1× OpenVDB's "
          "meshToLevelSet + volumeToMesh (both without file I/O).")


def group_threads(inp, quick):
    cases = [("stanford-bunny 256", inp.scan("stanford-bunny"), {"voxel_res": 256, "smooth": 5, "remesh": 3})]
    cases.append((f"spot ×{4 ** 4} 256", inp.subdivided(4), {"voxel_res": 256, **RAW, "project": 2.0}))
    rows = []
    for name, source, options in cases:
        one = vorrel_run("generate", source, options, cpus="0")
        two = vorrel_run("generate", source, options, cpus="0,1")
        for stage in STAGE_COLUMNS + ["total"]:
            a = one["seconds"] if stage == "total" else one["stages"].get(stage)
            b = two["seconds"] if stage == "total" else two["stages"].get(stage)
            if a is None:
                continue
            kind = "parallel" if stage in PARALLEL_STAGES else ("mixed" if stage == "total" else "sequential")
            rows.append([name, stage, kind, a, b, ratio(a, b)])
        v1, _ = vdb(inp, source, 256, cpus="0")
        v2, _ = vdb(inp, source, 256, cpus="0,1")
        rows.append([name, "OpenVDB level set + mesh", "parallel", float(v1["compute_s"]), float(v2["compute_s"]),
                     ratio(float(v1["compute_s"]), float(v2["compute_s"]))])
    table("One thread against two (taskset -c 0 vs -c 0,1)", ["input", "stage", "kind", "1 thread s",
                                                              "2 threads s", "speedup"], rows,
          "Target: every parallel stage ≥ 1.8× with two threads. Stage times below 0.05 s are too coarse to judge.")


def quality(inp, source, proxy, offset):
    cmd = [str(inp.peers / "quality" / "proxy_quality"), str(source), str(proxy), "--offset", repr(offset)]
    out = subprocess.run(cmd, capture_output=True, text=True, timeout=1800)
    try:
        return json.loads(out.stdout)
    except json.JSONDecodeError:
        return {}


def longest_extent(source):
    import vorrel

    p = vorrel.load(str(source)).positions()
    return float((p.max(axis=0) - p.min(axis=0)).max())


def group_peers(inp, quick):
    names = ["spot", "stanford-bunny"] if quick else SCANS
    resolutions = [128] if quick else [128, 256]
    rows = []
    for name in names:
        source = inp.scan(name)
        for r in resolutions:
            h = longest_extent(source) / r
            entries = []
            raw_out = inp.work / f"vorrel_raw_{name}_{r}.obj"
            f = vorrel_run("path", source, {"voxel_res": r, **RAW, "transfer_normals": False}, raw_out)
            entries.append(("vorrel raw", f["seconds"], f["seconds"] - f["other"], f["peak_mb"], raw_out, h))
            bal_out = inp.work / f"vorrel_bal_{name}_{r}.obj"
            f = vorrel_run("path", source, {"voxel_res": r, "smooth": 5, "remesh": 3, "transfer_normals": False},
                           bal_out)
            entries.append(("vorrel balanced", f["seconds"], f["seconds"] - f["other"], f["peak_mb"], bal_out,
                            0.1 * h))
            for mode in ("levelset", "flood"):
                v, out = vdb(inp, source, r, mode)
                entries.append((f"OpenVDB {mode}", v["wall"], float(v["compute_s"]), v["peak_mb"], out, h))
            if not quick and r == 128:
                out = inp.work / f"aw_{name}_{r}.obj"
                v = peer_run([str(inp.peers / "proxy" / "aw_proxy"), str(source), str(out), str(r),
                              "--offset-voxels", "1"])
                entries.append(("CGAL alpha wrap (offset 1 voxel)", v["wall"], float(v["compute_s"]),
                                v["peak_mb"], out, h))
            vdb_compute = entries[2][2]
            for tool, wall, compute, peak, out, offset in entries:
                q = quality(inp, source, out, offset)
                dist = q.get("proxy_to_input", q.get("distance_proxy_to_input", {}))
                rows.append([name, r, tool, wall, compute, ratio(compute, vdb_compute), peak,
                             q.get("proxy_faces"), q.get("closed"), q.get("nonmanifold_edges"),
                             q.get("self_intersects"), q.get("input_vertices_inside_fraction"),
                             offset_error_cells(q, h)])
    table("The proxy job beside OpenVDB and CGAL (same voxel size, scored by proxy_quality)",
          ["input", "R", "program", "wall s", "compute s", "compute / vdb level set", "peak MB", "faces", "closed",
           "non-manifold edges", "self-intersects", "input inside", "mean |offset error| (cells)"], rows,
          "wall = whole process including OBJ read and write; compute = vorrel's proxy stages (wall minus file "
          "read, transfer and write) or the peer's own mesh → proxy time. vorrel raw = smooth 0, remesh 0, "
          "project 0 (iso one cell, like OpenVDB's at +1 voxel); balanced = smooth 5, remesh 3, final projection "
          "to 0.1 cell. Targets: raw ≤ 1×, balanced ≤ 1.5× OpenVDB level set.")


def offset_error_cells(q, h):
    e = q.get("offset_abs_error")
    if isinstance(e, dict):
        e = e.get("mean")
    return e / h if isinstance(e, (int, float)) else None


def group_stages(inp, quick):
    """Marching cubes, the distance transform, smoothing and remeshing beside library peers."""
    import numpy as np

    cases = [("stanford-bunny", inp.scan("stanford-bunny"), 256)]
    if not quick:
        cases.append((f"spot ×{4 ** 4}", inp.subdivided(4), 256))
    rows = []
    for name, source, r in cases:
        with tempfile.TemporaryDirectory(dir=inp.work) as tmp:
            out = subprocess.run([str(pathlib.Path(inp.args.bench_build) / "volume_bench"), "--dump", tmp,
                                  str(source), str(r)], capture_output=True, text=True, check=True).stdout
            kv = key_values(out)
            shape = (int(kv["nz"]), int(kv["ny"]), int(kv["nx"]))
            field = np.fromfile(f"{tmp}/field.f32", dtype=np.float32).reshape(shape)
            seeds = np.fromfile(f"{tmp}/seeds.u8", dtype=np.uint8).reshape(shape)
        rows.append(stage_row_mc(name, r, field, float(kv["iso"]), float(kv["mc_s"]), kv))
        rows.append(stage_row_edt(name, r, seeds, float(kv["far_field_s"])))
        del field, seeds
        rows.extend(stage_rows_refine(inp, name, source, r))
    table("Stages beside library peers (same field / same proxy, same run)",
          ["input", "R", "stage", "vorrel s", "peer", "peer s", "peer / vorrel", "note"], rows,
          "Targets: marching cubes ≥ 3× scikit-image, distance transform ≥ 3× SciPy, remeshing per iteration at "
          "least as fast as pymeshlab (peer / vorrel ≥ 1). Peers are single-threaded; vorrel uses both cores.")


def stage_row_mc(name, r, field, iso, vorrel_s, kv):
    from skimage.measure import marching_cubes

    start = time.perf_counter()
    verts, faces, _, _ = marching_cubes(field, level=iso / float(kv["cell_size"]) * float(kv["cell_size"]))
    peer = time.perf_counter() - start
    return [name, r, "marching cubes", vorrel_s, "scikit-image marching_cubes", peer, ratio(peer, vorrel_s),
            f"{field.size / 1e6:.1f} M cells; vorrel {kv['mc_triangles']} / skimage {len(faces)} triangles"]


def stage_row_edt(name, r, seeds, vorrel_s):
    from scipy.ndimage import distance_transform_edt

    start = time.perf_counter()
    distance_transform_edt(seeds == 0)
    peer = time.perf_counter() - start
    return [name, r, "distance transform (far field)", vorrel_s, "SciPy distance_transform_edt", peer,
            ratio(peer, vorrel_s), f"{int(seeds.sum())} seed cells; vorrel seeds with band distances"]


def stage_rows_refine(inp, name, source, r):
    import pymeshlab

    mc_out = inp.work / f"stage_mc_{r}.obj"
    smoothed_out = inp.work / f"stage_smoothed_{r}.obj"
    vorrel_run("generate", source, {"voxel_res": r, **RAW}, mc_out)
    vorrel_run("generate", source, {"voxel_res": r, "smooth": 5, "remesh": 0, "project": 0.0}, smoothed_out)
    full = vorrel_run("generate", source, {"voxel_res": r, "smooth": 5, "remesh": 3})
    h = longest_extent(source) / r
    rows = []
    taubin = full["stages"].get("Taubin smooth")
    ms = pymeshlab.MeshSet()
    ms.load_new_mesh(str(mc_out))
    start = time.perf_counter()
    ms.apply_coord_taubin_smoothing(lambda_=0.5, mu=-0.53, stepsmoothnum=5)
    peer = (time.perf_counter() - start) / 5
    rows.append([name, r, "Taubin smoothing, per iteration", taubin / 5 if taubin else None,
                 "pymeshlab apply_coord_taubin_smoothing", peer, ratio(peer, taubin / 5 if taubin else None),
                 f"marching-cubes proxy of {full['faces']} → {ms.current_mesh().face_number()} faces"])
    iterations = full["remesh_iterations"]
    per_iter = sum(iterations) / len(iterations) if iterations else None
    ms = pymeshlab.MeshSet()
    ms.load_new_mesh(str(smoothed_out))
    faces_in = ms.current_mesh().face_number()
    start = time.perf_counter()
    ms.meshing_isotropic_explicit_remeshing(iterations=3, targetlen=pymeshlab.PureValue(h))
    peer = (time.perf_counter() - start) / 3
    rows.append([name, r, "isotropic remeshing, per iteration", per_iter,
                 "pymeshlab meshing_isotropic_explicit_remeshing", peer, ratio(peer, per_iter),
                 f"target edge h; {faces_in} faces in; vorrel {full['faces']} / pymeshlab "
                 f"{ms.current_mesh().face_number()} out; vorrel pulls back onto the field, pymeshlab reprojects"])
    return rows


def newer_pythons():
    """Python 3.12+ interpreters: on PATH, or installed by pyenv (whose shims run only the selected version)."""
    found = [shutil.which(name) for name in ("python3.13", "python3.12")]
    found += sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.1[2-9]*/bin/python3")), reverse=True)
    return [p for p in found if p]


def rapidobj_seconds(path, runs):
    """Best-of-runs rapidobj parse time; rapidobj needs Python 3.12 or later, so it may run in another interpreter."""
    code = ("import rapidobj,sys,time\nbest=1e9\n"
            f"for _ in range({runs}):\n t=time.perf_counter(); r=rapidobj.parse_obj(sys.argv[1]); "
            "best=min(best,time.perf_counter()-t)\nprint(best)")
    for python in [sys.executable, *newer_pythons()]:
        out = subprocess.run([python, "-c", code, str(path)], capture_output=True, text=True)
        if out.returncode == 0:
            return float(out.stdout.strip())
    return None


def group_io(inp, quick):
    import numpy as np
    import trimesh
    import vorrel

    sys.path.insert(0, str(ROOT / "bench"))
    import usd_bench
    from io_bench import RUNS as runs
    from io_bench import best_seconds
    objs = [inp.scan("stanford-bunny"), inp.scan("ogre"), inp.subdivided(4)]
    if not quick:
        objs.append(inp.subdivided(5))
    rows = []
    for path in objs:
        mb = os.path.getsize(path) / 1e6
        ours = best_seconds(lambda: vorrel.load(str(path)))
        rapid = rapidobj_seconds(path, runs)
        tm = best_seconds(lambda: trimesh.load(str(path), process=False, force="mesh"))
        rows.append([f"{path.name} ({mb:.0f} MB)", "OBJ read", ours, "rapidobj", rapid, ratio(rapid, ours)])
        rows.append([f"{path.name} ({mb:.0f} MB)", "OBJ read", ours, "trimesh", tm, ratio(tm, ours)])
    big = vorrel.load(str(inp.subdivided(4)))
    glb = inp.work / "io_bench.glb"
    vorrel.save(big, str(glb))
    ours = best_seconds(lambda: vorrel.load(str(glb)))
    tm = best_seconds(lambda: trimesh.load(str(glb), process=False, force="mesh"))
    rows.append([f"{glb.name} ({os.path.getsize(glb) / 1e6:.0f} MB)", "GLB read", ours, "trimesh", tm,
                 ratio(tm, ours)])
    positions, indices = usd_bench.wavy_grid(707)
    mesh = vorrel.Mesh.from_numpy(positions.astype(np.float64), indices.astype(np.uint32))
    for extension in ("usdc", "usda"):
        ours_path, pxr_path = inp.work / f"io_vorrel.{extension}", inp.work / f"io_pxr.{extension}"
        ours_w = best_seconds(lambda: vorrel.save(mesh, str(ours_path)))
        ours_r = best_seconds(lambda: vorrel.load(str(ours_path)))

        def pxr_write():
            if pxr_path.exists():
                pxr_path.unlink()
            usd_bench.pxr_write(str(pxr_path), positions, indices)

        pxr_w = best_seconds(pxr_write)
        pxr_r = best_seconds(lambda: usd_bench.pxr_read(str(pxr_path)))
        label = f"grid of {len(indices)} triangles"
        rows.append([label, f"{extension.upper()} write", ours_w, "pxr", pxr_w, ratio(pxr_w, ours_w)])
        rows.append([label, f"{extension.upper()} read", ours_r, "pxr", pxr_r, ratio(pxr_r, ours_r)])
    table("File I/O beside rapidobj, trimesh and pxr (Python calls, best of 3)",
          ["file", "operation", "vorrel s", "peer", "peer s", "peer / vorrel"], rows,
          "vorrel = `vorrel.load` / `vorrel.save` (arrays included). Targets: OBJ read ≥ 1× rapidobj; USDC write "
          "and read ≥ 2× pxr.")


GROUPS = {"e2e": group_e2e, "resolution": group_resolution, "size": group_size, "threads": group_threads,
          "peers": group_peers, "stages": group_stages, "io": group_io}


def machine():
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")),
               platform.processor())
    mem = next((int(line.split()[1]) for line in open("/proc/meminfo") if line.startswith("MemTotal")), 0)
    return f"{os.cpu_count()} CPUs ({cpu}), {mem / 2**20:.1f} GiB memory, Python {platform.python_version()}"


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--worker":
        worker(json.loads(sys.argv[2]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a smoke run of a few minutes")
    parser.add_argument("--groups", default=",".join(GROUPS))
    parser.add_argument("--peers-build", default=os.environ.get("PEERS_BUILD", str(ROOT / "build" / "peers")))
    parser.add_argument("--bench-build", default=str(ROOT / "build" / "bench"))
    parser.add_argument("--work", default=str(ROOT / "build" / "bench-work"))
    args = parser.parse_args()
    inp = Inputs(args)
    import vorrel

    print(f"# vorrel benchmark suite{' (quick)' if args.quick else ''}\n")
    print(f"- date: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}")
    print(f"- machine: {machine()}")
    print(f"- vorrel {vorrel.__version__} from {vorrel.__file__}")
    for name in args.groups.split(","):
        start = time.perf_counter()
        GROUPS[name](inp, args.quick)
        print(f"\n_{name}: {time.perf_counter() - start:.0f} s_")
    return 0


if __name__ == "__main__":
    sys.exit(main())
