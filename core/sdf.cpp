#include "core/sdf.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "core/parallel.h"
#include "core/progress.h"

namespace vorrel {
namespace {

constexpr uint64_t kEmptyBandEntry = 0x7F800000FFFFFFFFull;
constexpr double kSqrt3 = 1.7320508075688772;

uint64_t pack_band_entry(float distance, uint32_t triangle) {
  return (uint64_t{std::bit_cast<uint32_t>(distance)} << 32) | triangle;
}

void atomic_min(uint64_t& slot, uint64_t candidate) {
  std::atomic_ref<uint64_t> ref(slot);
  uint64_t current = ref.load(std::memory_order_relaxed);
  while (candidate < current && !ref.compare_exchange_weak(current, candidate, std::memory_order_relaxed)) {
  }
}

// floor((coordinate − origin) / h) clamped to [0, n − 1]; NaN gives 0.
uint64_t clamped_cell(double coordinate, double origin, double h, uint64_t n) {
  const double c = std::floor((coordinate - origin) / h);
  if (!(c > 0.0)) return 0;
  if (c >= static_cast<double>(n - 1)) return n - 1;
  return static_cast<uint64_t>(c);
}

struct CellRange {
  uint64_t lo[3], hi[3];
};

CellRange band_cells_of(const Vec3& lo, const Vec3& hi, const DistanceField& f, double reach) {
  const uint64_t n[3] = {f.nx, f.ny, f.nz};
  CellRange r{};
  for (int axis = 0; axis < 3; ++axis) {
    r.lo[axis] = clamped_cell(lo[axis] - reach, f.origin[axis], f.cell_size, n[axis]);
    r.hi[axis] = clamped_cell(hi[axis] + reach, f.origin[axis], f.cell_size, n[axis]);
  }
  return r;
}

// Narrows [x_lo, x_hi] to the cells of row (py, pz) whose centres can lie in
// the sphere |p − centre|² ≤ limit, keeping one spare cell on each side so the
// exact per-cell test alone decides at the ends; false when none can.
bool row_meets_sphere(const DistanceField& f, Vec3 centre, double limit, double py, double pz, uint64_t& x_lo,
                      uint64_t& x_hi) {
  const double across = (py - centre.y) * (py - centre.y) + (pz - centre.z) * (pz - centre.z);
  if (!(across <= limit)) return false;
  const double half = std::sqrt(limit - across);
  const double lo = std::floor((centre.x - half - f.origin.x) / f.cell_size - 0.5) - 1.0;
  const double hi = std::ceil((centre.x + half - f.origin.x) / f.cell_size - 0.5) + 1.0;
  if (lo > static_cast<double>(x_lo)) x_lo = lo >= static_cast<double>(x_hi) ? x_hi : static_cast<uint64_t>(lo);
  if (hi < static_cast<double>(x_hi)) x_hi = hi <= static_cast<double>(x_lo) ? x_lo : static_cast<uint64_t>(hi);
  return true;
}

// Whether a triangle whose distance from a cell centre is at least
// `lower_bound` can neither lower the cell's band entry nor newly mark it
// Surface. Entries only decrease and Surface marks stay, so a stale read can
// only make this answer false: skipping on true never changes the outcome.
bool cannot_change_cell(const uint64_t& entry, const CellState& state, double lower_bound, double half_diagonal) {
  const uint64_t current = std::atomic_ref<const uint64_t>(entry).load(std::memory_order_relaxed);
  const float current_distance = std::bit_cast<float>(static_cast<uint32_t>(current >> 32));
  // float(d) ≥ float(lower_bound) > current distance: the packed minimum keeps the entry.
  if (!(static_cast<float>(lower_bound) > current_distance)) return false;
  return lower_bound > half_diagonal ||
         std::atomic_ref<const CellState>(state).load(std::memory_order_relaxed) == CellState::Surface;
}

// Lowers the band entries of every cell centre within `reach` of triangle t and
// marks those within half a diagonal as Surface. Cells whose centre is farther
// than the reach from the triangle's plane or from its bounding sphere (with a
// margin far above rounding) cannot pass the exact test and are rejected first,
// as are cells that another triangle already holds closer than this one can be.
void rasterize_band(const DistanceField& f, Vec3 a, Vec3 b, Vec3 c, uint32_t t, double reach, uint64_t* entries,
                    CellState* states) {
  const Vec3 lo{std::min({a.x, b.x, c.x}), std::min({a.y, b.y, c.y}), std::min({a.z, b.z, c.z})};
  const Vec3 hi{std::max({a.x, b.x, c.x}), std::max({a.y, b.y, c.y}), std::max({a.z, b.z, c.z})};
  const CellRange range = band_cells_of(lo, hi, f, reach);
  const Vec3 normal = cross(b - a, c - a);
  const double normal_length = norm(normal);
  const bool use_plane = normal_length > 1e-20 && std::isfinite(normal_length);
  const Vec3 unit_normal = use_plane ? normal / normal_length : Vec3{};
  const double margin = reach * 1e-6 + 1e-9 * f.cell_size;
  const double plane_limit = reach + margin;
  const Vec3 centroid = (a + b + c) / 3.0;
  const double radius =
      std::sqrt(std::max({norm_squared(a - centroid), norm_squared(b - centroid), norm_squared(c - centroid)}));
  const double sphere_limit = (radius + reach + margin) * (radius + reach + margin);
  const double h = f.cell_size;
  for (uint64_t z = range.lo[2]; z <= range.hi[2]; ++z) {
    const double pz = f.origin.z + h * (static_cast<double>(z) + 0.5);
    for (uint64_t y = range.lo[1]; y <= range.hi[1]; ++y) {
      const double py = f.origin.y + h * (static_cast<double>(y) + 0.5);
      const uint64_t row = f.nx * (y + f.ny * z);
      uint64_t x_lo = range.lo[0], x_hi = range.hi[0];
      if (!row_meets_sphere(f, centroid, sphere_limit, py, pz, x_lo, x_hi)) continue;
      for (uint64_t x = x_lo; x <= x_hi; ++x) {
        const Vec3 p{f.origin.x + h * (static_cast<double>(x) + 0.5), py, pz};
        if (use_plane && std::abs(dot(p - a, unit_normal)) > plane_limit) continue;
        const double centroid_squared = norm_squared(p - centroid);
        if (centroid_squared > sphere_limit) continue;
        if (cannot_change_cell(entries[row + x], states[row + x], std::sqrt(centroid_squared) - radius - margin,
                               f.half_diagonal)) {
          continue;
        }
        const double d = norm(p - closest_point_on_triangle(p, a, b, c));
        if (!(d <= reach)) continue;
        atomic_min(entries[row + x], pack_band_entry(static_cast<float>(d), t));
        if (d <= f.half_diagonal) {
          std::atomic_ref<CellState>(states[row + x]).store(CellState::Surface, std::memory_order_relaxed);
        }
      }
    }
  }
}

// Spreads the low 21 bits of v to every third bit.
uint64_t spread_bits(uint64_t v) {
  v &= 0x1FFFFF;
  v = (v | v << 32) & 0x1F00000000FFFFull;
  v = (v | v << 16) & 0x1F0000FF0000FFull;
  v = (v | v << 8) & 0x100F00F00F00F00Full;
  v = (v | v << 4) & 0x10C30C30C30C30C3ull;
  v = (v | v << 2) & 0x1249249249249249ull;
  return v;
}

// Triangle indices sorted along a Morton curve through their first corners'
// cells, so that concurrent tasks update nearby band entries. Only the visiting
// order changes: the packed minimum makes the band independent of it.
std::vector<uint32_t> spatial_order(const DistanceField& f, std::span<const Vec3> positions,
                                    std::span<const Triangle> triangles) {
  std::vector<std::pair<uint64_t, uint32_t>> keyed(triangles.size());
  parallel_map(keyed, [&](size_t t) {
    const Vec3 p = positions[triangles[t][0]];
    const uint64_t code = spread_bits(clamped_cell(p.x, f.origin.x, f.cell_size, f.nx)) |
                          spread_bits(clamped_cell(p.y, f.origin.y, f.cell_size, f.ny)) << 1 |
                          spread_bits(clamped_cell(p.z, f.origin.z, f.cell_size, f.nz)) << 2;
    return std::pair<uint64_t, uint32_t>{code, static_cast<uint32_t>(t)};
  });
  std::sort(keyed.begin(), keyed.end());
  std::vector<uint32_t> order(triangles.size());
  parallel_map(order, [&](size_t i) { return keyed[i].second; });
  return order;
}

Status compute_band(DistanceField& f, std::span<const Vec3> positions, std::span<const Triangle> triangles) {
  auto stage = StageProgress::start("sdf band", 0);
  std::vector<uint64_t> entries;
  if (Status failed = allocate_filled(entries, f.states.size(), kEmptyBandEntry, "the distance band's entries")) {
    return failed;
  }
  const double reach = f.band_cells * f.cell_size;
  const std::vector<uint32_t> order = spatial_order(f, positions, triangles);
  parallel_for(0, order.size(), [&](size_t i) {
    const uint32_t t = order[i];
    const Triangle& tri = triangles[t];
    rasterize_band(f, positions[tri[0]], positions[tri[1]], positions[tri[2]], t, reach, entries.data(),
                   f.states.data());
  });
  stage.finish();
  if (Status failed = allocate_filled(f.band_distance, entries.size(), 0.0f, "the distance band's distances")) {
    return failed;
  }
  if (Status failed = allocate_filled(f.nearest_triangle, entries.size(), kNoTriangle, "the nearest-triangle grid")) {
    return failed;
  }
  parallel_for(0, entries.size(), [&](size_t i) {
    f.band_distance[i] = std::bit_cast<float>(static_cast<uint32_t>(entries[i] >> 32));
    f.nearest_triangle[i] = static_cast<uint32_t>(entries[i]);
  });
  f.transform_scratch = std::move(entries);
  return std::nullopt;
}

// Closing dilation, exterior flood fill, interior marking and closing erosion.
Status classify_sign(DistanceField& f, uint64_t close) {
  auto stage = StageProgress::start("sdf sign", 0);
  const uint64_t nx = f.nx, ny = f.ny, nz = f.nz;
  std::vector<CellState> scratch;  // shared by the dilation and the erosion
  Status closed = run_cell_passes(
      f.states, scratch, nx, ny, nz, close, [](CellState s) { return s == CellState::Surface; },
      [](CellState self, bool hit) {
        return hit & (self == CellState::Unclassified) ? CellState::Surface : self;
      });
  if (closed) return closed;
  flood_fill_exterior(f.states, nx, ny, nz);
  if (close == 0) {
    mark_interior(f.states);
    return std::nullopt;
  }
  // The first erosion pass also turns the cells the fill left Unclassified into
  // Inside, which saves a sweep; they are solid and are eroded as such.
  const float near_limit = static_cast<float>(f.half_diagonal);
  const float* band = f.band_distance.data();
  return run_cell_passes(
      f.states, scratch, nx, ny, nz, close, [](CellState s) { return s == CellState::Outside; },
      [](CellState self, bool hit) {
        // Unclassified (0) + 2 is Inside; written as arithmetic so the row loop vectorizes.
        const auto kept = static_cast<CellState>(static_cast<uint8_t>(self) + 2 * (self == CellState::Unclassified));
        return (hit & is_solid(kept)) ? CellState::Outside : kept;
      },
      [&](uint64_t i) { return band[i] > near_limit; });
}

Status compute_band_values(DistanceField& f) {
  const float B = static_cast<float>(f.band_cells * f.cell_size);
  const float H = static_cast<float>(f.half_diagonal);
  if (Status failed = allocate_filled(f.values, f.states.size(), 0.0f, "the distance field's values")) return failed;
  parallel_map(f.values, [&](size_t i) {
    const float b = f.band_distance[i];
    const float d = std::isfinite(b) ? std::min(b, B) : B;
    return field_value(f.states[i], d, H);
  });
  return std::nullopt;
}

// Whether the frame has cells and a per-cell array of `length` covers them all.
bool has_cells(const DistanceField& f, uint64_t length) {
  const std::optional<uint64_t> count = checked_cell_count(f.nx, f.ny, f.nz);
  return count && *count > 0 && *count <= length;
}

// Lattice coordinate of a world coordinate, clamped to [0, n − 2].
double lattice_coordinate(double coordinate, double origin, double h, uint64_t n) {
  const double u = (coordinate - origin) / h - 0.5;
  const double last = n >= 2 ? static_cast<double>(n - 2) : 0.0;
  if (!(u > 0.0)) return 0.0;
  return u > last ? last : u;
}

// Home cell of a world coordinate: nearest cell centre, clamped to [0, n − 1].
int64_t home_cell(double coordinate, double origin, double h, uint64_t n) {
  const double u = std::round((coordinate - origin) / h - 0.5);
  if (!(u > 0.0)) return 0;
  return u >= static_cast<double>(n - 1) ? static_cast<int64_t>(n - 1) : static_cast<int64_t>(u);
}

}  // namespace

Expected<DistanceField> build_distance_field(std::span<const Vec3> positions, std::span<const Triangle> triangles,
                                             uint64_t voxel_res, uint64_t close, double band, uint64_t extra_pad) {
  if (Status bad = check_triangle_indices(triangles, positions.size())) return *bad;
  const Bounds box = bounding_box(positions);
  const double band_ceil = band > 0.0 ? std::ceil(std::min(band, 1e9)) : 0.0;
  const uint64_t pad = saturating_add(saturating_add(close, static_cast<uint64_t>(band_ceil) + 2), extra_pad);
  const GridDims dims = grid_dims(box.max - box.min, voxel_res, pad);
  if (Status too_large = check_cell_budget(dims)) return *too_large;
  const uint64_t cells = dims.nx * dims.ny * dims.nz;
  const std::string what = fmt::format("a distance field of {}x{}x{} cells at {} bytes per cell", dims.nx, dims.ny,
                                       dims.nz, kDistanceFieldPeakBytesPerCell);
  if (Status refused = check_obtainable(what, cells * kDistanceFieldPeakBytesPerCell)) return *refused;

  DistanceField f;
  f.nx = dims.nx;
  f.ny = dims.ny;
  f.nz = dims.nz;
  f.cell_size = dims.cell_size;
  f.origin = padded_origin(box.min, pad, dims.cell_size);
  f.band_cells = band > 1.0 ? band : 1.0;
  f.half_diagonal = f.cell_size * 0.5 * kSqrt3;
  if (Status failed = allocate_filled(f.states, cells, CellState::Unclassified, "the distance field's cell states")) {
    return *failed;
  }
  if (Status failed = compute_band(f, positions, triangles)) return *failed;
  if (Status failed = classify_sign(f, close)) return *failed;
  if (Status failed = compute_band_values(f)) return *failed;
  return f;
}

Vec3 closest_point_on_triangle(Vec3 p, Vec3 a, Vec3 b, Vec3 c) {
  const Vec3 ab = b - a, ac = c - a, ap = p - a;
  const double d1 = dot(ab, ap), d2 = dot(ac, ap);
  if (d1 <= 0.0 && d2 <= 0.0) return a;
  const Vec3 bp = p - b;
  const double d3 = dot(ab, bp), d4 = dot(ac, bp);
  if (d3 >= 0.0 && d4 <= d3) return b;
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) return a + ab * (d1 / (d1 - d3));
  const Vec3 cp = p - c;
  const double d5 = dot(ab, cp), d6 = dot(ac, cp);
  if (d6 >= 0.0 && d5 <= d6) return c;
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) return a + ac * (d2 / (d2 - d6));
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0.0 && d4 - d3 >= 0.0 && d5 - d6 >= 0.0) {
    return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
  }
  const double s = 1.0 / (va + vb + vc);
  return a + ab * (vb * s) + ac * (vc * s);
}

