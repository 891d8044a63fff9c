#pragma once
// The regular grid shared by the volume stage: its frame and cell budget, the
// binary voxelization of a triangle mesh, the six-connected exterior flood fill
// and the solid dilation. Cells are indexed x + nx·y + nx·ny·z.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/memory.h"
#include "core/mesh.h"
#include "core/parallel.h"
#include "core/vec3.h"

namespace vorrel {

enum class CellState : uint8_t { Unclassified = 0, Surface = 1, Inside = 2, Outside = 3 };

// Written without branches so that loops over cells can be vectorized.
inline bool is_solid(CellState s) { return (s == CellState::Surface) | (s == CellState::Inside); }

struct VoxelGrid {
  std::vector<CellState> cells;
  uint64_t nx = 0, ny = 0, nz = 0;
  Vec3 origin;            // world position of lattice point (0, 0, 0)
  double cell_size = 1.0;
};

struct GridDims {
  uint64_t nx = 0, ny = 0, nz = 0;
  double cell_size = 1.0;
};

inline constexpr uint64_t kCellBudget = uint64_t{1} << 30;

// Peak bytes per cell of the binary path: the cell states and the dilation's
// scratch copy of them.
inline constexpr uint64_t kVoxelPeakBytesPerCell = 2;

// Component-wise bounds of a point set; with no points min is the largest
// finite value and max its negation, so the extent is negative.
struct Bounds {
  Vec3 min, max;
};
Bounds bounding_box(std::span<const Vec3> positions);

// Cells per axis for `voxel_res` cells along the longest extent plus `pad`
// cells per side, halving the resolution until the grid fits the cell budget
// (and saying so on the console).
GridDims grid_dims(Vec3 extent, uint64_t voxel_res, uint64_t pad);

// World position of lattice point (0, 0, 0) of a grid padded by `pad` cells
// below the bounding box minimum `box_min`.
inline Vec3 padded_origin(Vec3 box_min, uint64_t pad, double cell_size) {
  return box_min - Vec3{1.0, 1.0, 1.0} * (static_cast<double>(pad) * cell_size);
}

// Fails when the grid exceeds the cell budget even at resolution 1 (only an
// enormous padding does that), so no caller allocates or indexes beyond it.
Status check_cell_budget(const GridDims& dims);

// nx·ny·nz, or nothing when the product does not fit 64 bits.
inline std::optional<uint64_t> checked_cell_count(uint64_t nx, uint64_t ny, uint64_t nz) {
  uint64_t xy = 0, count = 0;
  if (__builtin_mul_overflow(nx, ny, &xy) || __builtin_mul_overflow(xy, nz, &count)) return std::nullopt;
  return count;
}

// a + b, or the largest count when the sum does not fit.
inline uint64_t saturating_add(uint64_t a, uint64_t b) {
  uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? ~uint64_t{0} : sum;
}

// Binary voxelization with 2 + `extra_pad` empty cells around the bounding box.
// Fails with an internal error when a triangle index is not below the vertex
// count, and with an allocation failure when the grid and its dilation scratch
// cannot be obtained.
Expected<VoxelGrid> voxelize(std::span<const Vec3> positions, std::span<const Triangle> triangles, uint64_t voxel_res,
                             uint64_t extra_pad = 0);

// Marks every Unclassified cell six-connected to cell (0, 0, 0) as Outside.
// Parallel; the marked set does not depend on the visiting order.
void flood_fill_exterior(std::span<CellState> cells, uint64_t nx, uint64_t ny, uint64_t nz);

// Turns every Unclassified cell into Inside. Parallel.
void mark_interior(std::span<CellState> cells);

// Grows the solid region by one cell along the six axis directions per pass.
// Fails, leaving the grid unchanged, when the scratch buffer cannot be allocated.
Status dilate(VoxelGrid& grid, uint64_t passes);

// Runs `passes` double-buffered passes over all cells: each pass writes
// next[i] = rule(previous[i], hit) in parallel, where hit tells whether one of
// the six face neighbours of cell i inside the grid satisfies `trigger` in the
// previous pass; a cell with may_change(i) false keeps rule(previous[i], false)
// instead. `scratch` holds the other buffer; it is allocated when its size is
// not the grid's, so callers running several series of passes over one grid
// allocate it once. Without it the cells stay unchanged.
//
// Rows are processed without per-cell bounds tests: a neighbour outside the
// grid is read as the cell itself. Rules must therefore give the same result
// for hit true and false whenever the cell itself satisfies `trigger` (as do
// all rules that change only cells the trigger does not accept). `trigger` and
// `rule` see only states, so that the row loop can be vectorized; the rarely
// needed `may_change` is asked only where hit makes a difference.
template <class Trigger, class Rule, class MayChange>
Status run_cell_passes(std::vector<CellState>& cells, std::vector<CellState>& scratch, uint64_t nx, uint64_t ny,
                       uint64_t nz, uint64_t passes, Trigger&& trigger, Rule&& rule, MayChange&& may_change) {
  if (passes == 0 || cells.empty()) return std::nullopt;
  if (scratch.size() != cells.size()) {
    const std::string_view what = "the cell passes' scratch grid";
    if (Status failed = allocate_filled(scratch, cells.size(), CellState::Unclassified, what)) return failed;
  }
  const uint64_t row_count = ny * nz;
  for (uint64_t pass = 0; pass < passes; ++pass) {
    const CellState* prev = cells.data();
    CellState* next = scratch.data();
    parallel_for(0, row_count, [&](size_t row) {
      const uint64_t y = row % ny, z = row / ny;
      const uint64_t base = nx * row;
      const CellState* self = prev + base;
      const CellState* below_y = y > 0 ? self - nx : self;
      const CellState* above_y = y + 1 < ny ? self + nx : self;
      const CellState* below_z = z > 0 ? self - nx * ny : self;
      const CellState* above_z = z + 1 < nz ? self + nx * ny : self;
      CellState* out = next + base;
      const auto cell = [&](uint64_t x, CellState left, CellState right) {
        const bool hit = trigger(left) | trigger(right) | trigger(below_y[x]) | trigger(above_y[x]) |
                         trigger(below_z[x]) | trigger(above_z[x]);
        return rule(self[x], hit);
      };
      if (nx == 1) {
        out[0] = cell(0, self[0], self[0]);
      } else {
        out[0] = cell(0, self[0], self[1]);
        for (uint64_t x = 1; x + 1 < nx; ++x) out[x] = cell(x, self[x - 1], self[x + 1]);
        out[nx - 1] = cell(nx - 1, self[nx - 2], self[nx - 1]);
      }
      // Stretches of cells that hit leaves unchanged are passed over whole.
      constexpr uint64_t kStretch = 32;
      for (uint64_t lo = 0; lo < nx; lo += kStretch) {
        const uint64_t hi = std::min(nx, lo + kStretch);
        unsigned changed = 0;
        for (uint64_t x = lo; x < hi; ++x) changed |= static_cast<unsigned>(out[x] != rule(self[x], false));
        if (changed == 0) continue;
        for (uint64_t x = lo; x < hi; ++x) {
          const CellState idle = rule(self[x], false);
          if (out[x] != idle && !may_change(base + x)) out[x] = idle;
        }
      }
    });
    cells.swap(scratch);
  }
  return std::nullopt;
}

template <class Trigger, class Rule>
Status run_cell_passes(std::vector<CellState>& cells, std::vector<CellState>& scratch, uint64_t nx, uint64_t ny,
                       uint64_t nz, uint64_t passes, Trigger&& trigger, Rule&& rule) {
  return run_cell_passes(cells, scratch, nx, ny, nz, passes, trigger, rule, [](uint64_t) { return true; });
}

}  // namespace vorrel
