// Module initialisation: registers __version__, the Mesh class, the module
// functions and the internal-error exception type.

#define VORREL_IMPORT_NUMPY
#include "python/numpy_api.h"

#include "python/boundary.h"
#include "python/functions.h"
#include "python/mesh_object.h"

namespace {

const char kModuleDoc[] = "vorrel: high-performance volume mesh proxy generator.";

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "vorrel", kModuleDoc, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int add_object(PyObject* module, const char* name, PyObject* value) {
  if (!value) return -1;
  if (PyModule_AddObject(module, name, value) < 0) {
    Py_DECREF(value);
    return -1;
  }
  return 0;
}

PyObject* init_module() {
  if (_import_array() < 0) return nullptr;
  using namespace vorrel::py;
  if (!ready_mesh_type() || !create_internal_error_type()) return nullptr;
  Ref module = Ref::steal(PyModule_Create(&kModule));
  if (!module) return nullptr;
  if (add_object(module.get(), "__version__", PyUnicode_FromString("0.2.4")) < 0) return nullptr;
  Py_INCREF(&MeshType);
  if (add_object(module.get(), "Mesh", reinterpret_cast<PyObject*>(&MeshType)) < 0) return nullptr;
  if (PyModule_AddFunctions(module.get(), module_functions()) < 0) return nullptr;
  Py_INCREF(internal_error_type());
  if (add_object(module.get(), "InternalError", internal_error_type()) < 0) return nullptr;
  return module.release();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_vorrel() {
  return vorrel::py::guarded([] { return init_module(); });
}
