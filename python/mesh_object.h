#pragma once
// The Python class vorrel.Mesh: an immutable wrapper around one core Mesh.

#include "core/mesh.h"
#include "python/py_ref.h"

namespace vorrel::py {

struct MeshObject {
  PyObject_HEAD
  Mesh* mesh;  // owned; never changes after creation
};

extern PyTypeObject MeshType;

// Readies the type; call once during module initialisation.
bool ready_mesh_type();

// A new Mesh object taking over `mesh`.
Ref wrap_mesh(Mesh mesh);

// The core mesh of a Mesh object, or TypeError "argument '{name}': …".
const Mesh& mesh_argument(PyObject* value, const char* name);

}  // namespace vorrel::py
