import inspect
import pathlib

import numpy as np
import pytest

import vorrel

from conftest import SHARED_DATA

FORMATS = ["obj", "glb", "gltf", "usda", "usdc", "usd"]


@pytest.fixture
def cube(unit_cube_arrays):
    return vorrel.Mesh.from_numpy(*unit_cube_arrays)


@pytest.mark.parametrize("extension", FORMATS)
def test_save_load_round_trip(tmp_path, cube, extension):
    path = str(tmp_path / f"cube.{extension}")
    assert vorrel.save(cube, path) is None
    loaded = vorrel.load(path)
    # The same triangles corner by corner (OBJ renumbers vertices by first use).
    np.testing.assert_allclose(loaded.positions()[loaded.indices()], cube.positions()[cube.indices()], atol=1e-6)


@pytest.mark.parametrize("extension", FORMATS)
def test_empty_mesh_round_trip(tmp_path, extension):
    empty = vorrel.Mesh.from_numpy(np.zeros((0, 3)), np.zeros((0, 3), np.uint32))
    path = str(tmp_path / f"empty.{extension}")
    vorrel.save(empty, path)
    if extension in ("glb", "gltf"):
        # A glTF without vertices holds no triangle mesh.
        with pytest.raises(ValueError, match="^OBJ parse error: glTF"):
            vorrel.load(path)
    else:
        if extension == "obj":
            pytest.skip("an OBJ without vertices is read as a file without models")
        assert vorrel.load(path).face_count == 0


def test_binary_containers_by_extension(tmp_path, cube):
    vorrel.save(cube, str(tmp_path / "a.gltf"))
    vorrel.save(cube, str(tmp_path / "a.usd"))
    assert (tmp_path / "a.gltf").read_bytes()[:4] == b"glTF"
    assert (tmp_path / "a.usd").read_bytes()[:8] == b"PXR-USDC"


@pytest.mark.parametrize(
    "name, text",
    [
        ("mesh.stl", "unsupported format: stl"),
        ("mesh", "unsupported format: "),
        ("mesh.", "unsupported format: "),
        ("MESH.OBJ", "unsupported format: OBJ"),
        (".obj", "unsupported format: "),
    ],
)
def test_unknown_extensions(tmp_path, cube, name, text):
    path = str(tmp_path / name)
    with pytest.raises(ValueError) as load_error:
        vorrel.load(path)
    assert str(load_error.value) == text
    with pytest.raises(ValueError) as save_error:
        vorrel.save(cube, path)
    assert str(save_error.value) == text
    assert not pathlib.Path(path).exists()


def test_usd_content_sniffing(tmp_path, cube):
    crate = tmp_path / "crate.usdc"
    vorrel.save(cube, str(crate))
    renamed = tmp_path / "scene.usda"
    renamed.write_bytes(crate.read_bytes())
    assert vorrel.load(str(renamed)).face_count == 12
    text = tmp_path / "text.usda"
    vorrel.save(cube, str(text))
    as_crate_name = tmp_path / "layer.usdc"
    as_crate_name.write_bytes(text.read_bytes())
    assert vorrel.load(str(as_crate_name)).face_count == 12
    zipped = tmp_path / "package.usd"
    zipped.write_bytes(b"PK\x03\x04rest")
    with pytest.raises(ValueError) as error:
        vorrel.load(str(zipped))
    assert str(error.value) == (
        "USD parse error: usdz packages are not supported; unzip or run `usdcat in.usdz -o out.usdc` first"
    )


def test_load_discards_attributes(tmp_path):
    path = tmp_path / "attr.obj"
    path.write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nvn 0 0 1\nf 1/1/1 2/2/1 3/3/1\n")
    mesh = vorrel.load(str(path))
    assert (mesh.vertex_count, mesh.face_count) == (3, 1)


