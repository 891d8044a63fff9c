#pragma once
// Single entry point to NumPy's C array API for every translation unit of the
// module; module.cpp imports the API table, the others refer to it.

#include "python/py_ref.h"

#define PY_ARRAY_UNIQUE_SYMBOL vorrel_ARRAY_API
#ifndef VORREL_IMPORT_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
