#include "core/attribute_transfer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>
#include <algorithm>
#include <vector>

namespace vorrel {
namespace {

using Uv = std::array<float, 2>;

// 675 points in the box [0, 3]³ give cells of edge exactly 1, 3 per axis.
// The box is held by filler points at two opposite corners, far from the
// queries at the centre cell (1, 1, 1).
std::vector<Vec3> three_cube_grid_points(std::vector<Vec3> probes) {
  std::vector<Vec3> points = std::move(probes);
  points.push_back({0, 0, 0});
  while (points.size() < 675) points.push_back({3, 3, 3});
  return points;
}

TEST(NearestVertexGrid, CellSizeRule) {
  NearestVertexGrid grid = NearestVertexGrid::build(three_cube_grid_points({}));
  EXPECT_EQ(grid.cell_size, 1.0);
  EXPECT_EQ(grid.nx * grid.ny * grid.nz, 27u);

  NearestVertexGrid single = NearestVertexGrid::build(std::vector<Vec3>{{4, 5, 6}});
  EXPECT_DOUBLE_EQ(single.cell_size, 1e-12);
  EXPECT_EQ(single.nx * single.ny * single.nz, 1u);
  for (Vec3 q : {Vec3{4, 5, 6}, Vec3{-100, 0, 1e9}}) EXPECT_EQ(single.nearest_vertex(q), 0u);

  NearestVertexGrid empty = NearestVertexGrid::build({});
  EXPECT_EQ(empty.cell_size, 1.0);
  EXPECT_FALSE(empty.nearest_vertex({0, 0, 0}));
}

TEST(NearestVertexGrid, EqualDistancesGoToTheFirstPointVisited) {
  const Vec3 centre{1.5, 1.5, 1.5};
  // Same cell: the lower index.
  EXPECT_EQ(NearestVertexGrid::build(three_cube_grid_points({{1.5, 1.5, 1.25}, {1.5, 1.5, 1.25}})).nearest_vertex(centre), 0u);
  // One shell, different cells: lower z, then lower y, then lower x, whatever the index.
  const Vec3 below_x{0.75, 1.5, 1.5}, below_y{1.5, 0.75, 1.5}, below_z{1.5, 1.5, 0.75};
  EXPECT_EQ(NearestVertexGrid::build(three_cube_grid_points({below_x, below_y, below_z})).nearest_vertex(centre), 2u);
  EXPECT_EQ(NearestVertexGrid::build(three_cube_grid_points({below_x, below_y})).nearest_vertex(centre), 1u);
  // The nearer shell wins over a lower index in a farther shell.
  const Vec3 q{1.75, 1.5, 1.5};
  EXPECT_EQ(NearestVertexGrid::build(three_cube_grid_points({{2.25, 1.5, 1.5}, {1.25, 1.5, 1.5}})).nearest_vertex(q), 1u);
}

TEST(NearestVertexGrid, FindsTheSameIndexAsExhaustiveSearch) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> inside(-1.0, 2.0), anywhere(-4.0, 5.0);
  std::vector<Vec3> points(3000);
  // Squashed along z, so cells are far from cubes of the box.
  for (Vec3& p : points) p = {inside(rng), inside(rng), 0.05 * inside(rng)};
  NearestVertexGrid grid = NearestVertexGrid::build(points);
  for (int i = 0; i < 400; ++i) {
    Vec3 q{anywhere(rng), anywhere(rng), anywhere(rng)};
    size_t expected = 0;
    for (size_t k = 1; k < points.size(); ++k) {
      if (norm_squared(points[k] - q) < norm_squared(points[expected] - q)) expected = k;
    }
    ASSERT_EQ(grid.nearest_vertex(q), expected) << "query " << i;
  }
}

// On a lattice nearly every query has several nearest points. The expected
// winner is the least (distance, shell, z, y, x, index) over all points.
TEST(NearestVertexGrid, LatticeTiesFollowTheVisitOrder) {
  std::vector<Vec3> points;
  for (int i = 0; i < 2000; ++i) points.push_back({0.5 * (i % 13), 0.25 * ((i / 13) % 11), 0.5 * (i % 7)});
  NearestVertexGrid grid = NearestVertexGrid::build(points);
  auto cell_of = [&](Vec3 p) {
    Vec3 g = (p - grid.min) * grid.inv_cell_size;
    auto clamp = [](double v, uint64_t n) { return static_cast<int64_t>(std::clamp(std::floor(v), 0.0, n - 1.0)); };
    return std::array<int64_t, 3>{clamp(g.x, grid.nx), clamp(g.y, grid.ny), clamp(g.z, grid.nz)};
  };
  for (int i = 0; i < 600; ++i) {
    Vec3 q{-1.0 + 0.25 * (i % 31), -0.5 + 0.125 * (i % 37), -0.75 + 0.25 * (i % 23)};
    auto [cx, cy, cz] = cell_of(q);
    auto rank = [&](size_t k) {
      auto [x, y, z] = cell_of(points[k]);
      int64_t shell = std::max({std::abs(x - cx), std::abs(y - cy), std::abs(z - cz)});
      return std::make_tuple(norm_squared(points[k] - q), shell, z, y, x, k);
    };
    size_t expected = 0;
    for (size_t k = 1; k < points.size(); ++k) {
      if (rank(k) < rank(expected)) expected = k;
    }
    ASSERT_EQ(grid.nearest_vertex(q), expected) << "query " << i;
  }
}

// Input: the unit square in z = 0 as two triangles, plus an isolated vertex 4.
struct TransferFixture {
  std::vector<Vec3> positions{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {5, 5, 5}};
  std::vector<Triangle> triangles{{0, 1, 2}, {0, 2, 3}};
  // Corner normals: vertex 0 gets (1, 0, 0) and (0, 1, 0) from its two corners.
  std::vector<Vec3> normals{{1, 0, 0}, {0, 0, 2}, {0, 0, 1}, {0, 1, 0}, {0, 0, 1}, {0, -3, 0}};
  // Vertex 0 is a seam: its corners carry (0.1, 0.1) first and (0.9, 0.9) later.
  std::vector<Uv> uvs{{0.1f, 0.1f}, {0.2f, 0.2f}, {0.3f, 0.3f}, {0.9f, 0.9f}, {0.3f, 0.3f}, {0.4f, 0.4f}};
  // Proxy: corners near input vertices 0, 1, 3, then 4 (isolated) and 2.
  std::vector<Vec3> proxy{{-0.1, -0.1, 0.1}, {1.1, -0.1, 0.1}, {-0.1, 1.1, 0.1}, {5, 5, 5.2}, {1.1, 1.1, 0.1}};
  std::vector<Triangle> proxy_triangles{{0, 1, 2}, {3, 4, 1}};

