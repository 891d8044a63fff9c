"""The main job on a sample: builds a proxy of a mesh file and writes it out.

Without arguments it makes its own sample first: an open, self-intersecting
pair of tubes (the kind of input a proxy exists for), saved as OBJ.

    python3 examples/quickstart.py [INPUT [OUTPUT]] [--quality fast|balanced|high]
"""

import argparse
import json
import pathlib

import numpy as np

import vorrel


def tube(center, axis, radius, length, segments=48, rings=24):
    """An open cylinder (no caps) as positions and triangles."""
    axis = np.asarray(axis, dtype=np.float64)
    axis /= np.linalg.norm(axis)
    helper = np.array([1.0, 0, 0]) if abs(axis[0]) < 0.9 else np.array([0, 1.0, 0])
    u = np.cross(axis, helper)
    u /= np.linalg.norm(u)
    v = np.cross(axis, u)
    angles = np.linspace(0, 2 * np.pi, segments, endpoint=False)
    heights = np.linspace(-length / 2, length / 2, rings)
    ring = np.cos(angles)[:, None] * u + np.sin(angles)[:, None] * v
    positions = (np.asarray(center) + heights[:, None, None] * axis + radius * ring[None]).reshape(-1, 3)
    triangles = []
    for r in range(rings - 1):
        for s in range(segments):
            a, b = r * segments + s, r * segments + (s + 1) % segments
            triangles += [[a, b, a + segments], [b, b + segments, a + segments]]
    return positions, np.array(triangles, dtype=np.uint32)


def make_sample(path):
    p1, t1 = tube([0, 0, 0], [0, 0, 1], 0.5, 3.0)
    p2, t2 = tube([0, 0, 0.5], [1, 0, 0.3], 0.35, 2.5)
    positions = np.vstack([p1, p2])
    triangles = np.vstack([t1, t2 + len(p1)]).astype(np.uint32)
    vorrel.save(vorrel.Mesh.from_numpy(positions, triangles), str(path))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input", nargs="?", help="mesh file to wrap (default: a generated sample)")
    parser.add_argument("output", nargs="?", help="proxy file to write (default: out/proxy.glb)")
    parser.add_argument("--quality", default="balanced")
    args = parser.parse_args()

    out_dir = pathlib.Path("out")
    out_dir.mkdir(exist_ok=True)
    source = pathlib.Path(args.input) if args.input else out_dir / "sample_tubes.obj"
    if not args.input:
        make_sample(source)
        print(f"wrote the sample input {source}")
    target = args.output or str(out_dir / "proxy.glb")

    result = vorrel.proxy_from_path(str(source), target, quality=args.quality)
    print(json.dumps(result, indent=2))


if __name__ == "__main__":
    main()
