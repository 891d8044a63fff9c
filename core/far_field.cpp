// Far-field completion of the distance field: a separable squared Euclidean
// distance transform seeded with the exact band distances.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "core/parallel.h"
#include "core/progress.h"
#include "core/sdf.h"

namespace vorrel {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The working array holds float64 squared cell distances as bit patterns in the
// band's 8-byte words, so that the transform needs no allocation of its own.
double load_squared(const uint64_t* g, uint64_t i) { return std::bit_cast<double>(g[i]); }
void store_squared(uint64_t* g, uint64_t i, double value) { g[i] = std::bit_cast<uint64_t>(value); }

// Squared distance transforms of `lines` lines of n samples, line c at
// [c·n, (c + 1)·n) of `f` and `out`. The lower envelopes are built side by side,
// sample q of every line before sample q + 1 of any: the lines are independent,
// so their divisions overlap instead of waiting on each other. Parabola k of
// line c has its apex at position v[k] (a sample index held as a double) and
// height f[v[k]], is lowest from z[k] to z[k + 1], and lifted[k] = f[v[k]] + v[k]²
// enters its intersections.
void edt_lines(const double* f, double* out, uint64_t n, uint64_t lines, EdtScratch& scratch) {
  if (n == 1) {  // a single sample is its own transform, whatever its value
    std::copy(f, f + lines, out);
    return;
  }
  scratch.positions.resize(n * lines);
  scratch.heights.resize(n * lines);
  scratch.lifted.resize(n * lines);
  scratch.boundaries.resize((n + 1) * lines);
  scratch.counts.assign(lines, 0);
  for (uint64_t q = 0; q < n; ++q) {
    const double qd = static_cast<double>(q);
    for (uint64_t c = 0; c < lines; ++c) {
      const double fq = f[c * n + q];
      if (!std::isfinite(fq)) continue;
      double* v = scratch.positions.data() + c * n;
      double* height = scratch.heights.data() + c * n;
      double* lifted = scratch.lifted.data() + c * n;
      double* z = scratch.boundaries.data() + c * (n + 1);
      uint64_t& count = scratch.counts[c];
      const double lifted_q = fq + qd * qd;
      if (count == 0) {
        v[0] = qd;
        height[0] = fq;
        lifted[0] = lifted_q;
        z[0] = -kInfinity;
        z[1] = kInfinity;
        count = 1;
        continue;
      }
      uint64_t k = count - 1;
      double s = (lifted_q - lifted[k]) / (2.0 * qd - 2.0 * v[k]);
      while (s <= z[k] && k > 0) {
        --k;
        s = (lifted_q - lifted[k]) / (2.0 * qd - 2.0 * v[k]);
      }
      if (s <= z[k]) {
        v[0] = qd;  // k is 0: the new parabola lies below the only one kept
        height[0] = fq;
        lifted[0] = lifted_q;
        continue;
      }
      ++k;
      v[k] = qd;
      height[k] = fq;
      lifted[k] = lifted_q;
      z[k] = s;
      z[k + 1] = kInfinity;
      count = k + 1;
    }
  }
  for (uint64_t c = 0; c < lines; ++c) {
    double* line_out = out + c * n;
    if (scratch.counts[c] == 0) {
      std::fill(line_out, line_out + n, kInfinity);
      continue;
    }
    const double* v = scratch.positions.data() + c * n;
    const double* height = scratch.heights.data() + c * n;
    const double* z = scratch.boundaries.data() + c * (n + 1);
    uint64_t k = 0;
    double qd = 0.0;
    for (uint64_t q = 0; q < n; ++q, qd += 1.0) {
      while (z[k + 1] < qd) ++k;
      const double offset = qd - v[k];
      line_out[q] = offset * offset + height[k];
    }
  }
}

// Columns transformed together: enough independent envelopes to overlap their
// divisions, and one 64-byte line of float64 words per strided step instead of
// a single word.
constexpr uint64_t kBlockColumns = 8;

// Per-task buffers of a block of columns: column c at [c·length, (c + 1)·length).
struct ColumnBlock {
  uint64_t length;
  std::vector<double> in, out;
  EdtScratch scratch;
  explicit ColumnBlock(uint64_t n) : length(n), in(n * kBlockColumns), out(n * kBlockColumns) {}
  double result(uint64_t column, uint64_t k) const { return out[column * length + k]; }
};

// Transforms `width` (at most kBlockColumns) adjacent columns whose first
// samples start at `start` and whose samples are `stride` words apart.
void transform_columns(const uint64_t* g, uint64_t start, uint64_t width, uint64_t stride, ColumnBlock& block) {
  const uint64_t n = block.length;
  for (uint64_t k = 0; k < n; ++k) {
    for (uint64_t c = 0; c < width; ++c) block.in[c * n + k] = load_squared(g, start + k * stride + c);
  }
  edt_lines(block.in.data(), block.out.data(), n, width, block.scratch);
}

// The x pass reads its rows straight from the band: squared cell distances of
// the band cells, +inf elsewhere. Every word of g is written here first.
void seed_and_transform_x(uint64_t* g, const DistanceField& f) {
  const double inv_h = 1.0 / f.cell_size;
  parallel_for_chunks(0, f.ny * f.nz, [&](size_t lo, size_t hi) {
    std::vector<double> in(f.nx), out(f.nx);
    EdtScratch scratch;
    for (size_t row = lo; row < hi; ++row) {
      const float* band = f.band_distance.data() + row * f.nx;
      for (uint64_t x = 0; x < f.nx; ++x) {
        const double cells = static_cast<double>(band[x]) * inv_h;
        in[x] = std::isfinite(band[x]) ? cells * cells : kInfinity;
      }
      edt_1d(in, out, scratch);
      for (uint64_t x = 0; x < f.nx; ++x) store_squared(g, row * f.nx + x, out[x]);
    }
  });
}

void transform_y(uint64_t* g, const DistanceField& f) {
  parallel_for_chunks(0, f.nz, [&](size_t lo, size_t hi) {
    ColumnBlock block(f.ny);
    for (size_t z = lo; z < hi; ++z) {
      for (uint64_t x0 = 0; x0 < f.nx; x0 += kBlockColumns) {
        const uint64_t width = std::min(kBlockColumns, f.nx - x0), start = x0 + f.nx * f.ny * z;
        transform_columns(g, start, width, f.nx, block);
        for (uint64_t k = 0; k < f.ny; ++k) {
          for (uint64_t c = 0; c < width; ++c) store_squared(g, start + k * f.nx + c, block.result(c, k));
        }
      }
    }
  });
}

// The z pass writes the field values directly instead of storing g back.
// Every z column is transformed independently, so splitting them over y rows
// gives the same result as a sequential sweep.
void transform_z_into_values(const uint64_t* g, DistanceField& f) {
  const float h32 = static_cast<float>(f.cell_size);
  const float H = static_cast<float>(f.half_diagonal);
  const uint64_t slice = f.nx * f.ny;
  parallel_for_chunks(0, f.ny, [&](size_t lo, size_t hi) {
    ColumnBlock block(f.nz);
    for (size_t y = lo; y < hi; ++y) {
      for (uint64_t x0 = 0; x0 < f.nx; x0 += kBlockColumns) {
        const uint64_t width = std::min(kBlockColumns, f.nx - x0), start = x0 + f.nx * y;
        transform_columns(g, start, width, slice, block);
        for (uint64_t k = 0; k < f.nz; ++k) {
          for (uint64_t c = 0; c < width; ++c) {
            const uint64_t i = start + k * slice + c;
            const float d = h32 * static_cast<float>(std::sqrt(std::max(block.result(c, k), 0.0)));
            f.values[i] = field_value(f.states[i], d, H);
          }
        }
      }
    }
  });
}

}  // namespace

void edt_1d(std::span<const double> f, std::span<double> out, EdtScratch& scratch) {
  edt_lines(f.data(), out.data(), f.size(), 1, scratch);
}

Status compute_far_field(DistanceField& field, double reach) {
  std::vector<uint64_t> g = std::move(field.transform_scratch);
  field.transform_scratch = {};
  const double h = field.cell_size;
  if (field.far_field_done || std::abs(reach) + h < field.band_cells * h) return std::nullopt;
  const std::optional<uint64_t> cells = checked_cell_count(field.nx, field.ny, field.nz);
  if (!cells || field.band_distance.size() != *cells || field.states.size() != *cells ||
      field.values.size() != *cells) {
    return InternalError{"the distance field's arrays do not match its grid"};
  }
  auto stage = StageProgress::start("sdf far field (EDT)", 0);
  if (g.size() != field.band_distance.size()) {
    if (Status failed = allocate_filled(g, field.band_distance.size(), uint64_t{0},
                                        "the far-field transform's working array")) {
      return failed;
    }
  }
  seed_and_transform_x(g.data(), field);
  transform_y(g.data(), field);
  transform_z_into_values(g.data(), field);
  field.far_field_done = true;
  return std::nullopt;
}

}  // namespace vorrel
