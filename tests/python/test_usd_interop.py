"""USD files written by vorrel open in pxr with the same content, and crate
files written by pxr load through vorrel."""
import numpy as np
import pytest

pxr = pytest.importorskip("pxr")
vorrel = pytest.importorskip("vorrel")
if not (hasattr(vorrel, "save") and hasattr(vorrel, "load")):
    pytest.skip("vorrel.save / vorrel.load not available", allow_module_level=True)

import importlib.util  # noqa: E402
import pathlib  # noqa: E402

from pxr import Sdf, Usd, UsdGeom  # noqa: E402

# pxr's own crate writer, shared with the fixture generator.
_spec = importlib.util.spec_from_file_location(
    "make_fixtures", pathlib.Path(__file__).resolve().parents[1] / "data" / "usd" / "make_fixtures.py"
)
_fixtures = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_fixtures)
write_mesh = _fixtures.write_mesh


def strip_mesh(triangles):
    positions = np.array([[0.1 * i, i % 2, 1.0 / 3.0] for i in range(triangles + 2)], dtype=np.float64)
    indices = np.array(
        [[i, i + 1, i + 2] if i % 2 == 0 else [i, i + 2, i + 1] for i in range(triangles)], dtype=np.uint32
    ).reshape(-1, 3)
    return vorrel.Mesh.from_numpy(positions, indices), positions, indices


@pytest.mark.parametrize("extension", ["usda", "usdc", "usd"])
@pytest.mark.parametrize("triangles", [1, 5, 6, 300])
def test_written_files_open_in_pxr(tmp_path, extension, triangles):
    mesh, positions, indices = strip_mesh(triangles)
    path = str(tmp_path / f"proxy.{extension}")
    vorrel.save(mesh, path)

    stage = Usd.Stage.Open(path)
    assert stage.GetDefaultPrim().GetPath() == Sdf.Path("/proxy")
    assert UsdGeom.GetStageUpAxis(stage) == "Y"
    assert UsdGeom.GetStageMetersPerUnit(stage) == 1.0
    usd_mesh = UsdGeom.Mesh(stage.GetPrimAtPath("/proxy"))
    points = np.array(usd_mesh.GetPointsAttr().Get(), dtype=np.float32)
    if extension == "usda":
        np.testing.assert_allclose(points, positions, atol=5e-7)
    else:
        np.testing.assert_array_equal(points, positions.astype(np.float32))
    assert list(usd_mesh.GetFaceVertexCountsAttr().Get()) == [3] * triangles
    assert list(usd_mesh.GetFaceVertexIndicesAttr().Get()) == indices.ravel().tolist()
    extent = np.array(usd_mesh.GetExtentAttr().Get(), dtype=np.float32)
    np.testing.assert_allclose(extent, [positions.min(axis=0), positions.max(axis=0)], atol=5e-7)
    assert usd_mesh.GetPurposeAttr().Get() == "proxy"
    assert usd_mesh.GetSubdivisionSchemeAttr().Get() == "none"
    assert usd_mesh.GetPurposeAttr().GetVariability() == Sdf.VariabilityUniform


def test_pxr_crate_files_load(tmp_path):
    square = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (2, 0, 0)]
    path = tmp_path / "mixed.usdc"
    write_mesh(str(path), square, [4, 3], [0, 1, 2, 3, 1, 4, 2])
    loaded = vorrel.load(str(path))
    assert loaded.indices().tolist() == [[0, 1, 2], [0, 2, 3], [1, 4, 2]]
    np.testing.assert_array_equal(loaded.positions(), np.array(square, dtype=np.float64))

    path = tmp_path / "left.usdc"
    write_mesh(str(path), square[:3], [3], [0, 1, 2], "leftHanded")
    assert vorrel.load(str(path)).indices().tolist() == [[0, 2, 1]]

    # Enough face indices for pxr to store them with the integer coding.
    _, positions, indices = strip_mesh(12)
    path = tmp_path / "coded.usdc"
    write_mesh(str(path), positions.tolist(), [3] * 12, indices.ravel().tolist())
    assert vorrel.load(str(path)).indices().tolist() == indices.tolist()
