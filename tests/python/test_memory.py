"""Allocation failure: a grid whose peak memory exceeds what the process may
obtain raises MemoryError naming what and how many bytes, and the interpreter
carries on. The limit is imposed on a child process with RLIMIT_AS."""
import subprocess
import sys
import textwrap

SCRIPT = textwrap.dedent("""
    import resource, numpy as np, vorrel
    p = np.array([[x, y, z] for x in (0, 1) for y in (0, 1) for z in (0, 1)], dtype=np.float64)
    t = np.array([(0, 1, 3), (0, 3, 2), (4, 6, 7), (4, 7, 5), (0, 4, 5), (0, 5, 1),
                  (2, 3, 7), (2, 7, 6), (0, 2, 6), (0, 6, 4), (1, 5, 7), (1, 7, 3)], dtype=np.uint32)
    mesh = vorrel.Mesh.from_numpy(p, t)
    vorrel.generate_proxy(mesh, voxel_res=16)  # starts the worker threads first
    vorrel.save(mesh, "{obj}")
    used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (used + (512 << 20), resource.RLIM_INFINITY))
    calls = [
        lambda: vorrel.generate_proxy(mesh, voxel_res=400),
        lambda: vorrel.generate_proxy(mesh, voxel_res=1000, use_sdf=False),
        lambda: vorrel.generate_lod_chain(mesh, levels=2, base_res=400),
        lambda: vorrel.proxy_from_path("{obj}", "{out}", voxel_res=400),
    ]
    for call in calls:
        try:
            call()
            print("no error")
        except MemoryError as error:
            print("MemoryError:", error)
    print("after:", vorrel.generate_proxy(mesh, voxel_res=24).face_count > 0)
""")


def test_oversized_grids_raise_memory_error_and_the_interpreter_carries_on(tmp_path):
    script = SCRIPT.format(obj=tmp_path / "cube.obj", out=tmp_path / "out.obj")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    lines = done.stdout.splitlines()
    assert lines[0] == ("MemoryError: could not allocate a distance field of 410x410x410 cells at 21 bytes per cell "
                        "(1447341000 bytes); the process can obtain at most " + lines[0].split()[-2] + " bytes")
    assert lines[1].startswith("MemoryError: could not allocate a voxel grid of 1004x1004x1004 cells at 2 bytes")
    assert lines[2].startswith("MemoryError: could not allocate a distance field of 410x410x410 cells")
    assert lines[3].startswith("MemoryError: could not allocate a distance field of 410x410x410 cells")
    assert lines[4] == "after: True"
    assert not (tmp_path / "out.obj").exists()
