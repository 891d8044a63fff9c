#include "core/sdf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "core/marching_cubes.h"
#include "volume_fixtures.h"

namespace vorrel {
namespace {

using testing::box_mesh;
using testing::single_and_multi_threaded;

constexpr double kInf = std::numeric_limits<double>::infinity();

uint64_t index_of(const DistanceField& f, uint64_t x, uint64_t y, uint64_t z) { return x + f.nx * (y + f.ny * z); }

Vec3 centre_of(const DistanceField& f, double x, double y, double z) {
  return f.origin + Vec3{x + 0.5, y + 0.5, z + 0.5} * f.cell_size;
}

DistanceField unit_cube_field(uint64_t close, double band) {
  const Mesh cube = box_mesh(0.0, 1.0);
  auto field = build_distance_field(cube.positions, cube.indices, 8, close, band);
  EXPECT_TRUE(field.ok());
  return std::move(field.value());
}

struct ClosestCase {
  Vec3 p, expected;
};

TEST(ClosestPointOnTriangle, EveryVoronoiRegion) {
  const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
  const ClosestCase cases[] = {
      {{-1, -1, 1}, a},                 // vertex a
      {{2, -0.5, 0}, b},                // vertex b
      {{0.5, -1, 0}, {0.5, 0, 0}},      // edge ab
      {{-0.5, 2, 0}, c},                // vertex c
      {{-1, 0.5, 3}, {0, 0.5, 0}},      // edge ac
      {{1, 1, 0}, {0.5, 0.5, 0}},       // edge bc
      {{0.25, 0.25, 5}, {0.25, 0.25, 0}},  // interior: orthogonal projection
  };
  for (const ClosestCase& k : cases) {
    const Vec3 q = closest_point_on_triangle(k.p, a, b, c);
    EXPECT_NEAR(norm(q - k.expected), 0.0, 1e-15) << k.p.x << " " << k.p.y << " " << k.p.z;
  }
}

struct EdtCase {
  std::vector<double> f, expected;
};

TEST(Edt1d, LowerEnvelopeOfParabolas) {
  const double nan = std::nan("");
  const EdtCase cases[] = {
      {{kInf, 0, kInf, kInf}, {1, 0, 1, 4}},
      {{kInf, kInf, kInf}, {kInf, kInf, kInf}},
      {{7}, {7}},
      {{0, kInf, kInf, 0}, {0, 1, 1, 0}},
      {{4, 0, 4}, {1, 0, 1}},
      {{0, 1, 4, kInf, kInf, kInf}, {0, 1, 2, 5, 8, 13}},  // the third seed is not kept
      {{nan, 0, nan}, {1, 0, 1}},                          // NaN samples are absent
      {{}, {}},
  };
  EdtScratch scratch;
  for (const EdtCase& c : cases) {
    std::vector<double> out(c.f.size(), -1.0);
    edt_1d(c.f, out, scratch);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(Edt1d, MatchesBruteForceOnRandomLines) {
  std::mt19937 random(11);
  EdtScratch scratch;
  for (int line = 0; line < 200; ++line) {
    std::vector<double> f(1 + random() % 40);
    for (double& sample : f) sample = random() % 3 == 0 ? double(random() % 50) : kInf;
    std::vector<double> out(f.size()), expected(f.size(), kInf);
    for (size_t q = 0; q < f.size(); ++q) {
      for (size_t p = 0; p < f.size(); ++p) {
        const double offset = double(q) - double(p);
        expected[q] = std::min(expected[q], offset * offset + f[p]);
      }
    }
    if (f.size() == 1) expected = f;
    edt_1d(f, out, scratch);
    EXPECT_EQ(out, expected) << line;
  }
}

TEST(BuildDistanceField, ClosedCubeBandSignAndValues) {
  const DistanceField f = unit_cube_field(0, 2.0);
  // pad = ceil(2) + 2 = 4 cells around 8: cell centres at -0.5 + 0.125·(i + 0.5).
  ASSERT_EQ(f.nx, 16u);
  EXPECT_EQ(f.cell_size, 0.125);
  EXPECT_EQ(f.origin, (Vec3{-0.5, -0.5, -0.5}));
  EXPECT_EQ(f.band_cells, 2.0);
  const float H = static_cast<float>(f.half_diagonal), B = 0.25f;

  struct Expect {
    uint64_t x;
    CellState state;
    float value;
  };
  const Expect along_x[] = {
      {1, CellState::Outside, B},                   // 0.3125 from the cube: beyond the band
      {2, CellState::Outside, 0.1875f},             // in the band, beyond half a diagonal
      {3, CellState::Surface, 0.0625f},             // within half a diagonal outside
      {4, CellState::Surface, 0.0625f},             // within half a diagonal inside
      {5, CellState::Inside, (H + H) - 0.1875f},    // inside, in the band
      {8, CellState::Inside, (H + H) - B},          // inside, beyond the band
  };
  for (const Expect& e : along_x) {
    const uint64_t i = index_of(f, e.x, 8, 8);
    EXPECT_EQ(f.states[i], e.state) << e.x;
    EXPECT_EQ(f.values[i], e.value) << e.x;
  }
  // (0, .5625, .5625) lies on the -x face triangle {2, 4, 6}, index 9.
  EXPECT_EQ(f.nearest_triangle[index_of(f, 2, 8, 8)], 9u);
  EXPECT_EQ(f.band_distance[index_of(f, 2, 8, 8)], 0.1875f);
  EXPECT_EQ(f.nearest_triangle[index_of(f, 1, 8, 8)], kNoTriangle);
  EXPECT_EQ(f.band_distance[index_of(f, 1, 8, 8)], std::numeric_limits<float>::infinity());
  EXPECT_FALSE(f.far_field_done);
}

TEST(BuildDistanceField, PaddingFollowsClosingBandAndExtraPadding) {
  const Mesh cube = box_mesh(0.0, 1.0);
  struct PadCase {
    uint64_t close;
    double band;
    uint64_t extra, pad;
  };
  const PadCase cases[] = {{0, 2.0, 0, 4}, {1, 2.6, 0, 6}, {2, -1.0, 0, 4}, {0, std::nan(""), 3, 5}, {0, 4.0, 2, 8}};
  for (const PadCase& c : cases) {
    auto f = build_distance_field(cube.positions, cube.indices, 8, c.close, c.band, c.extra);
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f->nx, 8 + 2 * c.pad) << c.close << " " << c.band << " " << c.extra;
    EXPECT_EQ(f->origin.x, -0.125 * double(c.pad));
    EXPECT_EQ(f->band_cells, c.band > 1.0 ? c.band : 1.0);
  }
}

TEST(BuildDistanceField, ClosingBeyondTheBudgetIsAnInternalError) {
  const Mesh cube = box_mesh(0.0, 1.0);
  for (uint64_t close : {uint64_t{1} << 20, ~uint64_t{0}}) {
    ::testing::internal::CaptureStderr();
    auto f = build_distance_field(cube.positions, cube.indices, 8, close, 2.0);
    ::testing::internal::GetCapturedStderr();
    ASSERT_FALSE(f.ok());
    EXPECT_NE(f.error().message.find("exceeds the 1073741824 cell budget"), std::string::npos);
  }
}

// Distance from p to the solid unit cube (0 inside).
double distance_to_unit_cube(Vec3 p) {
  Vec3 outside;
  for (int axis = 0; axis < 3; ++axis) outside[axis] = std::max({0.0, -p[axis], p[axis] - 1.0});
  return norm(outside);
}

TEST(BuildDistanceField, IsoLevelOfOneCellWrapsTheCubeAtAboutOneCell) {
  const Mesh cube = box_mesh(0.0, 1.0);
  auto f = build_distance_field(cube.positions, cube.indices, 16, 0, 2.0);
  ASSERT_TRUE(f.ok());
  const double h = f->cell_size;
  compute_far_field(*f, h);
  const Mesh proxy = extract_iso_surface(f->values, f->nx, f->ny, f->nz, f->origin, h, h);
  EXPECT_TRUE(testing::is_closed_and_oriented(proxy));
  for (const Vec3& p : proxy.positions) {
    const double d = distance_to_unit_cube(p) / h;
    EXPECT_GT(d, 0.7);
    EXPECT_LT(d, 1.35);
  }
}

TEST(BuildDistanceField, ClosingErodesOnlyTheOuterAddedLayer) {
  const DistanceField f = unit_cube_field(1, 2.0);
  // pad = 1 + 2 + 2 = 5: centres at -0.625 + 0.125·(i + 0.5); the faces' surface cells are 4 and 5.
  ASSERT_EQ(f.nx, 18u);
  EXPECT_EQ(f.states[index_of(f, 3, 9, 9)], CellState::Outside);  // dilated outward, eroded back
  EXPECT_EQ(f.states[index_of(f, 4, 9, 9)], CellState::Surface);
  EXPECT_EQ(f.states[index_of(f, 6, 9, 9)], CellState::Surface);  // dilated inward, kept
  EXPECT_EQ(f.states[index_of(f, 7, 9, 9)], CellState::Inside);
}

TEST(BuildDistanceField, OpenBoxIsHollowWithoutClosingAndSolidWithIt) {
  const Mesh box = box_mesh(0.0, 1.0, /*skip_top=*/true);
  auto open = build_distance_field(box.positions, box.indices, 8, 0, 2.0);
  ASSERT_TRUE(open.ok());
  EXPECT_EQ(std::count(open->states.begin(), open->states.end(), CellState::Inside), 0);

  auto closed = build_distance_field(box.positions, box.indices, 8, 5, 2.0);
  ASSERT_TRUE(closed.ok());
  const uint64_t mid = closed->nx / 2;
  EXPECT_TRUE(is_solid(closed->states[index_of(*closed, mid, mid, mid)]));
  EXPECT_EQ(std::count(closed->states.begin(), closed->states.end(), CellState::Unclassified), 0);
  compute_far_field(*closed, closed->cell_size);
  const Mesh proxy = extract_iso_surface(closed->values, closed->nx, closed->ny, closed->nz, closed->origin,
                                         closed->cell_size, closed->cell_size);
  EXPECT_TRUE(testing::is_closed_and_oriented(proxy));
  EXPECT_GT(testing::signed_volume(proxy), 1.0);
}

TEST(BuildDistanceField, CellCentreOnATriangleAndTiesKeepTheSmallerIndex) {
  // The second, tiny triangle lowers the box by half a cell so that z = 0 runs
  // through cell centres (h = 0.25, pad 4: centres at -1.125 + 0.25·(k + 0.5)).
  const std::vector<Vec3> positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0},
                                       {0, 0, -0.125}, {0.01, 0, -0.125}, {0, 0.01, -0.125}};
  const std::vector<Triangle> triangles = {{0, 1, 2}, {3, 4, 5}, {0, 1, 2}};
  auto f = build_distance_field(positions, triangles, 4, 0, 2.0);
  ASSERT_TRUE(f.ok());
  const uint64_t on = index_of(*f, 4, 4, 4);
  EXPECT_EQ(centre_of(*f, 4, 4, 4), (Vec3{0.125, 0.125, 0.0}));
  EXPECT_EQ(f->band_distance[on], 0.0f);
  EXPECT_EQ(f->states[on], CellState::Surface);
  for (size_t i = 0; i < f->nearest_triangle.size(); ++i) EXPECT_NE(f->nearest_triangle[i], 2u);
}

// Every cell against every triangle: the smallest float32 distance within the
// band and, among equal distances, the smallest index; Surface within half a
// diagonal. A fine sphere makes many triangles compete for each cell.
TEST(BuildDistanceField, BandMatchesEveryCellAgainstEveryTriangle) {
  const Mesh sphere = testing::sphere_mesh({0.05, 0.1, -0.15}, 1.0, 16, 32);
  auto built = build_distance_field(sphere.positions, sphere.indices, 14, 0, 2.0);
  ASSERT_TRUE(built.ok());
  const DistanceField& f = *built;
  const double reach = f.band_cells * f.cell_size;
  for (uint64_t z = 0; z < f.nz; ++z)
    for (uint64_t y = 0; y < f.ny; ++y)
      for (uint64_t x = 0; x < f.nx; ++x) {
        const Vec3 p = centre_of(f, double(x), double(y), double(z));
        float best = std::numeric_limits<float>::infinity();
        uint32_t nearest = kNoTriangle;
        bool surface = false;
        for (uint32_t t = 0; t < sphere.indices.size(); ++t) {
          const Triangle& tri = sphere.indices[t];
          const double d = norm(p - closest_point_on_triangle(p, sphere.positions[tri[0]], sphere.positions[tri[1]],
                                                              sphere.positions[tri[2]]));
          if (!(d <= reach)) continue;
          surface = surface || d <= f.half_diagonal;
          if (static_cast<float>(d) < best) best = static_cast<float>(d), nearest = t;
        }
        const uint64_t i = index_of(f, x, y, z);
        ASSERT_EQ(f.band_distance[i], best) << x << " " << y << " " << z;
        ASSERT_EQ(f.nearest_triangle[i], nearest) << x << " " << y << " " << z;
        ASSERT_EQ(f.states[i] == CellState::Surface, surface) << x << " " << y << " " << z;
      }
}

TEST(BuildDistanceField, TriangleIndexOutOfRangeIsAnInternalError) {
  const std::vector<Vec3> positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  auto f = build_distance_field(positions, std::vector<Triangle>{{0, 1, 7}}, 8, 0, 2.0);
  ASSERT_FALSE(f.ok());
  EXPECT_EQ(f.error().message, index_out_of_range(7, 3).message);
}

TEST(BuildDistanceField, IdenticalForOneAndManyThreads) {
  const Mesh sphere = testing::sphere_mesh({0.3, -0.2, 0.1}, 1.0, 24, 48);
  auto [one, many] = single_and_multi_threaded([&] {
    auto f = build_distance_field(sphere.positions, sphere.indices, 48, 1, 2.6);
    compute_far_field(*f, 2.0 * f->cell_size);
    return f;
  });
  ASSERT_TRUE(one.ok() && many.ok());
  EXPECT_EQ(one->states, many->states);
  EXPECT_EQ(one->nearest_triangle, many->nearest_triangle);
  EXPECT_TRUE(one->band_distance == many->band_distance);
  EXPECT_TRUE(one->values == many->values);
  EXPECT_TRUE(one->far_field_done);

  // Distances and states do not depend on the order of the triangles either.
  Mesh reversed = sphere;
  std::reverse(reversed.indices.begin(), reversed.indices.end());
  auto other = build_distance_field(reversed.positions, reversed.indices, 48, 1, 2.6);
  ASSERT_TRUE(other.ok());
  EXPECT_TRUE(other->band_distance == one->band_distance);
  EXPECT_EQ(other->states, one->states);
}

TEST(FieldQueries, EmptyFieldReadsNothing) {
  const DistanceField empty;
  EXPECT_EQ(sample(empty, {1, 2, 3}), 0.0);
  auto found = nearest_surface_point(empty, {}, {}, {1, 2, 3});
  ASSERT_TRUE(found.ok());
  EXPECT_FALSE(found->has_value());
}

TEST(ComputeFarField, SkipsCoveredReachAndRunsOnce) {
  DistanceField f = unit_cube_field(0, 2.0);
  const std::vector<float> band_values = f.values;
  compute_far_field(f, 0.5 * f.cell_size);  // reach + h below the band
  EXPECT_FALSE(f.far_field_done);
  EXPECT_TRUE(f.values == band_values);

  compute_far_field(f, f.cell_size);
  EXPECT_TRUE(f.far_field_done);
  // Seeded by (2, 8, 8) at 1.5 cells: 2² + 1.5² = 6.25, i.e. 2.5 cells.
  EXPECT_EQ(f.values[index_of(f, 0, 8, 8)], 0.125f * 2.5f);
  EXPECT_LT(f.values[index_of(f, 8, 8, 8)], 0.0f);
  EXPECT_EQ(f.values[index_of(f, 3, 8, 8)], 0.0625f);

  f.values[0] = -7.0f;
  compute_far_field(f, f.cell_size);
  EXPECT_EQ(f.values[0], -7.0f);
}

// The far field against a brute-force minimum over the band cells of the
// squared cell offset plus the squared band distance, through the value rule.
TEST(ComputeFarField, MatchesBruteForceMinimumOverTheBand) {
  const Mesh sphere = testing::sphere_mesh({0.1, -0.2, 0.05}, 1.0, 12, 24);
  auto built = build_distance_field(sphere.positions, sphere.indices, 12, 1, 2.0);
  ASSERT_TRUE(built.ok());
  DistanceField f = std::move(*built);
  compute_far_field(f, f.cell_size);
  ASSERT_TRUE(f.far_field_done);
  std::vector<uint64_t> seeds;
  for (uint64_t i = 0; i < f.band_distance.size(); ++i) {
    if (std::isfinite(f.band_distance[i])) seeds.push_back(i);
  }
  ASSERT_FALSE(seeds.empty());
  const float H = static_cast<float>(f.half_diagonal);
  const auto coords = [&](uint64_t i) {
    return Vec3{double(i % f.nx), double(i / f.nx % f.ny), double(i / (f.nx * f.ny))};
  };
  for (uint64_t i = 0; i < f.values.size(); ++i) {
    double best = kInf;
    for (uint64_t j : seeds) {
      const double b = static_cast<double>(f.band_distance[j]) / f.cell_size;
      best = std::min(best, norm_squared(coords(i) - coords(j)) + b * b);
    }
    const float d = static_cast<float>(f.cell_size) * static_cast<float>(std::sqrt(best));
    ASSERT_NEAR(f.values[i], field_value(f.states[i], d, H), 1e-5) << i;
  }
}

TEST(ComputeFarField, SameValuesWithoutTheKeptBandWordsAndReleasesThem) {
  const Mesh sphere = testing::sphere_mesh({0.1, -0.2, 0.05}, 1.0, 12, 24);
  auto kept = build_distance_field(sphere.positions, sphere.indices, 20, 1, 2.0);
  ASSERT_TRUE(kept.ok());
  EXPECT_EQ(kept->transform_scratch.size(), kept->values.size());
  DistanceField fresh = *kept;
  fresh.transform_scratch = {};
  ASSERT_FALSE(compute_far_field(*kept, kept->cell_size));
  ASSERT_FALSE(compute_far_field(fresh, fresh.cell_size));
  EXPECT_TRUE(kept->values == fresh.values);
  EXPECT_TRUE(kept->transform_scratch.empty());

  DistanceField skipped = unit_cube_field(0, 2.0);  // the band covers this reach
  ASSERT_FALSE(compute_far_field(skipped, 0.5 * skipped.cell_size));
  EXPECT_TRUE(skipped.transform_scratch.empty());
}

TEST(ComputeFarField, ArraysNotMatchingTheGridAreAnInternalError) {
  DistanceField f = unit_cube_field(0, 2.0);
  f.values.pop_back();
  const std::vector<float> before = f.values;
  const Status failed = compute_far_field(f, f.cell_size);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->message, "the distance field's arrays do not match its grid");
  EXPECT_TRUE(f.values == before);
  EXPECT_FALSE(f.far_field_done);
}

