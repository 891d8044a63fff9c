#pragma once
// Owned references, the interpreter-lock release guard, and the exception
// marker used inside the module's C++ code.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace vorrel::py {

// Owns one strong reference (or none).
class Ref {
 public:
  Ref() = default;
  // Takes over a new reference, e.g. the result of a Py*_New call.
  static Ref steal(PyObject* object) { return Ref(object); }
  // Adds a reference to a borrowed object.
  static Ref borrow(PyObject* object) {
    Py_XINCREF(object);
    return Ref(object);
  }
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference to the caller (for returning to the interpreter).
  PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  explicit Ref(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

// Thrown by C++ code of the module after it has set a Python exception; the
// exception boundary turns it into a NULL return.
struct ErrorAlreadySet {};

// Throws ErrorAlreadySet when a CPython call has reported failure.
inline PyObject* check(PyObject* result) {
  if (!result) throw ErrorAlreadySet{};
  return result;
}

// Throws ErrorAlreadySet when a CPython call returned a negative status.
inline void check_status(int status) {
  if (status < 0) throw ErrorAlreadySet{};
}

// Releases the interpreter lock for its lifetime and takes it back on every
// exit path, exceptions included. No Python object may be touched meanwhile.
class GilRelease {
 public:
  GilRelease() : state_(PyEval_SaveThread()) {}
  GilRelease(const GilRelease&) = delete;
  GilRelease& operator=(const GilRelease&) = delete;
  ~GilRelease() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

}  // namespace vorrel::py
