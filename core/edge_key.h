#pragma once
// Key of an undirected edge: both orientations of a vertex pair give the same
// 64-bit value, so it hashes natively in absl containers and sorts by
// (smaller index, larger index).

#include <algorithm>
#include <cstdint>

namespace vorrel {

using EdgeKey = uint64_t;

inline EdgeKey make_edge_key(uint32_t u, uint32_t v) {
  return (static_cast<uint64_t>(std::min(u, v)) << 32) | std::max(u, v);
}

inline uint32_t edge_key_low(EdgeKey key) { return static_cast<uint32_t>(key >> 32); }
inline uint32_t edge_key_high(EdgeKey key) { return static_cast<uint32_t>(key); }

}  // namespace vorrel
