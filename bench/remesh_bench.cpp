// Seconds per remeshing iteration and per pass type on marching-cubes proxies
// of a sphere field, at about 100k and 1M triangles, with the iso projection
// the pipeline applies (target edge one cell, projection to 1.5 cells).
//
// Usage: remesh_bench [grid cells along the axis ...]   (default 112 355)

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/marching_cubes.h"
#include "core/remesh.h"
#include "core/remesh_ops.h"
#include "core/sdf.h"
#include "tests/cpp/sphere_field.h"

namespace {

using namespace vorrel;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct PassSeconds {
  double split = 0, collapse = 0, flip = 0, relax = 0, project = 0;
};

template <class Fn>
auto timed(double& total, Fn&& fn) {
  const auto start = Clock::now();
  auto result = fn();
  total += seconds_since(start);
  return result;
}

// The uniform driver's iteration, pass by pass.
void bench_passes(const Mesh& proxy, const DistanceField& field, double iso, uint64_t iterations) {
  RemeshMesh mesh = RemeshMesh::copy_of(proxy.positions, proxy.indices);
  RemeshWorkspace ws;
  const LengthRule rule{.base = field.cell_size};
  PassSeconds s;
  for (uint64_t k = 1; k <= iterations; ++k) {
    const PassSeconds before = s;
    const uint64_t splits = timed(s.split, [&] { return split_phase(mesh, ws, rule); });
    const uint64_t collapses = timed(s.collapse, [&] { return collapse_pass(mesh, ws, rule); });
    const uint64_t flips = timed(s.flip, [&] { return flip_pass(mesh, ws); });
    timed(s.relax, [&] { return relax_tangential(mesh, ws, 0.3), 0; });
    timed(s.project, [&] {
      return project_to_iso_surface(mesh.positions, field, 2, iso, 1.5 * field.cell_size), 0;
    });
    std::printf("  iter %lu: split %.3fs (%lu), collapse %.3fs (%lu), flip %.3fs (%lu), relax %.3fs, project %.3fs, "
                "%lu live tris\n",
                k, s.split - before.split, splits, s.collapse - before.collapse, collapses, s.flip - before.flip,
                flips, s.relax - before.relax, s.project - before.project, mesh.live_count());
  }
  double cleanup = 0;
  const Mesh result = timed(cleanup, [&] { return cleanup_remesh(mesh, ws); });
  std::printf("  per iteration: split %.3fs, collapse %.3fs, flip %.3fs, relax %.3fs, project %.3fs; cleanup %.3fs\n",
              s.split / iterations, s.collapse / iterations, s.flip / iterations, s.relax / iterations,
              s.project / iterations, cleanup);
}

void bench_grid(uint64_t n) {
  const DistanceField field = unit_sphere_field(n, 1.1);
  const double iso = 0.5 * field.cell_size;
  const Mesh proxy = extract_iso_surface(field.values, n, n, n, field.origin, field.cell_size, iso);
  std::printf("sphere proxy, grid %lu³: %lu vertices, %lu triangles\n", n, proxy.vertex_count(), proxy.face_count());
  const uint64_t iterations = 3;
  const RemeshProjection projection{field, iso, 1.5 * field.cell_size};
  const auto start = Clock::now();
  const Expected<Mesh> result =
      isotropic_remesh(proxy.positions, proxy.indices, {.target_edge = field.cell_size, .iterations = iterations},
                       &projection);
  const double total = seconds_since(start);
  std::printf("  isotropic_remesh: %.3fs for %lu iterations and cleanup (%.3fs per iteration), %lu triangles out\n",
              total, iterations, total / iterations, result.ok() ? result->face_count() : 0);
  bench_passes(proxy, field, iso, iterations);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint64_t> grids;
  for (int i = 1; i < argc; ++i) grids.push_back(std::strtoull(argv[i], nullptr, 10));
  if (grids.empty()) grids = {112, 355};
  for (uint64_t n : grids) bench_grid(n);
  return 0;
}