def test_argument_types(tmp_path, cube):
    with pytest.raises(TypeError, match="^argument 'path': "):
        vorrel.load(tmp_path / "a.obj")
    with pytest.raises(TypeError, match="^argument 'path': "):
        vorrel.save(cube, tmp_path / "a.obj")
    with pytest.raises(TypeError, match="^argument 'mesh': "):
        vorrel.save("cube", str(tmp_path / "a.obj"))
    with pytest.raises(TypeError, match="^argument 'input_path': "):
        vorrel.proxy_from_path(b"in.obj", "out.obj")
    with pytest.raises(TypeError, match="^argument 'output_path': "):
        vorrel.proxy_from_path("in.obj", None)
    assert vorrel.load(path=str(_write_triangle(tmp_path))).face_count == 1


def _write_triangle(tmp_path):
    path = tmp_path / "tri.obj"
    path.write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")
    return path


def test_io_errors_carry_the_system_text(tmp_path, cube):
    with pytest.raises(ValueError, match=r"^I/O error: .* \(os error 2\)$"):
        vorrel.load(str(tmp_path / "missing.usda"))
    with pytest.raises(ValueError, match=r"^I/O error: .*\(os error \d+\)$"):
        vorrel.save(cube, str(tmp_path / "no" / "such" / "dir.obj"))


def test_error_messages_keep_the_callers_path(tmp_path, cube):
    # A file name that is not UTF-8 reaches Python as a str with surrogate
    # escapes; the message must hand back that same str, not fail to decode.
    odd = str(tmp_path) + "/\udcff.obj"
    with pytest.raises(ValueError) as error:
        vorrel.proxy_from_path(odd, str(tmp_path / "o.obj"))
    assert str(error.value) == f"load {odd}: OBJ parse error: open file failed"
    # A zero byte names no file: refused as by open(), never cut short.
    for call in (
        lambda: vorrel.load(str(tmp_path / "a.obj") + "\0.usda"),
        lambda: vorrel.save(cube, str(tmp_path / "a.obj") + "\0.usda"),
        lambda: vorrel.proxy_from_path(str(tmp_path / "a\0.obj"), "o.obj"),
    ):
        with pytest.raises(ValueError, match="embedded null byte"):
            call()
    assert not (tmp_path / "a.obj").exists()
    with pytest.raises(ValueError) as error:
        vorrel.generate_proxy(cube, quality="fa\0st")
    assert str(error.value) == "unknown quality preset fa\0st; expected fast/balanced/high"


def test_docstrings_and_signatures():
    assert str(inspect.signature(vorrel.load)) == "(path)"
    assert str(inspect.signature(vorrel.save)) == "(mesh, path)"
    assert vorrel.save.__doc__.endswith("`.usda`\nwrites ASCII.")
    assert str(inspect.signature(vorrel.proxy_from_path)).startswith("(input_path, output_path, *, quality=None")
    assert str(inspect.signature(vorrel.proxy_from_path)).endswith("transfer_normals=True, transfer_uvs=False)")
    assert vorrel.proxy_from_path.__doc__.endswith("This is the path the average pipeline TD wants: no numpy round-trip.")


# --- proxy_from_path ---------------------------------------------------------------


@pytest.fixture
def cube_obj(tmp_path, cube):
    path = tmp_path / "cube.obj"
    vorrel.save(cube, str(path))
    return path


def test_result_dictionary(tmp_path, cube_obj):
    out = tmp_path / "proxy.obj"
    result = vorrel.proxy_from_path(str(cube_obj), str(out), voxel_res=16)
    assert list(result) == ["input_path", "output_path", "input_vertices", "input_faces", "output_vertices",
                            "output_faces", "wall_seconds"]
    assert result["input_path"] == str(cube_obj) and result["output_path"] == str(out)
    assert (result["input_vertices"], result["input_faces"]) == (8, 12)
    assert all(type(result[k]) is int for k in list(result)[2:6])
    assert type(result["wall_seconds"]) is float and result["wall_seconds"] > 0
    proxy = vorrel.load(str(out))
    assert (proxy.vertex_count, proxy.face_count) == (result["output_vertices"], result["output_faces"])


def test_defaults_write_normals_and_no_uvs(tmp_path, cube_obj):
    out = tmp_path / "proxy.obj"
    vorrel.proxy_from_path(str(cube_obj), str(out), voxel_res=12)
    text = out.read_text()
    assert "\nvn " in text and "\nvt " not in text
    assert "//" in text.splitlines()[-1]
    usda = tmp_path / "proxy.usda"
    vorrel.proxy_from_path(str(cube_obj), str(usda), voxel_res=12, transfer_uvs=True)
    assert "normal3f[] normals" in usda.read_text()  # the cube has no UVs to transfer