// A 4³ field whose value is 3x + 10y + 100z at lattice point (x, y, z).
DistanceField linear_field() {
  DistanceField f;
  f.nx = f.ny = f.nz = 4;
  f.origin = {1, 1, 1};
  f.cell_size = 0.5;
  f.values.resize(64);
  for (uint64_t z = 0; z < 4; ++z)
    for (uint64_t y = 0; y < 4; ++y)
      for (uint64_t x = 0; x < 4; ++x) f.values[index_of(f, x, y, z)] = float(3 * x + 10 * y + 100 * z);
  return f;
}

TEST(FieldQueries, SampleAndGradient) {
  const DistanceField f = linear_field();
  EXPECT_EQ(sample(f, centre_of(f, 1, 2, 1)), 123.0);
  EXPECT_EQ(sample(f, centre_of(f, 3, 1, 1)), 116.0);   // last cell reads the second-to-last sample
  EXPECT_EQ(sample(f, centre_of(f, -5, 1, 1)), 110.0);  // before the first sample
  EXPECT_NEAR(sample(f, centre_of(f, 1.5, 0.25, 2)), 207.0, 1e-12);
  const Vec3 g = gradient(f, centre_of(f, 1.2, 1.3, 1.1));
  EXPECT_NEAR(g.x, 6.0, 1e-12);
  EXPECT_NEAR(g.y, 20.0, 1e-12);
  EXPECT_NEAR(g.z, 200.0, 1e-12);
}

