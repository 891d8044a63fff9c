#include "core/vertex_normals.h"

namespace vorrel {

std::vector<Vec3> area_weighted_normal_sums(std::span<const Vec3> positions, std::span<const Triangle> triangles) {
  std::vector<Vec3> sums(positions.size());
  const size_t n = positions.size();
  for (const Triangle& t : triangles) {
    if (t[0] >= n || t[1] >= n || t[2] >= n) continue;
    Vec3 p0 = positions[t[0]];
    Vec3 face = cross(positions[t[1]] - p0, positions[t[2]] - p0);
    for (uint32_t v : t) sums[v] += face;
  }
  return sums;
}

}  // namespace vorrel
