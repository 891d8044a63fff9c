#pragma once
// Internal errors travel as values from the stage that detects them up to the
// module boundary, where they become the module's internal-error exception.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include "core/mesh.h"

namespace vorrel {

// Most internal errors are faults (an index out of range reaching a stage);
// an allocation failure is not, and the module reports it as MemoryError.
enum class ErrorKind : uint8_t { Fault, AllocationFailure };

struct InternalError {
  std::string message;
  ErrorKind kind = ErrorKind::Fault;
};

// A value or the error that prevented it.
template <class T, class E = InternalError>
class Expected {
 public:
  Expected(T value) : state_(std::move(value)) {}
  Expected(E error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const T& value() const& { return std::get<0>(state_); }
  T& operator*() & { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

// Success or an internal error.
using Status = std::optional<InternalError>;

// The error for an index that is not below the length of the array it indexes.
InternalError index_out_of_range(uint64_t index, uint64_t length);

// Checks every corner index against the vertex count, in triangle order, and
// reports the first one out of range. Stages call this before any parallel
// loop reads positions through the indices, so nothing is read out of bounds.
Status check_triangle_indices(std::span<const Triangle> triangles, uint64_t vertex_count);

}  // namespace vorrel
