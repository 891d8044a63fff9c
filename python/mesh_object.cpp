#include "python/mesh_object.h"

#include <new>
#include <string>

#include "python/args.h"
#include "python/arrays.h"
#include "python/boundary.h"

namespace vorrel::py {
namespace {

const char kMeshDoc[] =
    "A mesh: positions and triangle indices.\n\n"
    "Construct one from numpy arrays via `Mesh.from_numpy(positions, indices)`,\n"
    "from a file via `load(path)`, or get one back from `generate_proxy()`.";

const char kFromNumpyDoc[] =
    "from_numpy(positions, indices)\n--\n\n"
    "Build a Mesh from numpy arrays.\n\n"
    "`positions` must be (N, 3) float64; `indices` must be (M, 3) uint32.\n"
    "Use `arr.astype(np.float64)` / `arr.astype(np.uint32)` upstream if\n"
    "your data is in another dtype.";

const char kPositionsDoc[] = "positions($self)\n--\n\nPositions as a numpy array of shape (N, 3), float64.";
const char kIndicesDoc[] = "indices($self)\n--\n\nTriangle indices as a numpy array of shape (M, 3), uint32.";

const Mesh& core_mesh(PyObject* self) { return *reinterpret_cast<MeshObject*>(self)->mesh; }

PyObject* mesh_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "No constructor defined for %s", type == &MeshType ? "Mesh" : type->tp_name);
  return nullptr;
}

void mesh_dealloc(PyObject* self) {
  delete reinterpret_cast<MeshObject*>(self)->mesh;
  Py_TYPE(self)->tp_free(self);
}

PyObject* mesh_repr(PyObject* self) {
  return guarded([&] {
    const Mesh& mesh = core_mesh(self);
    std::string text = "Mesh(vertices=" + std::to_string(mesh.vertex_count()) +
                       ", faces=" + std::to_string(mesh.face_count()) + ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

const Signature kFromNumpySignature{"from_numpy", {"positions", "indices"}, 2, 2};

PyObject* mesh_from_numpy(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    Arguments arguments(kFromNumpySignature, args, kwargs);
    PyObject* positions = require_float64_matrix(arguments["positions"], "positions");
    PyObject* indices = require_uint32_matrix(arguments["indices"], "indices");
    if (column_count(positions) != 3) {
      PyErr_SetString(PyExc_ValueError, "positions must have 3 columns");
      throw ErrorAlreadySet{};
    }
    if (column_count(indices) != 3) {
      PyErr_SetString(PyExc_ValueError, "indices must have 3 columns");
      throw ErrorAlreadySet{};
    }
    Mesh mesh{read_positions(positions), read_triangles(indices)};
    return wrap_mesh(std::move(mesh)).release();
  });
}

PyObject* mesh_positions(PyObject* self, PyObject*) {
  return guarded([&] { return positions_array(core_mesh(self).positions).release(); });
}

PyObject* mesh_indices(PyObject* self, PyObject*) {
  return guarded([&] { return triangles_array(core_mesh(self).indices).release(); });
}

PyObject* mesh_vertex_count(PyObject* self, void*) {
  return guarded([&] { return PyLong_FromUnsignedLongLong(core_mesh(self).vertex_count()); });
}

PyObject* mesh_face_count(PyObject* self, void*) {
  return guarded([&] { return PyLong_FromUnsignedLongLong(core_mesh(self).face_count()); });
}

PyMethodDef kMeshMethods[] = {
    {"from_numpy", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(mesh_from_numpy)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, kFromNumpyDoc},
    {"positions", mesh_positions, METH_NOARGS, kPositionsDoc},
    {"indices", mesh_indices, METH_NOARGS, kIndicesDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kMeshGetSet[] = {
    {"vertex_count", mesh_vertex_count, nullptr, nullptr, nullptr},
    {"face_count", mesh_face_count, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject MeshType = {PyVarObject_HEAD_INIT(nullptr, 0)};

bool ready_mesh_type() {
  MeshType.tp_name = "vorrel.Mesh";
  MeshType.tp_basicsize = sizeof(MeshObject);
  MeshType.tp_flags = Py_TPFLAGS_DEFAULT;
  MeshType.tp_doc = kMeshDoc;
  MeshType.tp_new = mesh_new;
  MeshType.tp_dealloc = mesh_dealloc;
  MeshType.tp_repr = mesh_repr;
  MeshType.tp_methods = kMeshMethods;
  MeshType.tp_getset = kMeshGetSet;
  return PyType_Ready(&MeshType) == 0;
}

Ref wrap_mesh(Mesh mesh) {
  auto* owned = new Mesh(std::move(mesh));
  auto* object = PyObject_New(MeshObject, &MeshType);
  if (!object) {
    delete owned;
    throw ErrorAlreadySet{};
  }
  object->mesh = owned;
  return Ref::steal(reinterpret_cast<PyObject*>(object));
}

const Mesh& mesh_argument(PyObject* value, const char* name) {
  if (!value || !PyObject_TypeCheck(value, &MeshType)) {
    throw_argument_error(name, "expected vorrel.Mesh, got " + (value ? type_name(value) : std::string("nothing")));
  }
  return core_mesh(value);
}

}  // namespace vorrel::py