  TransferredAttributes run(bool with_normals, bool with_uvs, bool transfer_normals, bool transfer_uvs) const {
    std::optional<std::span<const Vec3>> n;
    std::optional<std::span<const Uv>> u;
    if (with_normals) n = normals;
    if (with_uvs) u = uvs;
    return transfer_attributes(positions, triangles, n, u, proxy, proxy_triangles, transfer_normals, transfer_uvs);
  }
};

void expect_near(const Vec3& a, const Vec3& b) {
  EXPECT_NEAR(a.x, b.x, 1e-15);
  EXPECT_NEAR(a.y, b.y, 1e-15);
  EXPECT_NEAR(a.z, b.z, 1e-15);
}

TEST(TransferAttributes, ModeTable) {
  struct Case {
    bool transfer_normals, transfer_uvs, input_has_uvs;
    bool transferred_normals, own_normals, transferred_uvs;
  };
  const TransferFixture fx;
  for (Case c : {Case{true, false, true, true, false, false}, Case{true, false, false, true, false, false},
                 Case{true, true, true, true, false, true}, Case{true, true, false, true, false, false},
                 Case{false, true, true, false, false, true}, Case{false, true, false, false, true, false},
                 Case{false, false, true, false, true, false}}) {
    SCOPED_TRACE(testing::Message() << c.transfer_normals << c.transfer_uvs << c.input_has_uvs);
    TransferredAttributes r = fx.run(true, c.input_has_uvs, c.transfer_normals, c.transfer_uvs);
    ASSERT_EQ(r.normals.has_value(), c.transferred_normals || c.own_normals);
    ASSERT_EQ(r.uvs.has_value(), c.transferred_uvs);
    if (r.normals) {
      ASSERT_EQ(r.normals->size(), 6u);
      // Proxy vertex 0 lies on one triangle, facing +z; input vertex 0 has two corner normals.
      expect_near((*r.normals)[0], c.own_normals ? Vec3{0, 0, 1} : Vec3{std::sqrt(0.5), std::sqrt(0.5), 0});
    }
    if (r.uvs) {
      EXPECT_EQ(*r.uvs, (std::vector<Uv>{{0.1f, 0.1f}, {0.2f, 0.2f}, {0.4f, 0.4f}, {0, 0}, {0.3f, 0.3f}, {0.2f, 0.2f}}));
    }
  }
}

TEST(TransferAttributes, TransferredNormalsPerCorner) {
  TransferredAttributes r = TransferFixture{}.run(true, false, true, false);
  const double h = std::sqrt(0.5);
  // Corners near input vertices 0, 1, 3, 4 (isolated), 2, 1.
  std::vector<Vec3> expected{{h, h, 0}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 1}};
  ASSERT_EQ(r.normals->size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) expect_near((*r.normals)[i], expected[i]);
}