double sample(const DistanceField& field, Vec3 p) {
  const uint64_t n[3] = {field.nx, field.ny, field.nz};
  if (!has_cells(field, field.values.size())) return 0.0;
  uint64_t i0[3], i1[3];
  double t[3];
  for (int axis = 0; axis < 3; ++axis) {
    const double u = lattice_coordinate(p[axis], field.origin[axis], field.cell_size, n[axis]);
    const double base = std::floor(u);
    i0[axis] = static_cast<uint64_t>(base);
    i1[axis] = n[axis] >= 2 ? i0[axis] + 1 : i0[axis];
    t[axis] = u - base;
  }
  const auto at = [&](uint64_t x, uint64_t y, uint64_t z) {
    return static_cast<double>(field.values[x + field.nx * (y + field.ny * z)]);
  };
  const auto lerp = [](double a, double b, double w) { return a * (1.0 - w) + b * w; };
  const double c00 = lerp(at(i0[0], i0[1], i0[2]), at(i1[0], i0[1], i0[2]), t[0]);
  const double c10 = lerp(at(i0[0], i1[1], i0[2]), at(i1[0], i1[1], i0[2]), t[0]);
  const double c01 = lerp(at(i0[0], i0[1], i1[2]), at(i1[0], i0[1], i1[2]), t[0]);
  const double c11 = lerp(at(i0[0], i1[1], i1[2]), at(i1[0], i1[1], i1[2]), t[0]);
  return lerp(lerp(c00, c10, t[1]), lerp(c01, c11, t[1]), t[2]);
}

