"""Hostile arrays and arguments at the module surface: each is either read
correctly or refused with the documented exception, never a crash."""
import os
import signal
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import vorrel

CUBE_P = np.array([[x, y, z] for x in (0, 1) for y in (0, 1) for z in (0, 1)], dtype=np.float64)
CUBE_T = np.array([(0, 1, 3), (0, 3, 2), (4, 6, 7), (4, 7, 5), (0, 4, 5), (0, 5, 1),
                   (2, 3, 7), (2, 7, 6), (0, 2, 6), (0, 6, 4), (1, 5, 7), (1, 7, 3)], dtype=np.uint32)


def read_back(positions, indices):
    mesh = vorrel.Mesh.from_numpy(positions, indices)
    return mesh.positions(), mesh.indices()


def unaligned(array):
    raw = np.zeros(array.nbytes + 1, dtype=np.uint8)
    view = raw[1:].view(array.dtype).reshape(array.shape)
    view[...] = array
    return view


def read_only(array):
    copy = array.copy()
    copy.flags.writeable = False
    return copy


class Subclass(np.ndarray):
    pass


@pytest.mark.parametrize("make", [
    lambda a: as_strided(a[:1], shape=(5, 3), strides=(0, a.strides[1])),  # zero row stride
    unaligned,
    read_only,
    lambda a: a.view(Subclass),
    lambda a: a.astype(a.dtype.newbyteorder()),
    lambda a: np.asfortranarray(a),
], ids=["zero-stride", "unaligned", "read-only", "subclass", "byte-swapped", "fortran"])
def test_unusual_layouts_are_read_element_by_element(make):
    positions, indices = read_back(make(CUBE_P), make(CUBE_T))
    expected_p = np.asarray(make(CUBE_P)).astype(np.float64)
    expected_t = np.asarray(make(CUBE_T)).astype(np.uint32)
    assert np.array_equal(positions, expected_p)
    assert np.array_equal(indices, expected_t)


def test_huge_zero_stride_shapes_raise_memory_error():
    base = np.zeros(3, dtype=np.float64)
    for rows in (2**40, 2**58):
        huge = as_strided(base, shape=(rows, 3), strides=(0, 8))
        with pytest.raises(MemoryError, match="could not allocate"):
            vorrel.Mesh.from_numpy(huge, CUBE_T)
    assert vorrel.Mesh.from_numpy(CUBE_P, CUBE_T).vertex_count == 8


class ArrayInterface:
    def __init__(self, array):
        self.__array_interface__ = array.__array_interface__
        self._keep = array


class ArrayMethod:
    def __init__(self, array):
        self._array = array

    def __array__(self, dtype=None, copy=None):
        return self._array


@pytest.mark.parametrize("impostor", [ArrayInterface, ArrayMethod, lambda a: a.tolist(), memoryview])
def test_objects_pretending_to_be_arrays_are_refused(impostor):
    with pytest.raises(TypeError, match="argument 'positions'"):
        vorrel.Mesh.from_numpy(impostor(CUBE_P), CUBE_T)
    with pytest.raises(TypeError, match="argument 'indices'"):
        vorrel.Mesh.from_numpy(CUBE_P, impostor(CUBE_T))


@pytest.mark.parametrize("options, error", [
    (dict(voxel_res=-1), OverflowError),
    (dict(voxel_res=2**64), OverflowError),
    (dict(voxel_res=1.5), TypeError),
    (dict(offset="1"), TypeError),
    (dict(use_sdf=1), TypeError),
    (dict(quality=b"fast"), TypeError),
])
def test_bad_option_values_are_refused(options, error):
    with pytest.raises(error):
        vorrel.generate_proxy(vorrel.Mesh.from_numpy(CUBE_P, CUBE_T), **options)


@pytest.mark.parametrize("options", [
    dict(offset=float("inf")), dict(offset=float("nan")), dict(project=float("inf")),
    dict(smooth_lambda=float("nan")), dict(voxel_res=2**64 - 1, close=2**64 - 1),
])
def test_extreme_option_values_end_in_a_proxy_or_a_clean_refusal(options):
    mesh = vorrel.Mesh.from_numpy(CUBE_P, CUBE_T)
    try:
        proxy = vorrel.generate_proxy(mesh, **{"voxel_res": 16, **options})
    except MemoryError:
        return
    assert np.all(proxy.indices() < proxy.vertex_count)


def test_grid_over_the_budget_at_every_resolution_is_a_memory_error():
    # A closing radius of 2^64 - 1 pads the grid beyond the cell budget even at
    # resolution 1: such a grid cannot be had.
    with pytest.raises(MemoryError, match="exceeds the 1073741824 cell budget at every resolution"):
        vorrel.generate_proxy(vorrel.Mesh.from_numpy(CUBE_P, CUBE_T), voxel_res=16, close=2**64 - 1)


def test_signal_during_a_build_does_not_crash():
    # The build runs without the interpreter lock and does not poll for signals:
    # a SIGINT arriving meanwhile is raised as KeyboardInterrupt once the call
    # has returned, and the interpreter carries on.
    script = textwrap.dedent("""
        import os, signal, threading, numpy as np, vorrel
        p = np.array([[x, y, z] for x in (0, 1) for y in (0, 1) for z in (0, 1)], dtype=np.float64)
        t = np.array(%r, dtype=np.uint32)
        mesh = vorrel.Mesh.from_numpy(p, t)
        threading.Timer(0.05, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
        try:
            for _ in range(50):
                vorrel.generate_proxy(mesh, voxel_res=96)
        except KeyboardInterrupt:
            print("interrupted")
        print(vorrel.generate_proxy(mesh, voxel_res=16).face_count > 0)
    """ % CUBE_T.tolist())
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.split() == ["interrupted", "True"]
