#pragma once
// Pinhole sealing: fills small closed boundary loops of a triangle list with
// fans of new triangles. Works on connectivity alone: never reads positions,
// adds no vertices, and appends triangles without changing existing ones, so
// indices out of range for any vertex array are harmless here.

#include <cstdint>
#include <vector>

#include "core/mesh.h"

namespace vorrel {

// Finds every closed boundary loop of at most `max_loop` edges and appends a
// fan that closes it, oriented like the neighbouring triangles. The fan's apex
// is the loop vertex whose diagonals are least often already shared, so few
// edges end up used by three or more triangles. Holes are filled in ascending
// order of their start vertex, so the result does not depend on hash order.
// Returns the number of holes filled.
uint64_t seal_pinholes(std::vector<Triangle>& triangles, uint64_t max_loop);

}  // namespace vorrel
