#include "python/args.h"

#include <cstring>

#include "python/numpy_api.h"
#include <numpy/arrayscalars.h>

namespace vorrel::py {

Arguments::Arguments(const Signature& signature, PyObject* args, PyObject* kwargs)
    : signature_(signature), values_(signature.names.size(), nullptr) {
  const char* const* names = signature.names.begin();
  const size_t count = signature.names.size();
  const Py_ssize_t given = args ? PyTuple_GET_SIZE(args) : 0;
  if (static_cast<size_t>(given) > signature.positional) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd %s given", signature.function,
                 signature.positional, signature.positional == 1 ? "" : "s", given, given == 1 ? "was" : "were");
    throw ErrorAlreadySet{};
  }
  for (Py_ssize_t i = 0; i < given; ++i) values_[static_cast<size_t>(i)] = PyTuple_GET_ITEM(args, i);

  if (kwargs) {
    PyObject* key;
    PyObject* value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      const char* key_text = PyUnicode_Check(key) ? PyUnicode_AsUTF8(key) : nullptr;
      if (!key_text) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", signature.function);
        throw ErrorAlreadySet{};
      }
      size_t slot = count;
      for (size_t i = 0; i < count; ++i) {
        if (std::strcmp(names[i], key_text) == 0) {
          slot = i;
          break;
        }
      }
      if (slot == count) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", signature.function, key_text);
        throw ErrorAlreadySet{};
      }
      if (values_[slot]) {
        PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zu)",
                     signature.function, key_text, slot + 1);
        throw ErrorAlreadySet{};
      }
      values_[slot] = value;
    }
  }
  for (size_t i = 0; i < signature.required; ++i) {
    if (!values_[i]) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", signature.function, names[i],
                   i + 1);
      throw ErrorAlreadySet{};
    }
  }
}

PyObject* Arguments::operator[](const char* name) const {
  const char* const* names = signature_.names.begin();
  for (size_t i = 0; i < values_.size(); ++i) {
    if (std::strcmp(names[i], name) == 0) return values_[i];
  }
  return nullptr;
}

std::string type_name(PyObject* value) { return Py_TYPE(value)->tp_name; }

void throw_argument_error(const char* name, const std::string& reason) {
  PyErr_Format(PyExc_TypeError, "argument '%s': %s", name, reason.c_str());
  throw ErrorAlreadySet{};
}

void raise_value_error(std::string_view message) {
  Ref text = Ref::steal(check(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "surrogateescape")));
  PyErr_SetObject(PyExc_ValueError, text.get());
  throw ErrorAlreadySet{};
}

uint64_t to_count(PyObject* value, const char* name, uint64_t fallback) {
  if (!value) return fallback;
  // Integers and objects that are integers (__index__, e.g. NumPy integer
  // scalars); floats and other numbers are refused rather than truncated.
  if (!PyIndex_Check(value)) throw_argument_error(name, "expected an integer, got " + type_name(value));
  Ref as_int = Ref::steal(check(PyNumber_Index(value)));
  unsigned long long result = PyLong_AsUnsignedLongLong(as_int.get());
  if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw ErrorAlreadySet{};
  return result;
}

std::optional<uint64_t> to_optional_count(PyObject* value, const char* name) {
  if (!value || value == Py_None) return std::nullopt;
  return to_count(value, name, 0);
}

double to_float(PyObject* value, const char* name, double fallback) {
  if (!value) return fallback;
  if (PyFloat_Check(value)) return PyFloat_AS_DOUBLE(value);
  if (!PyFloat_Check(value) && !PyIndex_Check(value) && !(Py_TYPE(value)->tp_as_number &&
                                                          Py_TYPE(value)->tp_as_number->nb_float)) {
    throw_argument_error(name, "expected a float, got " + type_name(value));
  }
  double result = PyFloat_AsDouble(value);
  if (result == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      throw_argument_error(name, "expected a float, got " + type_name(value));
    }
    throw ErrorAlreadySet{};
  }
  return result;
}

bool to_bool(PyObject* value, const char* name, bool fallback) {
  if (!value) return fallback;
  if (PyBool_Check(value)) return value == Py_True;
  if (PyArray_IsScalar(value, Bool)) return PyArrayScalar_VAL(value, Bool) != 0;
  throw_argument_error(name, "expected a bool, got " + type_name(value));
}

std::optional<std::string> to_optional_str(PyObject* value, const char* name) {
  if (!value || value == Py_None) return std::nullopt;
  return to_str(value, name);
}

std::string to_str(PyObject* value, const char* name) {
  if (!value || !PyUnicode_Check(value)) {
    throw_argument_error(name, "expected str, got " + (value ? type_name(value) : std::string("nothing")));
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(value, &size);
  if (!text) throw ErrorAlreadySet{};
  return std::string(text, static_cast<size_t>(size));
}

}  // namespace vorrel::py