Vec3 gradient(const DistanceField& field, Vec3 p) {
  const double delta = field.cell_size * 0.5;
  Vec3 g;
  for (int axis = 0; axis < 3; ++axis) {
    Vec3 step;
    step[axis] = delta;
    g[axis] = (sample(field, p + step) - sample(field, p - step)) / field.cell_size;
  }
  return g;
}

Expected<std::optional<SurfacePoint>> nearest_surface_point(const DistanceField& field,
                                                           std::span<const Vec3> positions,
                                                           std::span<const Triangle> triangles, Vec3 p) {
  const uint64_t dims[3] = {field.nx, field.ny, field.nz};
  const int64_t n[3] = {static_cast<int64_t>(dims[0]), static_cast<int64_t>(dims[1]), static_cast<int64_t>(dims[2])};
  int64_t home[3];
  for (int axis = 0; axis < 3; ++axis) home[axis] = home_cell(p[axis], field.origin[axis], field.cell_size, dims[axis]);
  if (!has_cells(field, field.nearest_triangle.size())) return std::optional<SurfacePoint>{};
  std::array<uint32_t, 27> tried{};
  size_t tried_count = 0;
  std::optional<SurfacePoint> best;
  for (int dz = -1; dz <= 1; ++dz) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int64_t x = home[0] + dx, y = home[1] + dy, z = home[2] + dz;
        if (x < 0 || y < 0 || z < 0 || x >= n[0] || y >= n[1] || z >= n[2]) continue;
        const uint32_t t = field.nearest_triangle[static_cast<uint64_t>(x + n[0] * (y + n[1] * z))];
        if (t == kNoTriangle) continue;
        if (std::find(tried.begin(), tried.begin() + tried_count, t) != tried.begin() + tried_count) continue;
        tried[tried_count++] = t;
        if (t >= triangles.size()) return index_out_of_range(t, triangles.size());
        const Triangle& tri = triangles[t];
        for (uint32_t corner : tri) {
          if (corner >= positions.size()) return index_out_of_range(corner, positions.size());
        }
        const Vec3 q = closest_point_on_triangle(p, positions[tri[0]], positions[tri[1]], positions[tri[2]]);
        const double squared = norm_squared(p - q);
        if (!best || squared < best->squared_distance) best = SurfacePoint{q, squared};
      }
    }
  }
  return best;
}