TEST(FieldQueries, NearestSurfacePoint) {
  const Mesh cube = box_mesh(0.0, 1.0);
  const DistanceField f = unit_cube_field(0, 2.0);
  auto found = nearest_surface_point(f, cube.positions, cube.indices, {-0.2, 0.5, 0.6});
  ASSERT_TRUE(found.ok() && found->has_value());
  EXPECT_NEAR(norm((*found)->point - Vec3{0, 0.5, 0.6}), 0.0, 1e-15);
  EXPECT_NEAR((*found)->squared_distance, 0.04, 1e-15);

  auto off_band = nearest_surface_point(f, cube.positions, cube.indices, f.origin);
  ASSERT_TRUE(off_band.ok());
  EXPECT_FALSE(off_band->has_value());

  const std::vector<Triangle> fewer(cube.indices.begin(), cube.indices.begin() + 4);
  auto mismatched = nearest_surface_point(f, cube.positions, fewer, {-0.2, 0.5, 0.6});
  ASSERT_FALSE(mismatched.ok());
  EXPECT_EQ(mismatched.error().message, index_out_of_range(8, 4).message);
}

TEST(ProjectToOffsetSurface, MovesTowardsTheOffsetWithinTheLimit) {
  const Mesh cube = box_mesh(0.0, 1.0);
  const DistanceField f = unit_cube_field(0, 4.0);
  const double h = f.cell_size;
  std::vector<Vec3> v = {{-3 * h, 0.5, 0.5},   // 3 cells out: stops 2 cells later
                         {0.0, 0.5, 0.5},      // on the surface: stays
                         {0.05, 0.5, 0.5},     // inside: keeps its side
                         {-0.25 * h, 0.5, 0.5},
                         f.origin};            // off the band: stays
  ASSERT_FALSE(project_to_offset_surface(v, f, cube.positions, cube.indices, 0.1 * h, 2 * h).has_value());
  EXPECT_NEAR(v[0].x, -h, 1e-15);
  EXPECT_EQ(v[0].y, 0.5);
  EXPECT_EQ(v[1], (Vec3{0.0, 0.5, 0.5}));
  EXPECT_NEAR(v[2].x, 0.1 * h, 1e-15);
  EXPECT_NEAR(v[3].x, -0.1 * h, 1e-15);
  EXPECT_EQ(v[4], f.origin);

  std::vector<Vec3> unchanged = {{-3 * h, 0.5, 0.5}};
  ASSERT_FALSE(project_to_offset_surface(unchanged, f, cube.positions, cube.indices, 0.1 * h, 0.0).has_value());
  EXPECT_EQ(unchanged[0].x, -3 * h);
}

