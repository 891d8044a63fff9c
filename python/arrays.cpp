#include "python/arrays.h"

#include <cstring>
#include <new>
#include <string>

#include "core/memory.h"
#include "python/args.h"
#include "python/boundary.h"
#include "python/numpy_api.h"

namespace vorrel::py {
namespace {

std::string describe_array(PyArrayObject* array) {
  std::string text = std::to_string(PyArray_NDIM(array)) + "-D array of ";
  Ref dtype = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
  const char* dtype_text = dtype ? PyUnicode_AsUTF8(dtype.get()) : nullptr;
  if (!dtype_text) {
    PyErr_Clear();
    dtype_text = "unknown dtype";
  }
  return text + dtype_text;
}

PyObject* require_matrix(PyObject* value, const char* name, int type_num, const char* expected) {
  if (!PyArray_Check(value)) {
    throw_argument_error(name, std::string("expected a 2-D numpy.ndarray of ") + expected + ", got " + type_name(value));
  }
  auto* array = reinterpret_cast<PyArrayObject*>(value);
  if (PyArray_NDIM(array) != 2 || PyArray_TYPE(array) != type_num) {
    throw_argument_error(name, std::string("expected a 2-D numpy.ndarray of ") + expected + ", got a " +
                                   describe_array(array));
  }
  return value;
}

// Reads rows × 3 elements of `Element` through the array's strides.
template <class Row, class Element>
std::vector<Row> read_rows(PyObject* value) {
  auto* array = reinterpret_cast<PyArrayObject*>(value);
  const npy_intp rows = PyArray_DIM(array, 0);
  const npy_intp row_stride = PyArray_STRIDE(array, 0);
  const npy_intp column_stride = PyArray_STRIDE(array, 1);
  const bool swapped = !PyArray_ISNOTSWAPPED(array);
  const char* base = PyArray_BYTES(array);
  // A zero-stride view may claim more rows than memory could ever hold.
  std::vector<Row> out;
  Status failed = allocate_filled(out, static_cast<uint64_t>(rows), Row{}, "a copy of the array's rows");
  if (failed) {
    set_internal_error(*failed);
    throw ErrorAlreadySet{};
  }
  for (npy_intp i = 0; i < rows; ++i) {
    Element elements[3];
    for (int k = 0; k < 3; ++k) {
      unsigned char bytes[sizeof(Element)];
      std::memcpy(bytes, base + i * row_stride + k * column_stride, sizeof(Element));
      if (swapped) {
        for (size_t b = 0; b < sizeof(Element) / 2; ++b) std::swap(bytes[b], bytes[sizeof(Element) - 1 - b]);
      }
      std::memcpy(&elements[k], bytes, sizeof(Element));
    }
    std::memcpy(&out[static_cast<size_t>(i)], elements, sizeof(Row));
  }
  return out;
}

void free_owned_buffer(PyObject* capsule) {
  delete[] static_cast<unsigned char*>(PyCapsule_GetPointer(capsule, "vorrel.buffer"));
}

// A new C-ordered (rows, 3) array whose memory belongs to a capsule set as its base.
Ref new_matrix(const void* data, size_t rows, size_t row_bytes, int type_num) {
  const size_t bytes = rows * row_bytes;
  auto* buffer = new (std::nothrow) unsigned char[bytes ? bytes : 1];
  if (!buffer) {
    set_internal_error(allocation_failure("a new (" + std::to_string(rows) + ", 3) array", bytes));
    throw ErrorAlreadySet{};
  }
  if (bytes) std::memcpy(buffer, data, bytes);
  Ref owner = Ref::steal(PyCapsule_New(buffer, "vorrel.buffer", free_owned_buffer));
  if (!owner) {
    delete[] buffer;
    throw ErrorAlreadySet{};
  }
  npy_intp dims[2] = {static_cast<npy_intp>(rows), 3};
  Ref array = Ref::steal(check(PyArray_SimpleNewFromData(2, dims, type_num, buffer)));
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) < 0) {
    throw ErrorAlreadySet{};
  }
  return array;
}

}  // namespace

PyObject* require_float64_matrix(PyObject* value, const char* name) {
  return require_matrix(value, name, NPY_FLOAT64, "float64");
}

PyObject* require_uint32_matrix(PyObject* value, const char* name) {
  return require_matrix(value, name, NPY_UINT32, "uint32");
}

int64_t column_count(PyObject* array) { return PyArray_DIM(reinterpret_cast<PyArrayObject*>(array), 1); }

std::vector<Vec3> read_positions(PyObject* array) { return read_rows<Vec3, double>(array); }

std::vector<Triangle> read_triangles(PyObject* array) { return read_rows<Triangle, uint32_t>(array); }

Ref positions_array(const std::vector<Vec3>& positions) {
  return new_matrix(positions.data(), positions.size(), sizeof(Vec3), NPY_FLOAT64);
}

Ref triangles_array(const std::vector<Triangle>& triangles) {
  return new_matrix(triangles.data(), triangles.size(), sizeof(Triangle), NPY_UINT32);
}

}  // namespace vorrel::py
