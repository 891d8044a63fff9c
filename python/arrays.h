#pragma once
// Conversion between NumPy arrays and core arrays. Input arrays of any layout
// (sliced, transposed, negative or zero strides, unaligned, either byte order)
// are read element by element through their strides; output arrays are new
// C-ordered arrays that own their memory through a base object.

#include <cstdint>
#include <vector>

#include "core/mesh.h"
#include "python/py_ref.h"

namespace vorrel::py {

// Checks that `value` is a 2-D ndarray of exactly float64 (resp. uint32);
// otherwise raises TypeError "argument '{name}': …". Returns it borrowed.
PyObject* require_float64_matrix(PyObject* value, const char* name);
PyObject* require_uint32_matrix(PyObject* value, const char* name);

// Number of columns of a checked 2-D array.
int64_t column_count(PyObject* array);

// Rows of a checked N×3 array.
std::vector<Vec3> read_positions(PyObject* array);
std::vector<Triangle> read_triangles(PyObject* array);

// New (N, 3) float64 / (M, 3) uint32 arrays holding a copy of the values.
Ref positions_array(const std::vector<Vec3>& positions);
Ref triangles_array(const std::vector<Triangle>& triangles);

}  // namespace vorrel::py
