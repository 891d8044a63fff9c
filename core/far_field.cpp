// Far-field completion of the distance field: a separable squared Euclidean
// distance transform seeded with the exact band distances.
#include <cmath>
#include <limits>

#include "core/parallel.h"
#include "core/progress.h"
#include "core/sdf.h"

namespace vorrel {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Squared cell distances of the band seeds; +inf off the band.
void seed_squared_distances(const DistanceField& f, std::vector<double>& g) {
  const double inv_h = 1.0 / f.cell_size;
  parallel_map(g, [&](size_t i) {
    const float b = f.band_distance[i];
    if (!std::isfinite(b)) return kInfinity;
    const double cells = static_cast<double>(b) * inv_h;
    return cells * cells;
  });
}

// Per-task buffers for gathering one strided line and transforming it.
struct LineBuffers {
  std::vector<double> in, out;
  EdtScratch scratch;
  explicit LineBuffers(uint64_t length) : in(length), out(length) {}
};

void transform_line(double* g, uint64_t start, uint64_t stride, LineBuffers& buffers) {
  const uint64_t n = buffers.in.size();
  for (uint64_t k = 0; k < n; ++k) buffers.in[k] = g[start + k * stride];
  edt_1d(buffers.in, buffers.out, buffers.scratch);
  for (uint64_t k = 0; k < n; ++k) g[start + k * stride] = buffers.out[k];
}

void transform_x(std::vector<double>& g, const DistanceField& f) {
  parallel_for_chunks(0, f.ny * f.nz, [&](size_t lo, size_t hi) {
    LineBuffers buffers(f.nx);
    for (size_t row = lo; row < hi; ++row) transform_line(g.data(), row * f.nx, 1, buffers);
  });
}

void transform_y(std::vector<double>& g, const DistanceField& f) {
  parallel_for_chunks(0, f.nz, [&](size_t lo, size_t hi) {
    LineBuffers buffers(f.ny);
    for (size_t z = lo; z < hi; ++z) {
      for (uint64_t x = 0; x < f.nx; ++x) transform_line(g.data(), x + f.nx * f.ny * z, f.nx, buffers);
    }
  });
}

// Every z column is transformed independently, so splitting them over y rows
// gives the same result as a sequential sweep.
void transform_z(std::vector<double>& g, const DistanceField& f) {
  parallel_for_chunks(0, f.ny, [&](size_t lo, size_t hi) {
    LineBuffers buffers(f.nz);
    for (size_t y = lo; y < hi; ++y) {
      for (uint64_t x = 0; x < f.nx; ++x) transform_line(g.data(), x + f.nx * y, f.nx * f.ny, buffers);
    }
  });
}

}  // namespace

void edt_1d(std::span<const double> f, std::span<double> out, EdtScratch& scratch) {
  const uint64_t n = f.size();
  if (n == 0) return;
  if (n == 1) {
    out[0] = f[0];
    return;
  }
  uint64_t first = 0;
  while (first < n && !std::isfinite(f[first])) ++first;
  if (first == n) {
    std::fill(out.begin(), out.end(), kInfinity);
    return;
  }
  std::vector<uint64_t>& v = scratch.vertices;
  std::vector<double>& z = scratch.boundaries;
  v.resize(n);
  z.resize(n + 1);
  const auto lifted = [&](uint64_t q) { return f[q] + static_cast<double>(q) * static_cast<double>(q); };
  uint64_t k = 0;
  v[0] = first;
  z[0] = -kInfinity;
  z[1] = kInfinity;
  for (uint64_t q = first + 1; q < n; ++q) {
    if (!std::isfinite(f[q])) continue;
    const auto intersection = [&] {
      return (lifted(q) - lifted(v[k])) / (2.0 * static_cast<double>(q) - 2.0 * static_cast<double>(v[k]));
    };
    double s = intersection();
    bool replaced_first = false;
    while (s <= z[k]) {
      if (k == 0) {
        v[0] = q;
        replaced_first = true;
        break;
      }
      --k;
      s = intersection();
    }
    if (replaced_first) continue;
    ++k;
    v[k] = q;
    z[k] = s;
    z[k + 1] = kInfinity;
  }
  k = 0;
  for (uint64_t q = 0; q < n; ++q) {
    while (z[k + 1] < static_cast<double>(q)) ++k;
    const double offset = static_cast<double>(q) - static_cast<double>(v[k]);
    out[q] = offset * offset + f[v[k]];
  }
}

Status compute_far_field(DistanceField& field, double reach) {
  const double h = field.cell_size;
  if (field.far_field_done || std::abs(reach) + h < field.band_cells * h) return std::nullopt;
  auto stage = StageProgress::start("sdf far field (EDT)", 0);
  std::vector<double> g;
  if (Status failed = allocate_filled(g, field.band_distance.size(), 0.0, "the far-field transform's working array")) {
    return failed;
  }
  seed_squared_distances(field, g);
  transform_x(g, field);
  transform_y(g, field);
  transform_z(g, field);
  const float h32 = static_cast<float>(h);
  const float H = static_cast<float>(field.half_diagonal);
  parallel_map(field.values, [&](size_t i) {
    const float d = h32 * static_cast<float>(std::sqrt(std::max(g[i], 0.0)));
    return field_value(field.states[i], d, H);
  });
  field.far_field_done = true;
  return std::nullopt;
}

}  // namespace vorrel
