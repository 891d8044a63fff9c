#include "core/error.h"

#include <gtest/gtest.h>

namespace vorrel {
namespace {

TEST(CheckTriangleIndices, ReportsTheFirstIndexOutOfRangeWithTheLength) {
  std::vector<Triangle> triangles{{0, 1, 2}, {2, 7, 9}};
  auto status = check_triangle_indices(triangles, 3);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->message, "index out of range: the index is 7 but the length is 3");
  EXPECT_FALSE(check_triangle_indices(triangles, 10).has_value());
}

TEST(Expected, CarriesValueOrError) {
  Expected<int> good(5);
  Expected<int> bad(InternalError{"x"});
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(*good, 5);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().message, "x");
}

}  // namespace
}  // namespace vorrel
