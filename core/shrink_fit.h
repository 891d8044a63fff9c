#pragma once
// Final step of the binary-voxel path: pulls proxy vertices towards the input
// vertices (not the input surface) by a bounded distance.

#include <span>

#include "core/vec3.h"

namespace vorrel {

// Moves every proxy vertex onto its nearest input vertex when that lies within
// max_distance, and otherwise exactly max_distance towards it. Each vertex
// depends only on its own position, so the parallel loop is deterministic.
// Does nothing without proxy or input vertices, or when max_distance is not
// greater than 0 (NaN included).
void shrink_fit(std::span<Vec3> positions, std::span<const Vec3> input_positions, double max_distance);

}  // namespace vorrel
