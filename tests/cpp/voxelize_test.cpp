#include "core/voxelize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

#include "volume_fixtures.h"

namespace vorrel {
namespace {

using testing::box_mesh;
using testing::single_and_multi_threaded;

CellState at(const VoxelGrid& g, uint64_t x, uint64_t y, uint64_t z) { return g.cells[x + g.nx * (y + g.ny * z)]; }

struct DimsCase {
  Vec3 extent;
  uint64_t voxel_res, pad;
  uint64_t nx, ny, nz;
  double cell_size;
};

TEST(GridDims, SizesWithinBudgetWithoutWarning) {
  const DimsCase cases[] = {
      {{2, 1, 0.5}, 128, 2, 132, 68, 36, 2.0 / 128},
      {{0, 0, 0}, 128, 2, 5, 5, 5, 1.0},             // a single point
      {{-1, -1, -1}, 128, 2, 5, 5, 5, 1.0},          // no vertices: negative extent
      {{0, 0, 0}, 128, 6, 13, 13, 13, 1.0},          // degenerate with a larger padding
      {{1, 1, 0}, 4, 2, 8, 8, 5, 0.25},              // flat axis keeps one cell plus padding
      {{1, std::nan(""), 1}, 4, 0, 4, 1, 4, 0.25},   // NaN extent counts as 0
      {{1, 1, 1}, 0, 0, 1, 1, 1, 1.0},               // voxel_res 0 behaves as 1
  };
  for (const DimsCase& c : cases) {
    ::testing::internal::CaptureStderr();
    const GridDims d = grid_dims(c.extent, c.voxel_res, c.pad);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(d.nx, c.nx);
    EXPECT_EQ(d.ny, c.ny);
    EXPECT_EQ(d.nz, c.nz);
    EXPECT_EQ(d.cell_size, c.cell_size);
  }
}

TEST(GridDims, HalvesResolutionUntilWithinBudget) {
  ::testing::internal::CaptureStderr();
  const GridDims d = grid_dims({1, 1, 1}, 2048, 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "  warning: voxel grid 2052x2052x2052 would exceed 1073741824 cell budget; reduced resolution to "
            "516x516x516\n");
  EXPECT_EQ(d.nx, 516u);
  EXPECT_EQ(d.cell_size, 1.0 / 512);
}

TEST(GridDims, OverflowingProductIsHalvedWithOneWarning) {
  ::testing::internal::CaptureStderr();
  const GridDims d = grid_dims({1, 1, 1}, uint64_t{1} << 62, 2);
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
  EXPECT_NE(out.find("would exceed 1073741824 cell budget; reduced resolution to 516x516x516"), std::string::npos)
      << out;
  EXPECT_EQ(d.nx * d.ny * d.nz, 516ull * 516 * 516);
}

TEST(Voxelize, ClosedCubeGivesShellInsideAndOutside) {
  const Mesh cube = box_mesh(0.0, 1.0);
  auto grid = voxelize(cube.positions, cube.indices, 8);
  ASSERT_TRUE(grid.ok());
  ASSERT_EQ(grid->nx, 12u);
  EXPECT_EQ(grid->cell_size, 0.125);
  EXPECT_EQ(grid->origin, (Vec3{-0.25, -0.25, -0.25}));
  // Faces at x = 0 and x = 1 fall into cells 2 and 10.
  EXPECT_EQ(at(*grid, 2, 6, 6), CellState::Surface);
  EXPECT_EQ(at(*grid, 10, 6, 6), CellState::Surface);
  EXPECT_EQ(at(*grid, 6, 6, 6), CellState::Inside);
  EXPECT_EQ(at(*grid, 1, 6, 6), CellState::Outside);
  EXPECT_EQ(at(*grid, 11, 11, 11), CellState::Outside);
  EXPECT_EQ(std::count(grid->cells.begin(), grid->cells.end(), CellState::Inside), 7 * 7 * 7);
  EXPECT_EQ(std::count(grid->cells.begin(), grid->cells.end(), CellState::Unclassified), 0);
}

TEST(Voxelize, ExtraPaddingWidensTheFrame) {
  const Mesh cube = box_mesh(0.0, 1.0);
  auto grid = voxelize(cube.positions, cube.indices, 8, 3);
  ASSERT_TRUE(grid.ok());
  EXPECT_EQ(grid->nx, 18u);
  EXPECT_EQ(grid->origin, (Vec3{-0.625, -0.625, -0.625}));
  EXPECT_EQ(std::count(grid->cells.begin(), grid->cells.end(), CellState::Inside), 7 * 7 * 7);
}

TEST(Voxelize, OpenBoxLetsTheFloodFillIn) {
  const Mesh box = box_mesh(0.0, 1.0, /*skip_top=*/true);
  auto grid = voxelize(box.positions, box.indices, 8);
  ASSERT_TRUE(grid.ok());
  EXPECT_EQ(std::count(grid->cells.begin(), grid->cells.end(), CellState::Inside), 0);
  EXPECT_EQ(at(*grid, 6, 6, 6), CellState::Outside);
}

TEST(Voxelize, EmptyInputGivesDegenerateOutsideGrid) {
  auto grid = voxelize({}, {}, 128);
  ASSERT_TRUE(grid.ok());
  EXPECT_EQ(grid->nx * grid->ny * grid->nz, 125u);
  EXPECT_EQ(grid->cell_size, 1.0);
  EXPECT_TRUE(std::all_of(grid->cells.begin(), grid->cells.end(), [](CellState s) { return s == CellState::Outside; }));
}

TEST(Voxelize, TriangleIndexOutOfRangeIsAnInternalError) {
  const std::vector<Vec3> positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const std::vector<Triangle> triangles = {{0, 1, 2}, {0, 3, 2}};
  auto grid = voxelize(positions, triangles, 8);
  ASSERT_FALSE(grid.ok());
  EXPECT_EQ(grid.error().message, index_out_of_range(3, 3).message);
}

TEST(Voxelize, PaddingBeyondTheBudgetIsAnInternalError) {
  const Mesh cube = box_mesh(0.0, 1.0);
  ::testing::internal::CaptureStderr();
  auto grid = voxelize(cube.positions, cube.indices, 8, uint64_t{1} << 62);
  ::testing::internal::GetCapturedStderr();
  ASSERT_FALSE(grid.ok());
  EXPECT_NE(grid.error().message.find("exceeds the 1073741824 cell budget"), std::string::npos);
}

TEST(Voxelize, IdenticalForOneAndManyThreads) {
  const Mesh sphere = testing::sphere_mesh({0.1, 0.2, 0.3}, 1.0, 24, 48);
  auto [one, many] = single_and_multi_threaded([&] { return voxelize(sphere.positions, sphere.indices, 64); });
  ASSERT_TRUE(one.ok() && many.ok());
  EXPECT_EQ(one->cells, many->cells);
  EXPECT_GT(std::count(one->cells.begin(), one->cells.end(), CellState::Inside), 0);
}

VoxelGrid single_solid_cell() {
  VoxelGrid g;
  g.nx = g.ny = g.nz = 7;
  g.cells.assign(343, CellState::Outside);
  g.cells[3 + 7 * (3 + 7 * 3)] = CellState::Surface;
  return g;
}

TEST(Dilate, GrowsAlongFaceNeighboursOnly) {
  VoxelGrid g = single_solid_cell();
  dilate(g, 0);
  EXPECT_EQ(g.cells, single_solid_cell().cells);

  dilate(g, 1);
  EXPECT_EQ(at(g, 3, 3, 3), CellState::Surface);
  EXPECT_EQ(at(g, 2, 3, 3), CellState::Inside);
  EXPECT_EQ(at(g, 3, 3, 4), CellState::Inside);
  EXPECT_EQ(at(g, 2, 2, 3), CellState::Outside);
  EXPECT_EQ(std::count(g.cells.begin(), g.cells.end(), CellState::Inside), 6);

  dilate(g, 2);  // octahedron of radius 3: 1 + 6 + 18 + 38 cells
  EXPECT_EQ(std::count_if(g.cells.begin(), g.cells.end(), is_solid), 63);
  EXPECT_EQ(at(g, 0, 3, 3), CellState::Inside);
  EXPECT_EQ(at(g, 1, 1, 3), CellState::Outside);
}

// Dilation by plain per-cell neighbour tests, bounds checked on every axis.
std::vector<CellState> reference_dilate(std::vector<CellState> cells, uint64_t nx, uint64_t ny, uint64_t nz,
                                        int passes) {
  for (int pass = 0; pass < passes; ++pass) {
    std::vector<CellState> next = cells;
    for (uint64_t z = 0; z < nz; ++z)
      for (uint64_t y = 0; y < ny; ++y)
        for (uint64_t x = 0; x < nx; ++x) {
          const uint64_t i = x + nx * (y + ny * z);
          const bool touches = (x > 0 && is_solid(cells[i - 1])) || (x + 1 < nx && is_solid(cells[i + 1])) ||
                               (y > 0 && is_solid(cells[i - nx])) || (y + 1 < ny && is_solid(cells[i + nx])) ||
                               (z > 0 && is_solid(cells[i - nx * ny])) || (z + 1 < nz && is_solid(cells[i + nx * ny]));
          if (!is_solid(cells[i]) && touches) next[i] = CellState::Inside;
        }
    cells = next;
  }
  return cells;
}

TEST(Dilate, MatchesPerCellReferenceUpToTheGridBorder) {
  const uint64_t dims[][3] = {{1, 1, 1}, {1, 6, 1}, {2, 3, 4}, {9, 7, 5}, {37, 3, 2}};
  std::mt19937 random(3);
  const CellState states[] = {CellState::Outside, CellState::Outside, CellState::Outside, CellState::Outside,
                              CellState::Unclassified, CellState::Surface, CellState::Inside};
  for (const auto& d : dims) {
    VoxelGrid g;
    g.nx = d[0], g.ny = d[1], g.nz = d[2];
    g.cells.resize(d[0] * d[1] * d[2]);
    for (CellState& s : g.cells) s = states[random() % 7];
    const std::vector<CellState> expected = reference_dilate(g.cells, d[0], d[1], d[2], 2);
    ASSERT_FALSE(dilate(g, 2));
    EXPECT_EQ(g.cells, expected) << d[0] << "x" << d[1] << "x" << d[2];
  }
}

TEST(FloodFillExterior, StopsAtWallsAndNeedsAnUnclassifiedCorner) {
  // A 5³ grid with a closed shell around the centre cell.
  std::vector<CellState> cells(125, CellState::Unclassified);
  for (int d = 0; d < 6; ++d) {
    const int axis = d / 2, sign = d % 2 ? 1 : -1;
    int c[3] = {2, 2, 2};
    c[axis] += sign;
    cells[c[0] + 5 * (c[1] + 5 * c[2])] = CellState::Surface;
  }
  std::vector<CellState> blocked = cells;
  blocked[0] = CellState::Surface;
  flood_fill_exterior(blocked, 5, 5, 5);
  EXPECT_EQ(std::count(blocked.begin(), blocked.end(), CellState::Outside), 0);

  flood_fill_exterior(cells, 5, 5, 5);
  EXPECT_EQ(cells[2 + 5 * (2 + 5 * 2)], CellState::Unclassified);
  EXPECT_EQ(std::count(cells.begin(), cells.end(), CellState::Outside), 125 - 6 - 1);
}

// Plain breadth-first reference for the exterior fill.
std::vector<CellState> reference_fill(std::vector<CellState> cells, uint64_t nx, uint64_t ny, uint64_t nz) {
  if (cells[0] != CellState::Unclassified) return cells;
  std::deque<uint64_t> queue{0};
  cells[0] = CellState::Outside;
  while (!queue.empty()) {
    const uint64_t i = queue.front();
    queue.pop_front();
    const uint64_t x = i % nx, y = i / nx % ny, z = i / (nx * ny);
    const auto visit = [&](bool inside, uint64_t j) {
      if (!inside || cells[j] != CellState::Unclassified) return;
      cells[j] = CellState::Outside;
      queue.push_back(j);
    };
    visit(x > 0, i - 1);
    visit(x + 1 < nx, i + 1);
    visit(y > 0, i - nx);
    visit(y + 1 < ny, i + nx);
    visit(z > 0, i - nx * ny);
    visit(z + 1 < nz, i + nx * ny);
  }
  return cells;
}

// Walls everywhere except a corridor that winds through every y row of every
// z slice, slice after slice: the fill has to follow it cell by cell.
std::vector<CellState> serpentine(uint64_t nx, uint64_t ny, uint64_t nz) {
  std::vector<CellState> cells(nx * ny * nz, CellState::Surface);
  for (uint64_t z = 0; z < nz; z += 2) {
    for (uint64_t y = 0; y < ny; y += 2) {
      for (uint64_t x = 0; x < nx; ++x) cells[x + nx * (y + ny * z)] = CellState::Unclassified;
      const uint64_t turn = (y / 2) % 2 ? 0 : nx - 1;
      if (y + 2 < ny) cells[turn + nx * (y + 1 + ny * z)] = CellState::Unclassified;
    }
    if (z + 2 < nz) cells[nx * (ny - 1 + ny * (z + 1)) + ((ny / 2) % 2 ? 0 : nx - 1)] = CellState::Unclassified;
  }
  return cells;
}

TEST(FloodFillExterior, MatchesBreadthFirstReferenceForOneAndManyThreads) {
  struct Case {
    uint64_t nx, ny, nz;
    unsigned wall_percent;  // of random walls; 101 for the serpentine corridor
  };
  const Case cases[] = {{1, 1, 1, 0},   {9, 1, 1, 0},   {1, 1, 9, 20},  {40, 30, 20, 0},
                        {40, 30, 20, 25}, {33, 17, 29, 45}, {64, 48, 40, 30}, {21, 21, 21, 101},
                        {1, 129, 129, 101}};  // one-cell spans: thousands of steps on the calling thread
  std::mt19937 random(7);
  for (const Case& c : cases) {
    std::vector<CellState> cells(c.nx * c.ny * c.nz, CellState::Unclassified);
    if (c.wall_percent > 100) {
      cells = serpentine(c.nx, c.ny, c.nz);
    } else {
      for (CellState& s : cells) s = random() % 100 < c.wall_percent ? CellState::Surface : CellState::Unclassified;
    }
    cells[0] = CellState::Unclassified;
    const std::vector<CellState> expected = reference_fill(cells, c.nx, c.ny, c.nz);
    auto [one, many] = single_and_multi_threaded([&] {
      std::vector<CellState> filled = cells;
      flood_fill_exterior(filled, c.nx, c.ny, c.nz);
      return filled;
    });
    EXPECT_EQ(one, expected) << c.nx << "x" << c.ny << "x" << c.nz << " walls " << c.wall_percent;
    EXPECT_EQ(many, expected) << c.nx << "x" << c.ny << "x" << c.nz << " walls " << c.wall_percent;
  }
  std::vector<CellState> corridor = serpentine(1, 129, 129);
  flood_fill_exterior(corridor, 1, 129, 129);
  EXPECT_EQ(std::count(corridor.begin(), corridor.end(), CellState::Unclassified), 0);
}

}  // namespace
}  // namespace vorrel
