#include "core/error.h"

#include <fmt/format.h>

namespace vorrel {

InternalError index_out_of_range(uint64_t index, uint64_t length) {
  return {fmt::format("index out of range: the index is {} but the length is {}", index, length)};
}

Status check_triangle_indices(std::span<const Triangle> triangles, uint64_t vertex_count) {
  for (const Triangle& t : triangles) {
    for (uint32_t corner : t) {
      if (corner >= vertex_count) return index_out_of_range(corner, vertex_count);
    }
  }
  return std::nullopt;
}

}  // namespace vorrel
