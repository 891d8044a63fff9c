#include "core/proxy.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <fmt/format.h>

#include "core/marching_cubes.h"
#include "core/progress.h"
#include "core/remesh.h"
#include "core/repair.h"
#include "core/sdf.h"
#include "core/shrink_fit.h"
#include "core/smooth.h"
#include "core/voxelize.h"

namespace vorrel {
namespace {

constexpr uint64_t kMaxPinholeLoop = 8;

// The offset in cells as the stages use it: negative and NaN count as 0. It is
// bounded by the grid resolution so that an infinite or absurd offset cannot
// demand an unbounded grid or dilation count; a proxy that far out is a blob
// more than twice the input's size either way.
double effective_offset(const ProxySettings& settings) {
  double o = settings.offset > 0.0 ? settings.offset : 0.0;
  return std::min(o, static_cast<double>(std::max<uint64_t>(settings.voxel_res, 1)));
}

// Projection and shrink-fit run only for a positive distance (NaN disables).
bool projection_enabled(const ProxySettings& settings) { return settings.project > 0.0; }

bool is_finite(const Vec3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

// The input without vertices that have a non-finite coordinate and without the
// triangles that use them; the stages require finite data. Every index must be
// below the vertex count.
Mesh finite_part(std::span<const Vec3> positions, std::span<const Triangle> indices) {
  constexpr uint32_t kNoVertex = 0xFFFFFFFFu;
  Mesh kept;
  std::vector<uint32_t> renumber(positions.size(), kNoVertex);
  for (size_t v = 0; v < positions.size(); ++v) {
    if (!is_finite(positions[v])) continue;
    renumber[v] = static_cast<uint32_t>(kept.positions.size());
    kept.positions.push_back(positions[v]);
  }
  for (const Triangle& t : indices) {
    Triangle mapped{renumber[t[0]], renumber[t[1]], renumber[t[2]]};
    if (mapped[0] != kNoVertex && mapped[1] != kNoVertex && mapped[2] != kNoVertex) kept.indices.push_back(mapped);
  }
  return kept;
}

// Distance from the input, in cells, at which the far field reaches w cells.
// The transform combines a band cell's own distance with the offset to it as
// if the two were perpendicular, so past the input it grows more slowly than
// the true distance: about D/√2 within √2 band widths, and √((D − b)² + b²)
// beyond the band's edge b.
double far_field_reach_cells(double w, double band) {
  const double sqrt2 = std::sqrt(2.0);
  if (w <= band * sqrt2) return w * sqrt2;
  return band + std::sqrt(w * w - band * band);
}

Status smooth_proxy(Mesh& proxy, const ProxySettings& settings) {
  if (settings.smooth == 0) return std::nullopt;
  if (settings.bilateral) {
    return bilateral_smooth(proxy.positions, proxy.indices, settings.smooth, settings.bilateral_sigma_n);
  }
  return taubin_smooth(proxy.positions, proxy.indices, settings.smooth, settings.smooth_lambda);
}

RemeshParams remesh_params(const ProxySettings& settings, bool with_target_faces) {
  RemeshParams params;
  params.target_edge = settings.target_edge;
  if (with_target_faces) params.target_faces = settings.target_faces;
  params.iterations = settings.remesh;
  params.relax_weight = 0.3;
  params.min_factor = 0.25;
  params.max_factor = 3.0;
  params.adaptive = settings.adaptive_remesh;
  return params;
}

void seal(Mesh& proxy, const char* what) {
  const uint64_t filled = seal_pinholes(proxy.indices, kMaxPinholeLoop);
  if (filled != 0) write_console(fmt::format("  sealed {} {} pinholes\n", filled, what));
}

Expected<Mesh> distance_field_path(std::span<const Vec3> positions, std::span<const Triangle> indices,
                                   const ProxySettings& settings) {
  const double o = effective_offset(settings);
  const double w = std::max(o, 1.0);
  const double band = std::clamp(w + 0.6, 2.0, 4.0);
  // The grid must reach past the cells where the far field exceeds the iso
  // level, or the extracted surface is cut open at the border.
  const uint64_t standard_pad = settings.close + static_cast<uint64_t>(std::ceil(band)) + 2;
  const uint64_t iso_pad = static_cast<uint64_t>(std::ceil(far_field_reach_cells(w, band))) + 2;
  const uint64_t extra_pad = iso_pad > standard_pad ? iso_pad - standard_pad : 0;
  Expected<DistanceField> built =
      build_distance_field(positions, indices, settings.voxel_res, settings.close, band, extra_pad);
  if (!built.ok()) return built.error();
  DistanceField field = std::move(built).value();
  const double h = field.cell_size;
  const double iso = w * h;
  if (Status failed = compute_far_field(field, iso)) return *failed;

  Mesh proxy = extract_iso_surface(field.values, field.nx, field.ny, field.nz, field.origin, h, iso);
  seal(proxy, "marching-cubes");
  if (Status failed = smooth_proxy(proxy, settings)) return *failed;

  if (settings.remesh > 0) {
    std::optional<RemeshProjection> projection;
    if (projection_enabled(settings)) projection.emplace(RemeshProjection{field, iso, 1.5 * h});
    Expected<Mesh> remeshed = isotropic_remesh(proxy.positions, proxy.indices, remesh_params(settings, true),
                                               projection ? &*projection : nullptr);
    if (!remeshed.ok()) return remeshed.error();
    proxy = std::move(remeshed).value();
    seal(proxy, "remesh");
  }

  if (projection_enabled(settings)) {
    auto stage = StageProgress::start(fmt::format("project to offset surface ({:.2f} cells)", o), 0);
    if (Status failed = project_to_offset_surface(proxy.positions, field, positions, indices, o * h,
                                                  h * settings.project)) {
      return *failed;
    }
    stage.finish();
  }
  return proxy;
}

Expected<Mesh> binary_voxel_path(std::span<const Vec3> positions, std::span<const Triangle> indices,
                                 const ProxySettings& settings) {
  // Dilation passes: the offset rounded half away from zero (NaN and negative give 0).
  const uint64_t passes = static_cast<uint64_t>(std::round(effective_offset(settings)));
  // Each pass grows the solid by one cell; the padding leaves room for all of
  // them plus an outside layer, so the extracted surface stays closed.
  Expected<VoxelGrid> voxelized = voxelize(positions, indices, settings.voxel_res, passes);
  if (!voxelized.ok()) return voxelized.error();
  VoxelGrid grid = std::move(voxelized).value();
  const double h = grid.cell_size;
  if (passes > 0) {
    auto stage = StageProgress::start(fmt::format("dilate (\u00d7{})", passes), 0);
    if (Status failed = dilate(grid, passes)) return *failed;
    stage.finish();
  }
  Mesh proxy = extract_voxel_surface(grid);
  grid = VoxelGrid{};
  if (Status failed = smooth_proxy(proxy, settings)) return *failed;

  if (settings.remesh > 0) {
    Expected<Mesh> remeshed = isotropic_remesh(proxy.positions, proxy.indices, remesh_params(settings, false), nullptr);
    if (!remeshed.ok()) return remeshed.error();
    proxy = std::move(remeshed).value();
  }

  if (projection_enabled(settings)) {
    const double distance = h * settings.project;
    auto stage = StageProgress::start(
        fmt::format("shrink-fit ({:.2f} voxels = {:.4f} world)", settings.project, distance), 0);
    shrink_fit(proxy.positions, positions, distance);
    stage.finish();
  }
  return proxy;
}

}  // namespace

Expected<Mesh> build_proxy(std::span<const Vec3> positions, std::span<const Triangle> indices,
                           const ProxySettings& settings) {
  Mesh finite;
  if (!std::all_of(positions.begin(), positions.end(), is_finite)) {
    if (Status bad = check_triangle_indices(indices, positions.size())) return *bad;
    finite = finite_part(positions, indices);
    positions = finite.positions;
    indices = finite.indices;
  }
  Expected<Mesh> proxy = settings.use_sdf ? distance_field_path(positions, indices, settings)
                                          : binary_voxel_path(positions, indices, settings);
  if (!proxy.ok()) return proxy;
  write_console(fmt::format("  proxy: {} vertices, {} faces\n", proxy->positions.size(), proxy->indices.size()));
  return proxy;
}

}  // namespace vorrel
