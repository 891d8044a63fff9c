#pragma once
// The exception boundary: every entry point of the module runs its body through
// `guarded`, so no C++ exception, allocation failure or internal error crosses
// into the interpreter; each becomes a Python exception instead.

#include <exception>
#include <new>

#include "core/error.h"
#include "python/py_ref.h"

namespace vorrel::py {

// The module's internal-error exception type (vorrel.InternalError, derived from
// BaseException). Created once by module initialisation.
PyObject* internal_error_type();
bool create_internal_error_type();

// Sets the Python exception for an internal error value: MemoryError for an
// allocation failure, the internal-error exception otherwise.
void set_internal_error(const InternalError& error);

// Unwraps a stage result or raises its internal error as a Python exception.
template <class T>
T unwrap(Expected<T>&& result) {
  if (!result.ok()) {
    set_internal_error(result.error());
    throw ErrorAlreadySet{};
  }
  return std::move(result).value();
}

// Translates the C++ exception being handled into a Python exception.
void set_error_from_current_exception() noexcept;

template <class Fn>
auto guarded(Fn&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
  }
  if constexpr (std::is_same_v<decltype(body()), int>) {
    return -1;
  } else {
    return nullptr;
  }
}

}  // namespace vorrel::py