Status project_to_offset_surface(std::span<Vec3> vertices, const DistanceField& field,
                                 std::span<const Vec3> input_positions, std::span<const Triangle> input_triangles,
                                 double offset, double max_displacement) {
  if (vertices.empty() || !(max_displacement > 0.0)) return std::nullopt;
  // The first failing vertex (by index) names the error, whatever the schedule.
  std::atomic<uint64_t> first_failure{std::numeric_limits<uint64_t>::max()};
  parallel_for(0, vertices.size(), [&](size_t i) {
    const Vec3 p = vertices[i];
    auto found = nearest_surface_point(field, input_positions, input_triangles, p);
    if (!found) {
      uint64_t current = first_failure.load(std::memory_order_relaxed);
      while (i < current && !first_failure.compare_exchange_weak(current, i, std::memory_order_relaxed)) {
      }
      return;
    }
    if (!found->has_value() || !std::isfinite((*found)->squared_distance)) return;
    const Vec3 q = (*found)->point;
    const double d = std::sqrt((*found)->squared_distance);
    if (d < 1e-12) return;
    Vec3 target = q + (p - q) * (offset / d);
    const Vec3 move = target - p;
    const double move_squared = norm_squared(move);
    if (move_squared > max_displacement * max_displacement) {
      target = p + move * (max_displacement / std::sqrt(move_squared));
    }
    vertices[i] = target;
  });
  const uint64_t failed = first_failure.load();
  if (failed == std::numeric_limits<uint64_t>::max()) return std::nullopt;
  return nearest_surface_point(field, input_positions, input_triangles, vertices[failed]).error();
}

void project_to_iso_surface(std::span<Vec3> vertices, const DistanceField& field, uint64_t max_steps, double iso,
                            double max_displacement) {
  if (vertices.empty() || max_steps == 0 || !(max_displacement > 0.0)) return;
  const double h = field.cell_size;
  parallel_for(0, vertices.size(), [&](size_t i) {
    const Vec3 start = vertices[i];
    Vec3 p = start;
    for (uint64_t step = 0; step < max_steps; ++step) {
      const double s = sample(field, p);
      const double e = std::abs(s - iso);
      if (e < 1e-4 * h) break;
      const Vec3 g = gradient(field, p);
      const double g_length = norm(g);
      if (g_length < 1e-6) break;
      const double direction = s - iso > 0.0 ? 1.0 : -1.0;
      p = p - (g * (direction * std::min(e, h))) / g_length;
      const Vec3 moved = p - start;
      const double moved_squared = norm_squared(moved);
      if (moved_squared > max_displacement * max_displacement) {
        p = start + moved * (max_displacement / std::sqrt(moved_squared));
        break;
      }
    }
    vertices[i] = p;
  });
}

}  // namespace vorrel
