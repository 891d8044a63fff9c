#pragma once
// The module-level functions, in registration order.

#include "python/py_ref.h"

namespace vorrel::py {

// Null-terminated method table of the module functions.
PyMethodDef* module_functions();

}  // namespace vorrel::py
