#include "core/shrink_fit.h"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <cmath>
#include <vector>

#include "tests/cpp/test_support.h"

namespace vorrel {
namespace {

const std::vector<Vec3> kInput{{0.1, 0.2, 0.3}, {10.7, -3.3, 0.01}};

TEST(ShrinkFit, WithinReachEveryVertexLandsExactlyOnAnInputVertex) {
  std::vector<Vec3> proxy{{0.13, 0.21, 0.33}, {0.5, 0.5, 0.5}, {10.0, -3.0, 0.3}};
  shrink_fit(proxy, kInput, 5.0);
  EXPECT_EQ(proxy, (std::vector<Vec3>{kInput[0], kInput[0], kInput[1]}));
}

TEST(ShrinkFit, OutOfReachMovesExactlyTheBoundTowardsTheNearestVertex) {
  std::vector<Vec3> proxy{{3.1, 4.2, 0.3}};  // 5 from input vertex 0
  shrink_fit(proxy, kInput, 2.0);
  EXPECT_NEAR(proxy[0].x, 3.1 - 0.6 * 2.0, 1e-12);
  EXPECT_NEAR(proxy[0].y, 4.2 - 0.8 * 2.0, 1e-12);
  EXPECT_EQ(proxy[0].z, 0.3);
}

TEST(ShrinkFit, NothingMovesWithoutABoundOrVertices) {
  const std::vector<Vec3> start{{3, 4, 5}};
  for (double bound : {0.0, -1.0, std::nan("")}) {
    std::vector<Vec3> proxy = start;
    shrink_fit(proxy, kInput, bound);
    EXPECT_EQ(proxy, start);
  }
  std::vector<Vec3> proxy = start;
  shrink_fit(proxy, {}, 10.0);
  EXPECT_EQ(proxy, start);
  shrink_fit({}, kInput, 10.0);
}

TEST(ShrinkFit, ResultIsIdenticalForAnyThreadCount) {
  const Mesh input = test::wobbly_torus(80, 50);
  const Mesh proxy = test::wobbly_torus(47, 31);
  std::vector<Vec3> parallel = proxy.positions;
  shrink_fit(parallel, input.positions, 0.02);
  std::vector<Vec3> serial = proxy.positions;
  {
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    shrink_fit(serial, input.positions, 0.02);
  }
  EXPECT_EQ(parallel, serial);
  EXPECT_NE(parallel, proxy.positions);
}

}  // namespace
}  // namespace vorrel
