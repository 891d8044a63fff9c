#include "core/smooth.h"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <cmath>
#include <vector>

#include "tests/cpp/test_support.h"

namespace vorrel {
namespace {

using test::FakeConsole;

const std::vector<Triangle> kOneTriangle{{0, 1, 2}};

std::vector<Vec3> triangle_positions() { return {{0, 0, 0}, {3, 0, 0}, {0, 3, 0}}; }

// On a lone triangle a Laplacian step with factor f scales every vertex's
// offset from the centroid (1, 1, 0) by 1 − 1.5 f.
void expect_scaled_about_centroid(const std::vector<Vec3>& p, double scale) {
  const std::vector<Vec3> start = triangle_positions();
  const Vec3 centroid{1, 1, 0};
  for (size_t v = 0; v < 3; ++v) {
    Vec3 expected = centroid + scale * (start[v] - centroid);
    EXPECT_NEAR(p[v].x, expected.x, 1e-12);
    EXPECT_NEAR(p[v].y, expected.y, 1e-12);
    EXPECT_EQ(p[v].z, 0.0);
  }
}

TEST(TaubinSmooth, EachIterationAppliesLambdaThenMu) {
  FakeConsole console;
  std::vector<Vec3> p = triangle_positions();
  ASSERT_FALSE(taubin_smooth(p, kOneTriangle, 2, 0.5, console.io));
  const double mu = -0.5263157894736842;
  const double per_iteration = (1 - 1.5 * 0.5) * (1 - 1.5 * mu);
  expect_scaled_about_centroid(p, per_iteration * per_iteration);
  ASSERT_GE(console.writes.size(), 2u);
  EXPECT_EQ(console.writes.front(), "  Taubin smooth: starting (2 items)\n");
  EXPECT_EQ(console.writes.back().rfind("\r  Taubin smooth: done 2 items in ", 0), 0u);
}

TEST(TaubinSmooth, LambdaWithoutPassBandMuRunsOnlyTheLambdaSteps) {
  FakeConsole console;
  std::vector<Vec3> p = triangle_positions();
  ASSERT_FALSE(taubin_smooth(p, kOneTriangle, 2, 10.0, console.io));
  expect_scaled_about_centroid(p, (1 - 15.0) * (1 - 15.0));
}

TEST(TaubinSmooth, NonFiniteLambdaMovesNothing) {
  FakeConsole console;
  for (double lambda : {NAN, INFINITY}) {
    std::vector<Vec3> p = triangle_positions();
    ASSERT_FALSE(taubin_smooth(p, kOneTriangle, 3, lambda, console.io));
    EXPECT_EQ(p, triangle_positions());
  }
}

using Filter = Status (*)(std::span<Vec3>, std::span<const Triangle>, uint64_t, double, const ProgressIo&);

struct FilterCase {
  const char* label;
  Filter filter;
  double parameter;
};

class BothFilters : public testing::TestWithParam<FilterCase> {};

TEST_P(BothFilters, NothingToDoStartsNoStage) {
  FakeConsole console;
  std::vector<Vec3> none;
  ASSERT_FALSE(GetParam().filter(none, {}, 5, GetParam().parameter, console.io));
  std::vector<Vec3> p = triangle_positions();
  ASSERT_FALSE(GetParam().filter(p, kOneTriangle, 0, GetParam().parameter, console.io));
  EXPECT_EQ(p, triangle_positions());
  // Nothing is read when there is nothing to do, so indices out of range are
  // no error then.
  ASSERT_FALSE(GetParam().filter(none, kOneTriangle, 5, GetParam().parameter, console.io));
  ASSERT_FALSE(GetParam().filter(p, std::vector<Triangle>{{0, 1, 3}}, 0, GetParam().parameter, console.io));
  EXPECT_EQ(p, triangle_positions());
  EXPECT_TRUE(console.writes.empty());
}

TEST_P(BothFilters, VerticesWithoutTrianglesStayButTheStageRuns) {
  FakeConsole console;
  std::vector<Vec3> p = triangle_positions();
  p.push_back({7, 8, 9});  // used by no triangle
  ASSERT_FALSE(GetParam().filter(p, {}, 3, GetParam().parameter, console.io));
  EXPECT_EQ(p[3], (Vec3{7, 8, 9}));
  EXPECT_EQ(std::vector<Vec3>(p.begin(), p.begin() + 3), triangle_positions());
  ASSERT_GE(console.writes.size(), 2u);
  EXPECT_EQ(console.writes.front(), std::string("  ") + GetParam().label + ": starting (3 items)\n");

  ASSERT_FALSE(GetParam().filter(p, kOneTriangle, 3, GetParam().parameter, console.io));
  EXPECT_EQ(p[3], (Vec3{7, 8, 9}));
  EXPECT_NE(p[0], triangle_positions()[0]);
}

TEST_P(BothFilters, IndexOutOfRangeIsReportedBeforeAnythingMoves) {
  FakeConsole console;
  std::vector<Vec3> p = triangle_positions();
  Status error = GetParam().filter(p, std::vector<Triangle>{{0, 1, 2}, {2, 1, 3}}, 2, GetParam().parameter, console.io);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message, "index out of range: the index is 3 but the length is 3");
  EXPECT_EQ(p, triangle_positions());
  EXPECT_TRUE(console.writes.empty());
}

TEST_P(BothFilters, ResultIsIdenticalForAnyThreadCount) {
  FakeConsole console;
  const Mesh torus = test::wobbly_torus(60, 40);
  std::vector<Vec3> parallel = torus.positions;
  ASSERT_FALSE(GetParam().filter(parallel, torus.indices, 3, GetParam().parameter, console.io));
  std::vector<Vec3> serial = torus.positions;
  {
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    ASSERT_FALSE(GetParam().filter(serial, torus.indices, 3, GetParam().parameter, console.io));
  }
  EXPECT_EQ(parallel, serial);
  EXPECT_NE(parallel, torus.positions);
}

INSTANTIATE_TEST_SUITE_P(Smooth, BothFilters,
                         testing::Values(FilterCase{"Taubin smooth", &taubin_smooth, 0.5},
                                         FilterCase{"bilateral smooth", &bilateral_smooth, 0.3}),
                         [](const auto& info) { return std::string(info.param.filter == &taubin_smooth ? "Taubin" : "Bilateral"); });

// Vertex 0 at the origin with unit normal +z has four neighbours at distance 1:
// 1 (+x), 3 (+y) and 4 (−y) share its normal; 2 (−x) is joined to it only by a
// zero-area triangle and has normal −z from a triangle of its own.
TEST(BilateralSmooth, OppositeNormalWeighsExpMinusTwoOverTwoSigmaSquared) {
  FakeConsole console;
  std::vector<Vec3> p{{0, 0, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {-1, 1, 0}, {-2, 0, 0}};
  std::vector<Triangle> t{{0, 1, 3}, {0, 4, 1}, {0, 2, 2}, {2, 6, 5}};
  ASSERT_FALSE(bilateral_smooth(p, t, 1, 0.3, console.io));
  // Equal spatial weights cancel: x = (w(+x) − w(−x)) / Σw with relative weights 1, r, 1, 1.
  const double r = std::exp(-2.0 / 0.18);
  EXPECT_NEAR(r, 1.5e-5, 0.05e-5);
  EXPECT_NEAR(p[0].x, (1 - r) / (3 + r), 1e-15);
  EXPECT_EQ(p[0].y, 0.0);
  EXPECT_EQ(p[0].z, 0.0);
}

TEST(BilateralSmooth, FlatPatchMovesByDistanceWeightsOnly) {
  FakeConsole console;
  // A fan around an off-centre vertex 0 in the plane z = 0.
  std::vector<Vec3> flat{{0.3, 0.2, 0}, {1, 0, 0}, {0.5, 1, 0}, {-1, 0.5, 0}, {-0.5, -1, 0}, {0.8, -0.9, 0}};
  std::vector<Triangle> fan{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 5}, {0, 5, 1}};
  std::vector<Vec3> sharp = flat;
  std::vector<Vec3> loose = flat;
  ASSERT_FALSE(bilateral_smooth(sharp, fan, 2, 0.01, console.io));
  ASSERT_FALSE(bilateral_smooth(loose, fan, 2, 1e6, console.io));
  EXPECT_EQ(sharp, loose);
  EXPECT_NE(sharp[0], flat[0]);
  for (const Vec3& v : sharp) EXPECT_EQ(v.z, 0.0);
}

TEST(BilateralSmooth, DegenerateTrianglesStillMoveBySpatialWeights) {
  FakeConsole console;
  // Collinear: every normal stays zero. Edges 1, 2 and 3 give σc = 2.
  std::vector<Vec3> p{{0, 0, 0}, {1, 0, 0}, {3, 0, 0}};
  ASSERT_FALSE(bilateral_smooth(p, kOneTriangle, 1, 0.3, console.io));
  const double near = std::exp(-1.0 / 8.0);
  const double far = std::exp(-9.0 / 8.0);
  EXPECT_NEAR(p[0].x, (near * 1 + far * 3) / (near + far), 1e-15);
  EXPECT_EQ(p[0].y, 0.0);
}

TEST(BilateralSmooth, ZeroSigmaKeepsOnlyNeighboursWithEqualNormals) {
  FakeConsole console;
  std::vector<Vec3> p{{0, 0, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {-1, 1, 0}, {-2, 0, 0}};
  std::vector<Triangle> t{{0, 1, 3}, {0, 4, 1}, {0, 2, 2}, {2, 6, 5}};
  ASSERT_FALSE(bilateral_smooth(p, t, 1, 0.0, console.io));
  EXPECT_NEAR(p[0].x, 1.0 / 3.0, 1e-15);
  for (const Vec3& v : p) EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z));
}

}  // namespace
}  // namespace vorrel
