#include "core/remesh.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/progress.h"
#include "core/remesh_ops.h"
#include "core/sdf.h"

namespace vorrel {
namespace {

// Mean length of the distinct edges joining two different vertices; 1.0 without any.
double mean_edge_length(const RemeshMesh& mesh, RemeshWorkspace& ws) {
  ws.edges.build(mesh);
  double sum = 0.0;
  uint64_t count = 0;
  for (uint64_t e = 0; e < ws.edges.size(); ++e) {
    if (ws.edges.lo(e) == ws.edges.hi(e)) continue;
    sum += norm(mesh.positions[ws.edges.lo(e)] - mesh.positions[ws.edges.hi(e)]);
    ++count;
  }
  return count > 0 ? sum / static_cast<double>(count) : 1.0;
}

// Splitting to edges k times shorter multiplies the triangle count by about
// k², and the split phase needs far more passes than that once k grows: a pass
// splits at most one edge around any vertex, and on a coarse mesh each split
// adds a long edge to the vertex across from it. So a given target is held to
// at most this refinement of the mesh's own edges. The pipeline only asks for
// more when its target cannot be honoured anyway: a target-face request on a
// zero-area input (the rule's floor of 1e-12), or one so large that the voxel
// resolution it wants is over a dozen times the 512 the rule allows.
constexpr double kMaxRefinement = 4.0;

// A given target that is not a positive finite length would make the split
// phase halve edges without end, so it falls back to the derived one.
double base_target(const RemeshMesh& mesh, RemeshWorkspace& ws, const RemeshParams& params) {
  const double mean = mean_edge_length(mesh, ws);
  if (params.target_edge && std::isfinite(*params.target_edge) && *params.target_edge > 0.0) {
    return std::max(*params.target_edge, mean / kMaxRefinement);
  }
  return mean;
}

struct IterationCounts {
  uint64_t before = 0;
  uint64_t splits = 0;
  uint64_t collapses = 0;
  uint64_t flips = 0;
};

// Split phase, collapse pass, flips, relaxation and the optional pull back
// onto the iso level: the body shared by both drivers.
IterationCounts run_iteration(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule,
                              const RemeshParams& params, const RemeshProjection* projection) {
  IterationCounts counts;
  counts.before = mesh.live_count();
  counts.splits = split_phase(mesh, ws, rule);
  counts.collapses = collapse_pass(mesh, ws, rule);
  counts.flips = flip_pass(mesh, ws);
  relax_tangential(mesh, ws, params.relax_weight);
  if (projection) {
    project_to_iso_surface(mesh.positions, projection->field, 2, projection->iso, projection->max_displacement);
  }
  return counts;
}

void write_iteration_line(uint64_t k, const IterationCounts& counts, uint64_t after) {
  write_console(fmt::format("    Iter {}: {} splits, {} collapses, {} flips, {} -> {} tris\n", k, counts.splits,
                            counts.collapses, counts.flips, counts.before, after));
}

void uniform_driver(RemeshMesh& mesh, RemeshWorkspace& ws, double target, const RemeshParams& params,
                    const RemeshProjection* projection) {
  const LengthRule rule{.base = target};
  const uint64_t n = params.target_faces ? std::max<uint64_t>(params.iterations, 25) : params.iterations;
  write_console(fmt::format("    Remeshing: target_edge={:.4f}, high={:.4f}, low={:.4f}, {} iterations\n", target,
                            target * 4.0 / 3.0, target * 4.0 / 5.0, n));
  for (uint64_t k = 1; k <= n; ++k) {
    const IterationCounts counts = run_iteration(mesh, ws, rule, params, projection);
    const uint64_t after = mesh.live_count();
    write_iteration_line(k, counts, after);
    if (counts.splits + counts.collapses + counts.flips == 0) break;
    if (params.target_faces && static_cast<double>(after) <= 1.15 * static_cast<double>(*params.target_faces)) break;
  }
}

void adaptive_driver(RemeshMesh& mesh, RemeshWorkspace& ws, double target, const RemeshParams& params,
                     const RemeshProjection* projection) {
  const LengthRule rule{
      .base = target, .adaptive = true, .min_factor = params.min_factor, .max_factor = params.max_factor};
  write_console(fmt::format("    Adaptive remeshing: base_target={:.4f}, min_factor={:.2f}, max_factor={:.2f}, {} "
                            "iterations\n",
                            target, params.min_factor, params.max_factor, params.iterations));
  for (uint64_t k = 1; k <= params.iterations; ++k) {
    const IterationCounts counts = run_iteration(mesh, ws, rule, params, projection);
    if (k % 2 == 0) compact(mesh);
    write_iteration_line(k, counts, mesh.live_count());
  }
}

}  // namespace

Expected<Mesh> isotropic_remesh(std::span<const Vec3> positions, std::span<const Triangle> triangles,
                                const RemeshParams& params, const RemeshProjection* projection) {
  if (Status status = check_triangle_indices(triangles, positions.size())) return *status;
  RemeshMesh mesh = RemeshMesh::copy_of(positions, triangles);
  RemeshWorkspace ws;
  const double target = base_target(mesh, ws, params);
  if (params.adaptive) {
    adaptive_driver(mesh, ws, target, params, projection);
  } else {
    uniform_driver(mesh, ws, target, params, projection);
  }
  return cleanup_remesh(mesh, ws);
}

}  // namespace vorrel
