#pragma once
// load, save and proxy_from_path: the module functions that touch files.

#include "python/py_ref.h"

namespace vorrel::py {

PyObject* load(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* save(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* proxy_from_path(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace vorrel::py
