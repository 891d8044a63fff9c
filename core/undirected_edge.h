#pragma once
// Key of an undirected edge between two vertex indices: both orientations of
// a pair give the same 64-bit value, so it hashes natively in absl containers
// and sorts by (smaller index, larger index). Not to be confused with the
// marching-cubes EdgeKey, which names a lattice edge.

#include <algorithm>
#include <cstdint>

namespace vorrel {

using UndirectedEdge = uint64_t;

inline UndirectedEdge make_undirected_edge(uint32_t u, uint32_t v) {
  return (static_cast<uint64_t>(std::min(u, v)) << 32) | std::max(u, v);
}

inline uint32_t undirected_edge_low(UndirectedEdge key) { return static_cast<uint32_t>(key >> 32); }
inline uint32_t undirected_edge_high(UndirectedEdge key) { return static_cast<uint32_t>(key); }

}  // namespace vorrel
