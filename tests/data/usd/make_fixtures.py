"""Writes the crate fixtures read by tests/cpp/usdc_test.cpp, using pxr's own
crate writer at its default version. Run from this directory:
    python3 make_fixtures.py
"""
from pxr import Sdf, Usd, UsdGeom


def write_mesh(path, points, counts, indices, orientation=None):
    layer = Sdf.Layer.CreateNew(path)
    stage = Usd.Stage.Open(layer)
    mesh = UsdGeom.Mesh.Define(stage, "/World/mesh")
    mesh.CreatePointsAttr(points)
    mesh.CreateFaceVertexCountsAttr(counts)
    mesh.CreateFaceVertexIndicesAttr(indices)
    if orientation:
        mesh.CreateOrientationAttr(orientation)
    layer.Save()


def main():
    # Two quads and a triangle: points on a 3 x 2 grid plus one apex.
    write_mesh(
        "quads_and_triangle.usdc",
        [(0, 0, 0), (1, 0, 0), (2, 0, 0), (0, 1, 0), (1, 1, 0), (2, 1, 0), (1, 2, 0)],
        [4, 4, 3],
        [0, 1, 4, 3, 1, 2, 5, 4, 3, 4, 6],
    )

    # One triangle in left-handed orientation.
    write_mesh("left_handed.usdc", [(0, 0, 0), (1, 0, 0), (0, 1, 0)], [3], [0, 1, 2], "leftHanded")

    # A strip of 8 triangles: 24 face indices, enough for the integer coding.
    strip_points = [(i // 2, i % 2, 0) for i in range(10)]
    strip_indices = []
    for i in range(8):
        strip_indices += [i, i + 1, i + 2] if i % 2 == 0 else [i, i + 2, i + 1]
    write_mesh("strip.usdc", strip_points, [3] * 8, strip_indices)


if __name__ == "__main__":
    main()
