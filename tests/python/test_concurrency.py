"""Several Python threads calling the module at once get exactly the results of
the same calls made one after another (the lock is released during builds)."""
import threading

import numpy as np
import pytest

import vorrel


def torus(rings=24, segments=12):
    a, b = np.meshgrid(np.linspace(0, 2 * np.pi, rings, endpoint=False),
                       np.linspace(0, 2 * np.pi, segments, endpoint=False), indexing="ij")
    r = 0.4 + 0.05 * np.sin(5 * a + 3 * b)
    positions = np.stack([(1 + r * np.cos(b)) * np.cos(a), (1 + r * np.cos(b)) * np.sin(a), r * np.sin(b)], -1)
    at = lambda i, j: (i % rings) * segments + j % segments
    tris = []
    for i in range(rings):
        for j in range(segments):
            tris += [(at(i, j), at(i + 1, j), at(i + 1, j + 1)), (at(i, j), at(i + 1, j + 1), at(i, j + 1))]
    return vorrel.Mesh.from_numpy(positions.reshape(-1, 3).astype(np.float64), np.array(tris, dtype=np.uint32))


def run_in_threads(calls):
    results = [None] * len(calls)
    errors = []
    barrier = threading.Barrier(len(calls))

    def worker(k):
        barrier.wait()
        try:
            results[k] = calls[k]()
        except BaseException as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(len(calls))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    return results


def arrays(mesh):
    return mesh.positions(), mesh.indices()


def same_mesh(a, b):
    pa, ia = arrays(a)
    pb, ib = arrays(b)
    return np.array_equal(pa, pb) and np.array_equal(ia, ib)


def test_four_threads_give_the_sequential_results(tmp_path, unit_cube_arrays):
    donut = torus()
    cube = vorrel.Mesh.from_numpy(*unit_cube_arrays)
    source = str(tmp_path / "donut.obj")
    vorrel.save(donut, source)
    calls = [
        lambda: vorrel.generate_proxy(donut, voxel_res=40, remesh=2),
        lambda: vorrel.generate_proxy(cube, voxel_res=24, use_sdf=False, offset=1.0),
        lambda: vorrel.generate_lod_chain(donut, levels=3, base_res=32),
        lambda: vorrel.proxy_from_path(source, str(tmp_path / "out.obj"), voxel_res=32, bilateral=True),
    ]
    sequential = [call() for call in calls]
    sequential_file = (tmp_path / "out.obj").read_bytes()
    concurrent = run_in_threads(calls)

    assert same_mesh(sequential[0], concurrent[0])
    assert same_mesh(sequential[1], concurrent[1])
    assert len(concurrent[2]) == 3
    assert all(same_mesh(a, b) for a, b in zip(sequential[2], concurrent[2]))
    for key in ("input_vertices", "input_faces", "output_vertices", "output_faces"):
        assert sequential[3][key] == concurrent[3][key]
    assert (tmp_path / "out.obj").read_bytes() == sequential_file


@pytest.mark.parametrize("extension", ["obj", "glb", "usda", "usdc"])
def test_load_and_save_from_several_threads(tmp_path, extension):
    meshes = [torus(8 + 2 * k, 6 + k) for k in range(4)]
    paths = [str(tmp_path / f"m{k}.{extension}") for k in range(4)]
    run_in_threads([lambda k=k: vorrel.save(meshes[k], paths[k]) for k in range(4)])
    loaded = run_in_threads([lambda k=k: vorrel.load(paths[k]) for k in range(4)] * 2)
    for k, mesh in enumerate(loaded):
        original = meshes[k % 4]
        assert mesh.face_count == original.face_count
        assert np.allclose(mesh.positions()[mesh.indices()], original.positions()[original.indices()])
