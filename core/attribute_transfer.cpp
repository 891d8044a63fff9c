#include "core/attribute_transfer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/parallel.h"
#include "core/vertex_normals.h"

namespace vorrel {
namespace {

using Uv = std::array<float, 2>;

// clamp(⌊g⌋, 0, n − 1) for a grid coordinate g = (coordinate − min) / cell
// size; a NaN coordinate lands in cell 0.
uint64_t clamped_cell(double g, uint64_t n) {
  double f = std::floor(g);
  if (!(f >= 0.0)) return 0;
  if (f >= static_cast<double>(n - 1)) return n - 1;
  return static_cast<uint64_t>(f);
}

// max(⌈extent · inv⌉, 1); an extent without a finite cell count gets one cell.
uint64_t cell_count(double extent, double inv) {
  double f = std::ceil(extent * inv);
  return f >= 1.0 ? static_cast<uint64_t>(f) : 1;
}

// Lower bound, in grid units, of the distance along one axis from a query at
// grid coordinate g to any point stored in cell `cell` of `n`; the outer cells
// also hold the points clamped into them, so they are open towards outside.
// Shrunk by far more than the rounding of the grid coordinates, so that a cell
// is only ever skipped when none of its points can be strictly nearer.
double cell_gap(int64_t cell, double g, uint64_t n) {
  double below = cell > 0 ? static_cast<double>(cell) - g : 0.0;
  double above = static_cast<uint64_t>(cell) + 1 < n ? g - static_cast<double>(cell + 1) : 0.0;
  return std::max(std::max(below, above) - 1e-9 * (1.0 + std::abs(g)), 0.0);
}

void bound_points(std::span<const Vec3> points, Vec3& lo, Vec3& hi) {
  lo = hi = points[0];
  for (const Vec3& p : points) {
    for (int axis = 0; axis < 3; ++axis) {
      lo[axis] = std::min(lo[axis], p[axis]);
      hi[axis] = std::max(hi[axis], p[axis]);
    }
  }
}

}  // namespace

NearestVertexGrid NearestVertexGrid::build(std::span<const Vec3> points) {
  NearestVertexGrid grid;
  grid.points.assign(points.begin(), points.end());
  if (points.empty()) {
    grid.cell_starts = {0, 0};
    return grid;
  }
  Vec3 hi;
  bound_points(points, grid.min, hi);
  Vec3 extent = hi - grid.min;
  double largest = 1e-12;
  for (int axis = 0; axis < 3; ++axis) {
    if (extent[axis] > largest) largest = extent[axis];
  }
  double cells_wanted = std::max(static_cast<double>(points.size()) / 25.0, 1.0);
  grid.cell_size = std::max(std::cbrt(largest * largest * largest / cells_wanted), largest / 1024.0);
  grid.inv_cell_size = 1.0 / grid.cell_size;
  grid.nx = cell_count(extent.x, grid.inv_cell_size);
  grid.ny = cell_count(extent.y, grid.inv_cell_size);
  grid.nz = cell_count(extent.z, grid.inv_cell_size);

  // Counting sort by cell keeps the indices within each cell increasing.
  const uint64_t cells = grid.nx * grid.ny * grid.nz;
  std::vector<uint64_t> cell_of(points.size());
  grid.cell_starts.assign(cells + 1, 0);
  for (size_t i = 0; i < points.size(); ++i) {
    Vec3 g = (points[i] - grid.min) * grid.inv_cell_size;
    uint64_t x = clamped_cell(g.x, grid.nx);
    uint64_t y = clamped_cell(g.y, grid.ny);
    uint64_t z = clamped_cell(g.z, grid.nz);
    cell_of[i] = x + grid.nx * (y + grid.ny * z);
    ++grid.cell_starts[cell_of[i] + 1];
  }
  for (uint64_t c = 0; c < cells; ++c) grid.cell_starts[c + 1] += grid.cell_starts[c];
  grid.cell_points.resize(points.size());
  std::vector<size_t> next(grid.cell_starts.begin(), grid.cell_starts.end() - 1);
  for (size_t i = 0; i < points.size(); ++i) grid.cell_points[next[cell_of[i]]++] = static_cast<uint32_t>(i);
  return grid;
}

std::optional<uint32_t> NearestVertexGrid::nearest_vertex(Vec3 q) const {
  const Vec3 g = (q - min) * inv_cell_size;
  const int64_t cx = static_cast<int64_t>(clamped_cell(g.x, nx));
  const int64_t cy = static_cast<int64_t>(clamped_cell(g.y, ny));
  const int64_t cz = static_cast<int64_t>(clamped_cell(g.z, nz));
  const double cell_area = cell_size * cell_size * (1.0 - 1e-9);
  double best = std::numeric_limits<double>::infinity();
  std::optional<uint32_t> found;

  auto visit_cell = [&](int64_t x, int64_t y, int64_t z, double gap_yz_squared) {
    double gap_x = cell_gap(x, g.x, nx);
    // Skipping a cell whose every point is farther than the best so far cannot
    // change the result, ties included (only a strictly nearer point wins).
    if ((gap_x * gap_x + gap_yz_squared) * cell_area > best) return;
    uint64_t cell = static_cast<uint64_t>(x) + nx * (static_cast<uint64_t>(y) + ny * static_cast<uint64_t>(z));
    for (size_t k = cell_starts[cell]; k < cell_starts[cell + 1]; ++k) {
      uint32_t index = cell_points[k];
      double d = norm_squared(points[index] - q);
      if (d < best) {
        best = d;
        found = index;
      }
    }
  };
  // Cells at Chebyshev distance exactly `shell`, by increasing z, then y, then x.
  auto visit_shell = [&](int64_t shell) {
    const int64_t x_lo = std::max<int64_t>(cx - shell, 0), x_hi = std::min<int64_t>(cx + shell, nx - 1);
    const int64_t y_lo = std::max<int64_t>(cy - shell, 0), y_hi = std::min<int64_t>(cy + shell, ny - 1);
    const int64_t z_lo = std::max<int64_t>(cz - shell, 0), z_hi = std::min<int64_t>(cz + shell, nz - 1);
    for (int64_t z = z_lo; z <= z_hi; ++z) {
      double gap_z = cell_gap(z, g.z, nz);
      for (int64_t y = y_lo; y <= y_hi; ++y) {
        double gap_y = cell_gap(y, g.y, ny);
        double gap_yz_squared = gap_y * gap_y + gap_z * gap_z;
        if (std::abs(z - cz) == shell || std::abs(y - cy) == shell) {
          for (int64_t x = x_lo; x <= x_hi; ++x) visit_cell(x, y, z, gap_yz_squared);
          continue;
        }
        if (cx - shell >= 0) visit_cell(cx - shell, y, z, gap_yz_squared);
        if (shell > 0 && cx + shell < static_cast<int64_t>(nx)) visit_cell(cx + shell, y, z, gap_yz_squared);
      }
    }
  };

  const int64_t last_shell = static_cast<int64_t>(std::max({nx, ny, nz})) + 1;
  for (int64_t shell = 0;; ++shell) {
    visit_shell(shell);
    // Every point of a farther shell is at least shell · cell_size away from q.
    if (found && std::sqrt(best) <= static_cast<double>(shell) * cell_size) break;
    if (shell >= last_shell) break;
  }
  return found;
}

namespace {

Vec3 unit_or_up(Vec3 n) {
  double length = norm(n);
  return length > 1e-12 ? n / length : Vec3{0, 1, 0};
}

std::vector<Vec3> unit_normals_or_up(std::vector<Vec3> sums) {
  for (Vec3& n : sums) n = unit_or_up(n);
  return sums;
}

std::vector<Vec3> input_vertex_normals(std::span<const Vec3> positions, std::span<const Triangle> triangles,
                                       std::optional<std::span<const Vec3>> corner_normals) {
  if (!corner_normals) return unit_normals_or_up(area_weighted_normal_sums(positions, triangles));
  std::vector<Vec3> sums(positions.size());
  for (size_t f = 0; f < triangles.size(); ++f) {
    for (size_t j = 0; j < 3; ++j) {
      size_t slot = 3 * f + j;
      uint32_t v = triangles[f][j];
      if (slot < corner_normals->size() && v < positions.size()) sums[v] += (*corner_normals)[slot];
    }
  }
  return unit_normals_or_up(std::move(sums));
}

// The UV of each vertex's first corner in triangle order; (0, 0) for a vertex
// no corner with a UV reaches.
std::vector<Uv> input_vertex_uvs(size_t vertex_count, std::span<const Triangle> triangles,
                                 std::span<const Uv> corner_uvs) {
  std::vector<Uv> uvs(vertex_count, Uv{0.0f, 0.0f});
  std::vector<uint8_t> set(vertex_count, 0);
  for (size_t f = 0; f < triangles.size(); ++f) {
    for (size_t j = 0; j < 3; ++j) {
      size_t slot = 3 * f + j;
      uint32_t v = triangles[f][j];
      if (v < vertex_count && slot < corner_uvs.size() && !set[v]) {
        uvs[v] = corner_uvs[slot];
        set[v] = 1;
      }
    }
  }
  return uvs;
}

std::vector<Vec3> own_corner_normals(std::span<const Vec3> positions, std::span<const Triangle> triangles) {
  std::vector<Vec3> vertex_normals = unit_normals_or_up(area_weighted_normal_sums(positions, triangles));
  std::vector<Vec3> corners(3 * triangles.size());
  for (size_t f = 0; f < triangles.size(); ++f) {
    for (size_t j = 0; j < 3; ++j) {
      uint32_t v = triangles[f][j];
      if (v < vertex_normals.size()) corners[3 * f + j] = vertex_normals[v];
    }
  }
  return corners;
}

}  // namespace

TransferredAttributes transfer_attributes(std::span<const Vec3> input_positions,
                                          std::span<const Triangle> input_triangles,
                                          std::optional<std::span<const Vec3>> input_normals,
                                          std::optional<std::span<const std::array<float, 2>>> input_uvs,
                                          std::span<const Vec3> proxy_positions,
                                          std::span<const Triangle> proxy_triangles, bool transfer_normals,
                                          bool transfer_uvs) {
  TransferredAttributes result;
  const bool uvs_transferred = transfer_uvs && input_uvs.has_value();
  if (!transfer_normals && !uvs_transferred) {
    result.normals = own_corner_normals(proxy_positions, proxy_triangles);
    return result;
  }

  std::vector<Vec3> vertex_normals;
  if (transfer_normals) {
    vertex_normals = input_vertex_normals(input_positions, input_triangles, input_normals);
    result.normals.emplace(3 * proxy_triangles.size());
  }
  std::vector<Uv> vertex_uvs;
  if (uvs_transferred) {
    vertex_uvs = input_vertex_uvs(input_positions.size(), input_triangles, *input_uvs);
    result.uvs.emplace(3 * proxy_triangles.size(), Uv{0.0f, 0.0f});
  }
  const NearestVertexGrid grid = NearestVertexGrid::build(input_positions);

  // A corner's nearest input vertex depends only on its proxy vertex, so each
  // proxy vertex is looked up once and shared by its corners and by both
  // attributes.
  std::vector<std::optional<uint32_t>> nearest(proxy_positions.size());
  parallel_map(nearest, [&](size_t v) { return grid.nearest_vertex(proxy_positions[v]); });
  parallel_for(0, proxy_triangles.size(), [&](size_t f) {
    for (size_t j = 0; j < 3; ++j) {
      uint32_t v = proxy_triangles[f][j];
      if (v >= nearest.size() || !nearest[v]) continue;
      if (result.normals) (*result.normals)[3 * f + j] = vertex_normals[*nearest[v]];
      if (result.uvs) (*result.uvs)[3 * f + j] = vertex_uvs[*nearest[v]];
    }
  });
  return result;
}

}  // namespace vorrel
