#include "core/marching_cubes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "volume_fixtures.h"

namespace vorrel {
namespace {

using testing::is_closed_and_oriented;
using testing::signed_volume;
using testing::single_and_multi_threaded;

constexpr int kCorner[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
constexpr int kEdgeCorners[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                     {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

std::vector<int> row(int c) {
  std::vector<int> r;
  for (int8_t e : marching_cubes_triangle_table()[c]) {
    if (e < 0) break;
    r.push_back(e);
  }
  return r;
}

TEST(MarchingCubesTables, TellingEntriesAndRowStatistics) {
  EXPECT_EQ(marching_cubes_edge_table()[1], 0x109);
  EXPECT_EQ(marching_cubes_edge_table()[3], 0x30A);
  EXPECT_EQ(row(1), (std::vector<int>{0, 8, 3}));
  EXPECT_EQ(row(3), (std::vector<int>{1, 8, 3, 9, 8, 1}));
  EXPECT_EQ(row(7), (std::vector<int>{2, 8, 3, 2, 10, 8, 10, 9, 8}));
  EXPECT_EQ(row(128), (std::vector<int>{7, 6, 11}));
  EXPECT_EQ(row(129), (std::vector<int>{3, 0, 8, 11, 7, 6}));
  EXPECT_EQ(row(240), (std::vector<int>{9, 10, 8, 10, 11, 8}));
  EXPECT_EQ(row(252), (std::vector<int>{1, 3, 8, 9, 1, 8}));
  EXPECT_EQ(row(254), (std::vector<int>{0, 3, 8}));

  std::vector<int> rows_with(6, 0);
  for (int c = 0; c < 256; ++c) {
    const std::vector<int> r = row(c);
    ASSERT_EQ(r.size() % 3, 0u) << c;
    ASSERT_LE(r.size(), 15u) << c;
    ++rows_with[r.size() / 3];
  }
  // Two inside corners on a face diagonal give two separate triangles, while
  // their complements (two outside corners) give a tunnel of four triangles.
  EXPECT_EQ(rows_with, (std::vector<int>{2, 16, 50, 80, 76, 32}));
}

// Every row uses exactly the edges its case cuts, and every triangle faces the
// inside corners (checked with the edge midpoints of a unit cube).
TEST(MarchingCubesTables, RowsUseTheCutEdgesAndFaceTheInside) {
  const auto midpoint = [](int e) {
    const int* a = kCorner[kEdgeCorners[e][0]];
    const int* b = kCorner[kEdgeCorners[e][1]];
    return Vec3{(a[0] + b[0]) / 2.0, (a[1] + b[1]) / 2.0, (a[2] + b[2]) / 2.0};
  };
  for (int c = 0; c < 256; ++c) {
    uint16_t used = 0;
    const std::vector<int> r = row(c);
    for (int e : r) used |= uint16_t(1u << e);
    EXPECT_EQ(used, marching_cubes_edge_table()[c]) << c;
    for (size_t t = 0; t < r.size(); t += 3) {
      const Vec3 a = midpoint(r[t]), b = midpoint(r[t + 1]), cc = midpoint(r[t + 2]);
      const Vec3 normal = cross(b - a, cc - a);
      const Vec3 centre = (a + b + cc) / 3.0;
      double towards_inside = 0;
      for (int k = 0; k < 8; ++k) {
        const Vec3 d = Vec3{double(kCorner[k][0]), double(kCorner[k][1]), double(kCorner[k][2])} - centre;
        const double weight = dot(normal, d) / std::pow(norm(d), 3);
        towards_inside += (c >> k) & 1 ? weight : -weight;
      }
      EXPECT_GT(towards_inside, 0) << "case " << c << " triangle " << t / 3;
    }
  }
}

TEST(ExtractVoxelSurface, SingleSolidCellGivesOutwardOctahedron) {
  VoxelGrid g;
  g.nx = g.ny = g.nz = 5;
  g.origin = {1, 2, 3};
  g.cell_size = 0.5;
  g.cells.assign(125, CellState::Outside);
  g.cells[2 + 5 * (2 + 5 * 2)] = CellState::Inside;
  const Mesh m = extract_voxel_surface(g);
  ASSERT_EQ(m.positions.size(), 6u);
  ASSERT_EQ(m.indices.size(), 8u);
  const Vec3 centre{2, 3, 4};
  for (const Vec3& p : m.positions) EXPECT_DOUBLE_EQ(norm(p - centre), 0.25);
  EXPECT_TRUE(is_closed_and_oriented(m));
  for (const Triangle& t : m.indices) {
    const Vec3 a = m.positions[t[0]], b = m.positions[t[1]], c = m.positions[t[2]];
    EXPECT_GT(dot(cross(b - a, c - a), (a + b + c) / 3.0 - centre), 0);
  }
}

TEST(ExtractVoxelSurface, ThinOrUniformGridsGiveEmptyMeshes) {
  VoxelGrid thin;
  thin.nx = 1;
  thin.ny = thin.nz = 4;
  thin.cells.assign(16, CellState::Inside);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(extract_voxel_surface(thin).indices.size(), 0u);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  VoxelGrid full;
  full.nx = full.ny = full.nz = 4;
  full.cells.assign(64, CellState::Surface);
  EXPECT_EQ(extract_voxel_surface(full).positions.size(), 0u);
}

// A 2³ field with corner 0 at va and every other corner at vb: the vertex on
// edge 0 (x axis from corner 0) sits at parameter t.
struct InterpolationCase {
  float va, vb;
  double t;
};

TEST(ExtractIsoSurface, InterpolatesAndClampsAlongEdges) {
  const InterpolationCase cases[] = {{-1.0f, 3.0f, 0.25}, {-1e-6f, 1.0f, 0.01}, {-1e-11f, 1e-11f, 0.5}};
  for (const InterpolationCase& c : cases) {
    std::vector<float> values(8, c.vb);
    values[0] = c.va;
    const Mesh m = extract_iso_surface(values, 2, 2, 2, {0, 0, 0}, 2.0, 0.0);
    ASSERT_EQ(m.indices.size(), 1u);
    // Output winding is (e0, e3, e8).
    const Vec3 on_x = m.positions[m.indices[0][0]];
    EXPECT_NEAR(on_x.x, 2.0 * (0.5 + c.t), 1e-6) << c.va;
    EXPECT_EQ(on_x.y, 1.0);
    EXPECT_EQ(on_x.z, 1.0);
    const Vec3 on_y = m.positions[m.indices[0][1]];
    EXPECT_EQ(on_y.x, 1.0);
    EXPECT_NEAR(on_y.y, 2.0 * (0.5 + c.t), 1e-6);
  }
}

TEST(ExtractIsoSurface, ValueAtTheLevelIsOutside) {
  std::vector<float> values(8, 1.0f);
  values[0] = 0.5f;
  EXPECT_EQ(extract_iso_surface(values, 2, 2, 2, {0, 0, 0}, 1.0, 0.5).indices.size(), 0u);
  EXPECT_EQ(extract_iso_surface(values, 2, 2, 2, {0, 0, 0}, 1.0, 0.75).indices.size(), 1u);
}

std::vector<float> sphere_field(uint64_t n, double radius) {
  std::vector<float> values(n * n * n);
  const double c = n / 2.0;
  for (uint64_t z = 0; z < n; ++z)
    for (uint64_t y = 0; y < n; ++y)
      for (uint64_t x = 0; x < n; ++x)
        values[x + n * (y + n * z)] = static_cast<float>(norm(Vec3{x + 0.5 - c, y + 0.5 - c, z + 0.5 - c}) - radius);
  return values;
}

TEST(ExtractIsoSurface, SphereIsClosedOutwardAndWeldedAcrossSlabs) {
  const uint64_t n = 24;
  const std::vector<float> values = sphere_field(n, 8.0);
  const Mesh m = extract_iso_surface(values, n, n, n, {0, 0, 0}, 1.0, 0.0);
  ASSERT_GT(m.indices.size(), 100u);
  EXPECT_TRUE(is_closed_and_oriented(m));
  const double pi = 3.14159265358979323846;
  EXPECT_NEAR(signed_volume(m) / (4.0 / 3.0 * pi * 512.0), 1.0, 0.03);
  std::set<std::tuple<double, double, double>> distinct;
  for (const Vec3& p : m.positions) distinct.insert({p.x, p.y, p.z});
  EXPECT_EQ(distinct.size(), m.positions.size());
}

TEST(ExtractIsoSurface, IdenticalForOneAndManyThreads) {
  const uint64_t n = 40;
  const std::vector<float> values = sphere_field(n, 15.0);
  auto [one, many] = single_and_multi_threaded(
      [&] { return extract_iso_surface(values, n, n, n, {0.5, -1, 2}, 0.25, 0.3); });
  EXPECT_EQ(one.indices, many.indices);
  EXPECT_TRUE(one.positions == many.positions);
}

TEST(ExtractIsoSurface, ArrayShorterThanTheGridGivesEmptyMesh) {
  const std::vector<float> values(7, -1.0f);
  EXPECT_EQ(extract_iso_surface(values, 2, 2, 2, {0, 0, 0}, 1.0, 0.0).positions.size(), 0u);
  const uint64_t wrap = uint64_t{1} << 32;  // wrap · wrap · 2 overflows to 0
  EXPECT_EQ(extract_iso_surface(values, wrap, wrap, 2, {0, 0, 0}, 1.0, 0.0).positions.size(), 0u);
}

}  // namespace
}  // namespace vorrel