TEST(TransferAttributes, InputWithoutNormalsUsesAreaWeightedFaceNormals) {
  // Vertex 0 is shared by a triangle facing +z (doubled area 1) and one facing +x (doubled area 4).
  std::vector<Vec3> positions{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 0, 2}};
  std::vector<Triangle> triangles{{0, 1, 2}, {0, 3, 4}};
  std::vector<Vec3> proxy{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  TransferredAttributes r = transfer_attributes(positions, triangles, std::nullopt, std::nullopt, proxy,
                                                std::vector<Triangle>{{0, 1, 2}}, true, false);
  const double s = 1 / std::sqrt(17.0);
  for (const Vec3& n : *r.normals) expect_near(n, {4 * s, 0, s});
}

TEST(TransferAttributes, ShortAttributeArraysAndBadIndicesAreSkipped) {
  TransferFixture fx;
  fx.normals.resize(1);                       // only the first corner has a normal
  fx.uvs.resize(2);                           // only the first two corners have UVs
  fx.triangles.push_back({0, 99, 1});         // out of range: adds no face normal
  fx.proxy_triangles.push_back({0, 1, 1000});  // out-of-range proxy corner stays zero
  TransferredAttributes r = fx.run(true, true, true, true);
  ASSERT_EQ(r.normals->size(), 9u);
  ASSERT_EQ(r.uvs->size(), 9u);
  expect_near((*r.normals)[0], {1, 0, 0});
  expect_near((*r.normals)[1], {0, 1, 0});  // vertex 1 has no normal left
  EXPECT_EQ((*r.uvs)[2], (Uv{0, 0}));       // vertex 3's corners are past the UVs
  EXPECT_EQ((*r.uvs)[1], (Uv{0.2f, 0.2f}));
  expect_near((*r.normals)[8], {0, 0, 0});
  EXPECT_EQ((*r.uvs)[8], (Uv{0, 0}));

  TransferredAttributes own = fx.run(true, true, false, false);
  expect_near((*own.normals)[8], {0, 0, 0});
}

TEST(TransferAttributes, OwnNormalsOfADegenerateProxyPointUp) {
  std::vector<Vec3> proxy{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  TransferredAttributes r = transfer_attributes({}, {}, std::nullopt, std::nullopt, proxy,
                                                std::vector<Triangle>{{0, 1, 2}}, false, true);
  EXPECT_FALSE(r.uvs);
  for (const Vec3& n : *r.normals) EXPECT_EQ(n, (Vec3{0, 1, 0}));
}

TEST(TransferAttributes, EmptyInputLeavesEveryCornerZero) {
  std::vector<Vec3> proxy{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  std::vector<Uv> no_uvs;
  TransferredAttributes r = transfer_attributes({}, {}, std::nullopt, no_uvs, proxy,
                                                std::vector<Triangle>{{0, 1, 2}}, true, true);
  EXPECT_EQ(*r.normals, std::vector<Vec3>(3));
  EXPECT_EQ(*r.uvs, std::vector<Uv>(3, Uv{0, 0}));
}

}  // namespace
}  // namespace vorrel