def test_failure_order_and_prefixes(tmp_path, cube_obj):
    missing = str(tmp_path / "missing.obj")
    with pytest.raises(ValueError, match=rf"^load {missing}: "):
        vorrel.proxy_from_path(missing, str(tmp_path / "o.obj"), quality="nope")
    with pytest.raises(ValueError) as error:
        vorrel.proxy_from_path(str(cube_obj), str(tmp_path / "o.obj"), quality="Nope")
    assert str(error.value) == "settings: ValueError: unknown quality preset nope; expected fast/balanced/high"
    stl = str(tmp_path / "out.stl")
    with pytest.raises(ValueError) as error:
        vorrel.proxy_from_path(str(cube_obj), stl, voxel_res=8)
    assert str(error.value) == f"save {stl}: unsupported format: stl"


def test_index_out_of_range_in_a_loaded_file(tmp_path):
    # The text reader does not compare indices with the points: the fault
    # surfaces while resolving target_faces (a settings failure) or in the
    # pipeline (an internal error).
    layer = tmp_path / "bad.usda"
    layer.write_text(
        "def Mesh \"m\" {\n int[] faceVertexCounts = [3]\n int[] faceVertexIndices = [0, 1, 99]\n"
        " point3f[] points = [(0, 0, 0), (1, 0, 0), (0, 1, 0)]\n}\n"
    )
    out = str(tmp_path / "out.obj")
    with pytest.raises(ValueError, match=r"^settings: InternalError: .*99"):
        vorrel.proxy_from_path(str(layer), out, target_faces=100)
    with pytest.raises(vorrel.InternalError, match="99"):
        vorrel.proxy_from_path(str(layer), out)
    assert not pathlib.Path(out).exists()


@pytest.mark.parametrize(
    "sample",
    [
        "obj/spot.obj",
        "gltf/BoxTextured-glTF-Binary/BoxTextured.glb",
        "gltf/BoxTextured-glTF/BoxTextured.gltf",
        "usd/sedanGeo.usda",
        "usd/UtahTeapot.usd",
        "usd/Rook_geom.usd",
    ],
)
@pytest.mark.parametrize("extension", ["obj", "glb", "usda", "usdc"])
def test_real_files_to_every_format(tmp_path, sample, extension):
    path = SHARED_DATA / sample
    if not path.exists():
        pytest.skip("shared data not available")
    out = tmp_path / f"proxy.{extension}"
    result = vorrel.proxy_from_path(str(path), str(out), voxel_res=24, transfer_uvs=True)
    assert result["output_faces"] > 0
    assert vorrel.load(str(out)).face_count == result["output_faces"]


@pytest.mark.parametrize("extension", ["usda", "usdc", "glb"])
def test_proxy_files_open_in_third_party_readers(tmp_path, cube_obj, extension):
    out = tmp_path / f"proxy.{extension}"
    result = vorrel.proxy_from_path(str(cube_obj), str(out), voxel_res=12)
    if extension == "glb":
        pygltflib = pytest.importorskip("pygltflib")
        gltf = pygltflib.GLTF2().load(str(out))
        assert gltf.accessors[0].count == result["output_vertices"]
        assert gltf.accessors[1].count == 3 * result["output_faces"]
        return
    Usd = pytest.importorskip("pxr.Usd")
    UsdGeom = pytest.importorskip("pxr.UsdGeom")
    stage = Usd.Stage.Open(str(out))
    mesh = UsdGeom.Mesh(stage.GetPrimAtPath("/proxy"))
    assert len(mesh.GetPointsAttr().Get()) == result["output_vertices"]
    assert len(mesh.GetFaceVertexCountsAttr().Get()) == result["output_faces"]
    normals = mesh.GetNormalsAttr()
    assert len(normals.Get()) == 3 * result["output_faces"]
    assert mesh.GetNormalsInterpolation() == "faceVarying"
