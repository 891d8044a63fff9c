#pragma once
// Argument parsing for the module's functions: parameters that may be passed by
// position or keyword, followed by keyword-only options, and converters that
// turn each value into a core type. Every conversion failure names its argument:
// TypeError "argument '{name}': {reason}"; counts keep the interpreter's own
// OverflowError for negative or too large values.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "python/py_ref.h"

namespace vorrel::py {

// The parameters of one function, in order. The first `positional` may be given
// by position or keyword; the rest are keyword-only. The first `required` have
// no default.
struct Signature {
  const char* function;
  std::initializer_list<const char*> names;
  size_t positional;
  size_t required;
};

// Borrowed argument values, one slot per parameter (nullptr when not given).
class Arguments {
 public:
  // Throws ErrorAlreadySet with CPython-style TypeErrors for missing, duplicate,
  // surplus or unknown arguments.
  Arguments(const Signature& signature, PyObject* args, PyObject* kwargs);

  // The value of the named parameter, or nullptr when not given.
  PyObject* operator[](const char* name) const;

 private:
  const Signature& signature_;
  std::vector<PyObject*> values_;
};

// Raises TypeError "argument '{name}': {reason}".
[[noreturn]] void throw_argument_error(const char* name, const std::string& reason);

// Raises ValueError with `message` as UTF-8 text. Bytes that are not UTF-8
// (file names taken from the caller's str with surrogate escapes) come back as
// the same escapes, and embedded zero bytes stay part of the message.
[[noreturn]] void raise_value_error(std::string_view message);

// Each converter leaves `fallback` when `value` is nullptr (argument not given).
uint64_t to_count(PyObject* value, const char* name, uint64_t fallback);
std::optional<uint64_t> to_optional_count(PyObject* value, const char* name);
double to_float(PyObject* value, const char* name, double fallback);
// Accepts a Python bool or a NumPy bool scalar only.
bool to_bool(PyObject* value, const char* name, bool fallback);
std::optional<std::string> to_optional_str(PyObject* value, const char* name);
std::string to_str(PyObject* value, const char* name);

// Python type name of an object, for conversion messages.
std::string type_name(PyObject* value);

}  // namespace vorrel::py
