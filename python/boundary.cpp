#include "python/boundary.h"

#include <stdexcept>

namespace vorrel::py {
namespace {
PyObject* g_internal_error = nullptr;  // set once at import, never changed afterwards
}

PyObject* internal_error_type() { return g_internal_error; }

bool create_internal_error_type() {
  g_internal_error = PyErr_NewExceptionWithDoc(
      "vorrel.InternalError",
      "An internal failure inside vorrel, such as a triangle index out of range\n"
      "reaching a pipeline stage. Derived from BaseException.",
      PyExc_BaseException, nullptr);
  return g_internal_error != nullptr;
}

void set_internal_error(const InternalError& error) {
  PyObject* type = error.kind == ErrorKind::AllocationFailure ? PyExc_MemoryError
                   : g_internal_error                         ? g_internal_error
                                                              : PyExc_SystemError;
  PyErr_SetString(type, error.message.c_str());
}

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "vorrel: error flagged without an exception");
  } catch (const std::bad_alloc&) {
    PyErr_SetString(PyExc_MemoryError, "vorrel: out of memory");
  } catch (const std::length_error& e) {
    PyErr_Format(PyExc_MemoryError, "vorrel: allocation too large (%s)", e.what());
  } catch (const std::exception& e) {
    set_internal_error(InternalError{e.what()});
  } catch (...) {
    set_internal_error(InternalError{"unknown internal failure"});
  }
}

}  // namespace vorrel::py
