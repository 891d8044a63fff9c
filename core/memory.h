#pragma once
// Memory the process can obtain, and allocation of the large per-cell arrays
// as a value-returning operation. Under Linux overcommit an oversized request
// may appear to succeed and get the process killed when the pages are touched,
// so the volume stages compare their peak estimate with what the process can
// obtain before allocating anything, and every large array is allocated
// through `allocate_filled`, which refuses instead of throwing.

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace vorrel {

// The least of physical memory, the cgroup memory limit (v2 memory.max of the
// process's group and its ancestors, or v1 memory.limit_in_bytes) and the
// address-space and data-segment limits less what the process already uses.
uint64_t obtainable_memory_bytes();

// The error for `bytes` of `what` that could not be obtained.
InternalError allocation_failure(std::string_view what, uint64_t bytes);

// Fails with an allocation failure when `bytes` exceed obtainable_memory_bytes().
Status check_obtainable(std::string_view what, uint64_t bytes);

// `count` × `size` bytes, saturating at the largest 64-bit value.
uint64_t saturating_bytes(uint64_t count, uint64_t size);

// Makes `out` hold `count` copies of `value`, or leaves it empty and fails with
// an allocation failure naming `what` and the byte count.
template <class T>
Status allocate_filled(std::vector<T>& out, uint64_t count, const T& value, std::string_view what) {
  const uint64_t bytes = saturating_bytes(count, sizeof(T));
  if (Status refused = check_obtainable(what, bytes)) {
    out = {};
    return refused;
  }
  try {
    out.assign(count, value);
  } catch (const std::bad_alloc&) {
    out = {};
    return allocation_failure(what, bytes);
  } catch (const std::length_error&) {
    out = {};
    return allocation_failure(what, bytes);
  }
  return std::nullopt;
}

}  // namespace vorrel
