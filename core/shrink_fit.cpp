#include "core/shrink_fit.h"

#include <cmath>

#include "core/attribute_transfer.h"
#include "core/parallel.h"

namespace vorrel {

void shrink_fit(std::span<Vec3> positions, std::span<const Vec3> input_positions, double max_distance) {
  if (positions.empty() || input_positions.empty() || !(max_distance > 0.0)) return;
  const NearestVertexGrid grid = NearestVertexGrid::build(input_positions);
  const double max_squared = max_distance * max_distance;
  parallel_for(0, positions.size(), [&](size_t v) {
    Vec3 p = positions[v];
    std::optional<uint32_t> nearest = grid.nearest_vertex(p);
    if (!nearest) return;
    Vec3 target = input_positions[*nearest];
    Vec3 d = target - p;
    double squared = norm_squared(d);
    // Within reach the vertex takes the input position itself: p + (target − p)
    // can miss it by a rounding step.
    positions[v] = squared > max_squared ? p + d * (max_distance / std::sqrt(squared)) : target;
  });
}

}  // namespace vorrel
