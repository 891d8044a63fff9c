#include "core/voxelize.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <string>

#include <fmt/format.h>

#include "core/progress.h"

namespace vorrel {
namespace {

constexpr uint64_t kMaxCount = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kVoxelizePad = 2;

// ceil(ratio) as a count of at least 1; a non-finite ratio counts as 1.
uint64_t cells_for_ratio(double ratio) {
  if (!std::isfinite(ratio)) return 1;
  const double c = std::ceil(ratio);
  if (c >= 18446744073709551616.0) return kMaxCount;
  return std::max<uint64_t>(static_cast<uint64_t>(std::max(c, 0.0)), 1);
}

GridDims dims_for_resolution(const std::array<double, 3>& extent, double longest, uint64_t r, uint64_t pad) {
  const double h = longest / static_cast<double>(r);
  const uint64_t border = saturating_add(pad, pad);
  GridDims d;
  d.cell_size = h;
  d.nx = saturating_add(cells_for_ratio(extent[0] / h), border);
  d.ny = saturating_add(cells_for_ratio(extent[1] / h), border);
  d.nz = saturating_add(cells_for_ratio(extent[2] / h), border);
  return d;
}

bool fits_budget(const GridDims& d, uint64_t r) {
  const std::optional<uint64_t> count = checked_cell_count(d.nx, d.ny, d.nz);
  return count && (r < 2 || *count <= kCellBudget);
}

// Cell coordinate of a sample, truncated towards zero to a saturated 32-bit value.
int32_t truncated_cell(double coordinate) {
  if (std::isnan(coordinate)) return -1;
  if (coordinate >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (coordinate <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(coordinate);
}

uint64_t samples_along(double length, double step) {
  const double ratio = std::ceil(length / step);
  if (!(ratio >= 1.0) || !std::isfinite(ratio)) return 1;
  return static_cast<uint64_t>(ratio);
}

// Marks the cells holding the sample lattice of triangle (a, b, c); sample
// spacing along both edges from a is at most 0.4 cells.
void rasterize_triangle(Vec3 a, Vec3 b, Vec3 c, const VoxelGrid& frame, CellState* cells) {
  const Vec3 e1 = b - a, e2 = c - a;
  const double step = 0.4 * frame.cell_size;
  const uint64_t nu = samples_along(norm(e1), step);
  const uint64_t nw = samples_along(norm(e2), step);
  const double h = frame.cell_size;
  for (uint64_t i = 0; i <= nu; ++i) {
    const double u = static_cast<double>(i) / static_cast<double>(nu);
    const Vec3 along_u = a + e1 * u;
    for (uint64_t j = 0; j <= nw; ++j) {
      const double w = static_cast<double>(j) / static_cast<double>(nw);
      if (u + w > 1.0) break;
      const Vec3 p = along_u + e2 * w;
      const int32_t x = truncated_cell((p.x - frame.origin.x) / h);
      const int32_t y = truncated_cell((p.y - frame.origin.y) / h);
      const int32_t z = truncated_cell((p.z - frame.origin.z) / h);
      if (x < 0 || y < 0 || z < 0) continue;
      const uint64_t ux = static_cast<uint64_t>(x), uy = static_cast<uint64_t>(y), uz = static_cast<uint64_t>(z);
      if (ux >= frame.nx || uy >= frame.ny || uz >= frame.nz) continue;
      std::atomic_ref<CellState>(cells[ux + frame.nx * (uy + frame.ny * uz)])
          .store(CellState::Surface, std::memory_order_relaxed);
    }
  }
}

}  // namespace

Bounds bounding_box(std::span<const Vec3> positions) {
  const double big = std::numeric_limits<double>::max();
  Bounds b{{big, big, big}, {-big, -big, -big}};
  for (const Vec3& p : positions) {
    for (int axis = 0; axis < 3; ++axis) {
      b.min[axis] = std::min(b.min[axis], p[axis]);
      b.max[axis] = std::max(b.max[axis], p[axis]);
    }
  }
  return b;
}

GridDims grid_dims(Vec3 extent, uint64_t voxel_res, uint64_t pad) {
  std::array<double, 3> e{};
  for (int axis = 0; axis < 3; ++axis) e[axis] = extent[axis] > 0.0 ? extent[axis] : 0.0;
  const double longest = std::max({e[0], e[1], e[2]});
  if (longest == 0.0 || std::isinf(longest)) {
    const uint64_t n = std::max<uint64_t>(saturating_add(saturating_add(pad, pad), 1), 5);
    return {n, n, n, 1.0};
  }
  uint64_t r = std::max<uint64_t>(voxel_res, 1);
  const GridDims first = dims_for_resolution(e, longest, r, pad);
  GridDims accepted = first;
  while (!fits_budget(accepted, r) && r >= 2) {
    r /= 2;
    accepted = dims_for_resolution(e, longest, r, pad);
  }
  if (accepted.nx != first.nx || accepted.ny != first.ny || accepted.nz != first.nz) {
    write_console(fmt::format("  warning: voxel grid {}x{}x{} would exceed {} cell budget; reduced resolution to "
                              "{}x{}x{}\n",
                              first.nx, first.ny, first.nz, kCellBudget, accepted.nx, accepted.ny, accepted.nz));
  }
  return accepted;
}

Status check_cell_budget(const GridDims& dims) {
  const std::optional<uint64_t> count = checked_cell_count(dims.nx, dims.ny, dims.nz);
  if (count && *count <= kCellBudget) return std::nullopt;
  // Only padding this large (a huge closing radius) stays over the budget at
  // resolution 1; the grid cannot be had, as when memory runs out.
  return InternalError{fmt::format("voxel grid {}x{}x{} exceeds the {} cell budget at every resolution", dims.nx,
                                   dims.ny, dims.nz, kCellBudget),
                       ErrorKind::AllocationFailure};
}

Expected<VoxelGrid> voxelize(std::span<const Vec3> positions, std::span<const Triangle> triangles, uint64_t voxel_res,
                             uint64_t extra_pad) {
  if (Status bad = check_triangle_indices(triangles, positions.size())) return *bad;
  const uint64_t pad = saturating_add(kVoxelizePad, extra_pad);
  const Bounds box = bounding_box(positions);
  const GridDims dims = grid_dims(box.max - box.min, voxel_res, pad);
  if (Status too_large = check_cell_budget(dims)) return *too_large;
  VoxelGrid grid;
  grid.nx = dims.nx;
  grid.ny = dims.ny;
  grid.nz = dims.nz;
  grid.cell_size = dims.cell_size;
  grid.origin = padded_origin(box.min, pad, dims.cell_size);
  const uint64_t cells = dims.nx * dims.ny * dims.nz;
  const std::string what = fmt::format("a voxel grid of {}x{}x{} cells at {} bytes per cell", dims.nx, dims.ny,
                                       dims.nz, kVoxelPeakBytesPerCell);
  if (Status refused = check_obtainable(what, cells * kVoxelPeakBytesPerCell)) return *refused;
  if (Status failed = allocate_filled(grid.cells, cells, CellState::Unclassified, "the voxel grid's cells")) {
    return *failed;
  }

  {
    auto stage = StageProgress::start("voxelize", 0);
    CellState* cells = grid.cells.data();
    parallel_for(0, triangles.size(), [&](size_t t) {
      const Triangle& tri = triangles[t];
      rasterize_triangle(positions[tri[0]], positions[tri[1]], positions[tri[2]], grid, cells);
    });
  }
  {
    auto stage = StageProgress::start("flood-fill exterior", 0);
    flood_fill_exterior(grid.cells, grid.nx, grid.ny, grid.nz);
  }
  mark_interior(grid.cells);
  return grid;
}

namespace {

// A run of cells [x0, x1] of one grid row (row = y + ny·z) that the fill has
// marked Outside and whose y and z neighbour rows are still to be examined.
struct Span {
  uint64_t row;
  uint32_t x0, x1;
};

// Spans per task of a round: enough row scanning to outweigh the task's scheduling.
constexpr size_t kSpansPerBlock = 16;
// Smaller frontiers are worked off on the calling thread, span by span, until
// they grow this large: a narrow winding passage would otherwise cost one
// parallel round per step.
constexpr size_t kParallelFrontier = 4 * kSpansPerBlock;

CellState load_cell(const CellState& cell) {
  return std::atomic_ref<const CellState>(cell).load(std::memory_order_relaxed);
}

void mark_outside(CellState& cell) {
  std::atomic_ref<CellState>(cell).store(CellState::Outside, std::memory_order_relaxed);
}

// Claims an Unclassified cell for the calling task, so that two tasks meeting
// the same cell do not both grow a span from it.
bool claim(CellState& cell) {
  CellState expected = CellState::Unclassified;
  return std::atomic_ref<CellState>(cell).compare_exchange_strong(expected, CellState::Outside,
                                                                   std::memory_order_relaxed);
}

// The exterior fill proceeds in rounds of spans. A span's x neighbours are
// covered by growing it along its row until a cell that is not Unclassified;
// its y and z neighbours by scanning the four neighbour rows in the next round.
// Cells only ever change from Unclassified to Outside, so racing tasks can at
// worst mark a cell twice with the same value: the marked set is exactly the
// cells reachable from the seed, whatever the schedule.
class ExteriorFill {
 public:
  ExteriorFill(CellState* cells, uint64_t nx, uint64_t ny, uint64_t nz) : cells_(cells), nx_(nx), ny_(ny), nz_(nz) {}

  void run_from_origin() {
    if (!claim(cells_[0])) return;
    std::vector<Span> frontier{grow(0, 0)};
    while (!frontier.empty()) {
      frontier =
          frontier.size() < kParallelFrontier ? work_off_sequentially(std::move(frontier)) : next_round(frontier);
    }
  }

 private:
  CellState* row_cells(uint64_t row) const { return cells_ + nx_ * row; }

  // Marks the Unclassified run around the claimed cell x of `row`.
  Span grow(uint64_t row, uint64_t x) const {
    CellState* cells = row_cells(row);
    uint64_t lo = x, hi = x;
    while (lo > 0 && load_cell(cells[lo - 1]) == CellState::Unclassified) mark_outside(cells[--lo]);
    while (hi + 1 < nx_ && load_cell(cells[hi + 1]) == CellState::Unclassified) mark_outside(cells[++hi]);
    return {row, static_cast<uint32_t>(lo), static_cast<uint32_t>(hi)};
  }

  // New spans for the Unclassified cells of `row` within [x0, x1].
  void scan_row(uint64_t row, uint64_t x0, uint64_t x1, std::vector<Span>& found) const {
    CellState* cells = row_cells(row);
    for (uint64_t x = x0; x <= x1; ++x) {
      if (load_cell(cells[x]) != CellState::Unclassified || !claim(cells[x])) continue;
      const Span span = grow(row, x);
      found.push_back(span);
      x = span.x1;
    }
  }

  void expand(const Span& span, std::vector<Span>& found) const {
    const uint64_t y = span.row % ny_, z = span.row / ny_;
    if (y > 0) scan_row(span.row - 1, span.x0, span.x1, found);
    if (y + 1 < ny_) scan_row(span.row + 1, span.x0, span.x1, found);
    if (z > 0) scan_row(span.row - ny_, span.x0, span.x1, found);
    if (z + 1 < nz_) scan_row(span.row + ny_, span.x0, span.x1, found);
  }

  // Expands spans first in, first out until none are left or the pending ones
  // are enough for a parallel round; returns the pending ones.
  std::vector<Span> work_off_sequentially(std::vector<Span> queue) const {
    size_t head = 0;
    const auto drop_expanded = [&] {
      queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(head));
      head = 0;
    };
    while (head < queue.size() && queue.size() - head < kParallelFrontier) {
      const Span span = queue[head++];  // a copy: expanding appends to the queue
      expand(span, queue);
      if (head >= 4096 && head * 2 >= queue.size()) drop_expanded();  // memory follows the pending spans
    }
    drop_expanded();
    return queue;
  }

  std::vector<Span> next_round(const std::vector<Span>& frontier) const {
    const size_t blocks = (frontier.size() + kSpansPerBlock - 1) / kSpansPerBlock;
    const std::vector<std::vector<Span>> found = parallel_collect<std::vector<Span>>(blocks, [&](size_t b) {
      std::vector<Span> spans;
      const size_t end = std::min(frontier.size(), (b + 1) * kSpansPerBlock);
      for (size_t i = b * kSpansPerBlock; i < end; ++i) expand(frontier[i], spans);
      return spans;
    });
    std::vector<Span> next;
    for (const std::vector<Span>& spans : found) next.insert(next.end(), spans.begin(), spans.end());
    return next;
  }

  CellState* cells_;
  uint64_t nx_, ny_, nz_;
};

}  // namespace

void flood_fill_exterior(std::span<CellState> cells, uint64_t nx, uint64_t ny, uint64_t nz) {
  constexpr uint64_t kMaxAxis = std::numeric_limits<int32_t>::max();
  if (nx == 0 || ny == 0 || nz == 0 || nx > kMaxAxis || ny > kMaxAxis || nz > kMaxAxis) return;
  if (cells.size() / nx / ny < nz) return;
  ExteriorFill(cells.data(), nx, ny, nz).run_from_origin();
}

void mark_interior(std::span<CellState> cells) {
  CellState* data = cells.data();
  parallel_for_chunks(0, cells.size(), [&](size_t lo, size_t hi) {
    for (size_t i = lo; i < hi; ++i) {
      if (data[i] == CellState::Unclassified) data[i] = CellState::Inside;
    }
  });
}

Status dilate(VoxelGrid& grid, uint64_t passes) {
  std::vector<CellState> scratch;
  return run_cell_passes(grid.cells, scratch, grid.nx, grid.ny, grid.nz, passes, is_solid,
                         [](CellState self, bool hit) { return hit & !is_solid(self) ? CellState::Inside : self; });
}

}  // namespace vorrel
