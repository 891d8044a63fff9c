#pragma once
// Area-weighted vertex normals, shared by the smoothing filters and attribute
// transfer. Callers normalise the sums themselves because they treat
// degenerate sums differently.

#include <span>
#include <vector>

#include "core/mesh.h"

namespace vorrel {

// Per vertex, the sum of (p1 − p0) × (p2 − p0) over the triangles using it
// (twice the triangle area along its normal, so larger triangles weigh more),
// added in triangle order and corner order. A triangle with a corner index
// not below the vertex count is skipped.
std::vector<Vec3> area_weighted_normal_sums(std::span<const Vec3> positions, std::span<const Triangle> triangles);

}  // namespace vorrel