TEST(ProjectToOffsetSurface, MismatchedMeshIsAnInternalError) {
  const Mesh cube = box_mesh(0.0, 1.0);
  const DistanceField f = unit_cube_field(0, 2.0);
  std::vector<Vec3> v = {f.origin, {-0.2, 0.5, 0.5}, {1.2, 0.5, 0.5}};
  const Status status = project_to_offset_surface(v, f, cube.positions, {}, 0.0, 1.0);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->message, index_out_of_range(8, 0).message);
}

// Field value h·x at lattice x: the level iso = 1.5·h lies at lattice x = 1.5.
TEST(ProjectToIsoSurface, WalksAlongTheGradientWithinTheLimits) {
  DistanceField f = linear_field();
  const double h = f.cell_size;
  for (uint64_t i = 0; i < f.values.size(); ++i) f.values[i] = float(h * double(i % 4));
  const auto walk = [&](double start, uint64_t steps, double limit) {
    std::vector<Vec3> v = {centre_of(f, start, 1, 1)};
    project_to_iso_surface(v, f, steps, 1.5 * h, limit);
    return (v[0].x - f.origin.x) / h - 0.5;
  };
  EXPECT_EQ(walk(1.5, 2, 10 * h), 1.5);                 // already on the level
  EXPECT_NEAR(walk(0.2, 1, 10 * h), 1.2, 1e-12);         // one step of one cell
  EXPECT_NEAR(walk(0.2, 2, 10 * h), 1.5, 1e-12);         // the second step lands on the level
  EXPECT_NEAR(walk(0.2, 2, 0.5 * h), 0.7, 1e-12);        // limited displacement
  EXPECT_NEAR(walk(0.2, 0, 10 * h), 0.2, 1e-12);
}

}  // namespace
}  // namespace vorrel
