#pragma once
// Isotropic and curvature-adaptive remeshing of a proxy surface: repeated edge
// splits, edge collapses, valence-improving flips and tangential relaxation,
// optionally pulled back onto a distance-field iso level after every iteration,
// then a cleanup of degenerate, inverted and surplus non-manifold triangles.
//
// The splits, collapses and flips are committed one by one in a fixed order;
// the maps, scans, sorts and per-vertex steps around them run in parallel and
// give the same result for any number of threads. Writes its progress lines
// to standard error.

#include <cstdint>
#include <optional>
#include <span>

#include "core/error.h"
#include "core/mesh.h"

namespace vorrel {

struct DistanceField;

struct RemeshParams {
  std::optional<double> target_edge;     // world units; absent: mean input edge length
  std::optional<uint64_t> target_faces;  // uniform driver only
  uint64_t iterations = 0;
  double relax_weight = 0.3;
  double min_factor = 0.25;  // adaptive: local target on the most curved regions, times the base target
  double max_factor = 3.0;   // adaptive: local target on flat regions, times the base target
  bool adaptive = false;
};

// Pulls the vertices back onto `field`'s `iso` level after every iteration,
// each by at most `max_displacement` (both in world units).
struct RemeshProjection {
  const DistanceField& field;
  double iso = 0.0;
  double max_displacement = 0.0;
};

// Returns the remeshed, compacted surface. Fails only when a triangle index is
// not below the vertex count. `projection` may be null.
Expected<Mesh> isotropic_remesh(std::span<const Vec3> positions, std::span<const Triangle> triangles,
                                const RemeshParams& params, const RemeshProjection* projection);

}  // namespace vorrel
