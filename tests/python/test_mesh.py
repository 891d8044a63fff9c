import inspect
import pathlib
import shutil
import subprocess

import numpy as np
import pytest

import vorrel


def make(positions, indices):
    return vorrel.Mesh.from_numpy(positions, indices)


def test_module_identity():
    assert vorrel.__doc__ == "vorrel: high-performance volume mesh proxy generator."
    assert vorrel.__version__ == "0.2.4"
    assert issubclass(vorrel.InternalError, BaseException)
    assert not issubclass(vorrel.InternalError, Exception)


def test_round_trip_and_counts(unit_cube_arrays):
    positions, indices = unit_cube_arrays
    mesh = make(positions, indices)
    assert (mesh.vertex_count, mesh.face_count) == (8, 12)
    assert repr(mesh) == "Mesh(vertices=8, faces=12)"
    p, i = mesh.positions(), mesh.indices()
    assert p.dtype == np.float64 and p.shape == (8, 3) and p.flags.c_contiguous
    assert i.dtype == np.uint32 and i.shape == (12, 3) and i.flags.c_contiguous
    np.testing.assert_array_equal(p, positions)
    np.testing.assert_array_equal(i, indices)


def test_returned_arrays_are_independent(unit_cube_arrays):
    positions, indices = unit_cube_arrays
    mesh = make(positions, indices)
    p = mesh.positions()
    p[:] = 42.0
    mesh.indices()[:] = 7
    positions[:] = -1.0  # the mesh copied its input too
    np.testing.assert_array_equal(mesh.positions()[1], [1, 0, 0])
    np.testing.assert_array_equal(mesh.indices()[0], [0, 2, 1])
    assert mesh.positions() is not mesh.positions()


def test_empty_mesh():
    mesh = make(np.zeros((0, 3)), np.zeros((0, 3), np.uint32))
    assert repr(mesh) == "Mesh(vertices=0, faces=0)"
    assert mesh.positions().shape == (0, 3)
    assert mesh.indices().shape == (0, 3)


@pytest.mark.parametrize(
    "view",
    [
        lambda a: a[::-1],  # negative row stride
        lambda a: np.asfortranarray(a),  # column-major
        lambda a: np.ascontiguousarray(np.hstack([a, a]))[:, ::2],  # column stride 2
        lambda a: a.T.copy().T,  # transposed storage
        lambda a: a.astype(">f8") if a.dtype == np.float64 else a.astype(">u4"),  # big-endian
    ],
)
def test_any_memory_layout_is_read_through_strides(view):
    positions = np.arange(12, dtype=np.float64).reshape(4, 3) * 0.5
    indices = np.array([[0, 1, 2], [3, 2, 1]], dtype=np.uint32)
    mesh = make(view(positions), view(indices))
    np.testing.assert_array_equal(mesh.positions(), view(positions))
    np.testing.assert_array_equal(mesh.indices(), view(indices))


def test_zero_stride_and_unaligned_arrays():
    row = np.array([1.0, 2.0, 3.0])
    broadcast = np.broadcast_to(row, (5, 3))
    raw = np.zeros(8 * 9 + 1, dtype=np.uint8)[1:].view(np.float64).reshape(3, 3)  # unaligned
    raw[:] = 2.5
    assert not raw.flags.aligned
    mesh = make(broadcast, np.zeros((0, 3), np.uint32))
    np.testing.assert_array_equal(mesh.positions(), np.tile(row, (5, 1)))
    np.testing.assert_array_equal(make(raw, np.zeros((0, 3), np.uint32)).positions(), raw)


def test_out_of_range_indices_are_accepted():
    mesh = make(np.zeros((3, 3)), np.array([[0, 1, 99]], dtype=np.uint32))
    assert mesh.face_count == 1
    np.testing.assert_array_equal(mesh.indices(), [[0, 1, 99]])


