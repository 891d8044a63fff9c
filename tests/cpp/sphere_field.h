#pragma once
// An analytic distance field for remeshing tests and benchmarks.

#include <cmath>
#include <cstdint>

#include "core/sdf.h"

namespace vorrel {

// Exact distance to the unit sphere at the centres of an n³ grid spanning
// [−half_extent, half_extent]³.
inline DistanceField unit_sphere_field(uint64_t n, double half_extent) {
  DistanceField field;
  field.nx = field.ny = field.nz = n;
  field.cell_size = 2.0 * half_extent / double(n);
  field.origin = {-half_extent, -half_extent, -half_extent};
  field.half_diagonal = field.cell_size * std::sqrt(3.0) / 2.0;
  field.values.resize(n * n * n);
  for (uint64_t z = 0; z < n; ++z) {
    for (uint64_t y = 0; y < n; ++y) {
      for (uint64_t x = 0; x < n; ++x) {
        const Vec3 p = field.origin + field.cell_size * Vec3{x + 0.5, y + 0.5, z + 0.5};
        field.values[x + n * (y + n * z)] = static_cast<float>(norm(p) - 1.0);
      }
    }
  }
  return field;
}

}  // namespace vorrel
