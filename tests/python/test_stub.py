"""The installed type stub matches the module's runtime signatures."""

import ast
import inspect
import pathlib
import subprocess
import sys

import pytest

import vorrel

STUB = pathlib.Path(vorrel.__file__).with_name("vorrel.pyi")
STUB_PACKAGE = pathlib.Path(vorrel.__file__).parent / "vorrel-stubs" / "__init__.pyi"


def stub_functions():
    tree = ast.parse(STUB.read_text())
    functions = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            functions[node.name] = node
        elif isinstance(node, ast.ClassDef) and node.name == "Mesh":
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    functions["Mesh." + item.name] = item
    return functions


def parameters_of(node):
    args = node.args
    names = [a.arg for a in args.posonlyargs + args.args]
    defaults = [None] * (len(names) - len(args.defaults)) + [ast.literal_eval(d) for d in args.defaults]
    params = [(n, d) for n, d in zip(names, defaults)]
    kwonly = [(a.arg, ast.literal_eval(d) if d is not None else None) for a, d in zip(args.kwonlyargs, args.kw_defaults)]
    return params, kwonly


def runtime_parameters(fn):
    params, kwonly = [], []
    for p in inspect.signature(fn).parameters.values():
        default = None if p.default is inspect.Parameter.empty else p.default
        (kwonly if p.kind is p.KEYWORD_ONLY else params).append((p.name, default))
    return params, kwonly


def test_stub_is_installed_for_editors_and_type_checkers():
    assert STUB.read_text() == STUB_PACKAGE.read_text()


@pytest.mark.parametrize("name", ["load", "save", "generate_proxy", "generate_lod_chain", "proxy_from_path"])
def test_function_signatures_match(name):
    stub_params, stub_kwonly = parameters_of(stub_functions()[name])
    params, kwonly = runtime_parameters(getattr(vorrel, name))
    assert stub_params == params
    assert stub_kwonly == kwonly


def test_mesh_members_match():
    functions = stub_functions()
    params, _ = parameters_of(functions["Mesh.from_numpy"])
    assert params == runtime_parameters(vorrel.Mesh.from_numpy)[0]
    for member in ("positions", "indices", "vertex_count", "face_count"):
        assert "Mesh." + member in functions and hasattr(vorrel.Mesh, member)


def test_mypy_accepts_typed_use_and_rejects_misuse(tmp_path):
    pytest.importorskip("mypy")
    good = tmp_path / "good.py"
    good.write_text(
        "import numpy as np\nimport vorrel\n"
        "m = vorrel.Mesh.from_numpy(np.zeros((1, 3)), np.zeros((0, 3), np.uint32))\n"
        "p: vorrel.Mesh = vorrel.generate_proxy(m, quality='fast', use_sdf=np.bool_(True))\n"
        "r = vorrel.proxy_from_path('a.obj', 'b.glb')\n"
        "seconds: float = r['wall_seconds']\n"
        "n: int = p.face_count\n"
    )
    bad = tmp_path / "bad.py"
    bad.write_text("import vorrel\nvorrel.generate_proxy(1, voxel_res='x')\n")
    run = lambda f: subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", str(f)], capture_output=True,
                                   text=True)
    assert run(good).returncode == 0, run(good).stdout
    assert run(bad).returncode != 0