@pytest.mark.parametrize(
    "positions, indices, name",
    [
        (np.zeros((3, 3), np.float32), np.zeros((1, 3), np.uint32), "positions"),
        (np.zeros((3, 3)), np.zeros((1, 3), np.int64), "indices"),
        (np.zeros(9), np.zeros((1, 3), np.uint32), "positions"),
        (np.zeros((1, 3, 3)), np.zeros((1, 3), np.uint32), "positions"),
        ([[0.0, 0.0, 0.0]], np.zeros((1, 3), np.uint32), "positions"),
        (np.zeros((3, 3)), None, "indices"),
    ],
)
def test_wrong_types_raise_type_error_naming_the_argument(positions, indices, name):
    with pytest.raises(TypeError, match=rf"^argument '{name}': "):
        make(positions, indices)


def test_column_checks_positions_first():
    with pytest.raises(ValueError, match="^positions must have 3 columns$"):
        make(np.zeros((3, 4)), np.zeros((1, 2), np.uint32))
    with pytest.raises(ValueError, match="^indices must have 3 columns$"):
        make(np.zeros((3, 3)), np.zeros((1, 2), np.uint32))


def test_type_checks_come_before_column_checks():
    with pytest.raises(TypeError, match="indices"):
        make(np.zeros((3, 4)), np.zeros((1, 3), np.int32))


def test_argument_passing():
    positions, indices = np.zeros((1, 3)), np.zeros((0, 3), np.uint32)
    assert make(positions=positions, indices=indices).vertex_count == 1
    with pytest.raises(TypeError):
        vorrel.Mesh.from_numpy(positions)
    with pytest.raises(TypeError):
        vorrel.Mesh.from_numpy(positions, indices, positions)
    with pytest.raises(TypeError):
        vorrel.Mesh.from_numpy(positions, indices=indices, other=1)
    with pytest.raises(TypeError):
        vorrel.Mesh.from_numpy(positions, positions=positions)


def test_no_constructor_and_immutable():
    with pytest.raises(TypeError, match="^No constructor defined for Mesh$"):
        vorrel.Mesh()
    mesh = make(np.zeros((1, 3)), np.zeros((0, 3), np.uint32))
    with pytest.raises(AttributeError):
        mesh.vertex_count = 3
    with pytest.raises(AttributeError):
        mesh.anything = 3


def test_docstrings_and_signatures():
    assert vorrel.Mesh.__doc__ == (
        "A mesh: positions and triangle indices.\n\n"
        "Construct one from numpy arrays via `Mesh.from_numpy(positions, indices)`,\n"
        "from a file via `load(path)`, or get one back from `generate_proxy()`."
    )
    assert vorrel.Mesh.from_numpy.__doc__ == (
        "Build a Mesh from numpy arrays.\n\n"
        "`positions` must be (N, 3) float64; `indices` must be (M, 3) uint32.\n"
        "Use `arr.astype(np.float64)` / `arr.astype(np.uint32)` upstream if\n"
        "your data is in another dtype."
    )
    assert str(inspect.signature(vorrel.Mesh.from_numpy)) == "(positions, indices)"
    assert vorrel.Mesh.positions.__doc__ == "Positions as a numpy array of shape (N, 3), float64."
    assert vorrel.Mesh.indices.__doc__ == "Triangle indices as a numpy array of shape (M, 3), uint32."
    assert str(inspect.signature(vorrel.Mesh.positions)) == "(self, /)"
    assert inspect.isdatadescriptor(inspect.getattr_static(vorrel.Mesh, "vertex_count"))
    assert inspect.isdatadescriptor(inspect.getattr_static(vorrel.Mesh, "face_count"))
    assert inspect.ismethoddescriptor(inspect.getattr_static(vorrel.Mesh, "positions"))


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs binutils")
def test_module_exports_only_its_init_function():
    out = subprocess.run(["nm", "-D", "--defined-only", vorrel.__file__], capture_output=True, text=True, check=True)
    symbols = [line.split()[-1] for line in out.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit_vorrel"]
