#include "core/repair.h"

#include <gtest/gtest.h>

#include <vector>

namespace vorrel {
namespace {

// Closed, outward-oriented octahedron over vertices base … base + 5.
std::vector<Triangle> octahedron(uint32_t base = 0) {
  std::vector<Triangle> t{{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4},
                          {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  for (Triangle& tri : t) {
    for (uint32_t& v : tri) v += base;
  }
  return t;
}

// A fan of n triangles around vertex 0; its rim 1 … n is one boundary loop of n edges.
std::vector<Triangle> open_fan(uint32_t n) {
  std::vector<Triangle> t;
  for (uint32_t i = 0; i < n; ++i) t.push_back({0, 1 + i, 1 + (i + 1) % n});
  return t;
}

std::vector<Triangle> without(std::vector<Triangle> t, size_t index) {
  t.erase(t.begin() + static_cast<std::ptrdiff_t>(index));
  return t;
}

std::vector<Triangle> appended(const std::vector<Triangle>& after, size_t before) {
  return {after.begin() + static_cast<std::ptrdiff_t>(before), after.end()};
}

TEST(SealPinholes, ClosedOrEmptySurfaceIsLeftAlone) {
  std::vector<Triangle> closed = octahedron();
  EXPECT_EQ(seal_pinholes(closed, 8), 0u);
  EXPECT_EQ(closed, octahedron());
  std::vector<Triangle> empty;
  EXPECT_EQ(seal_pinholes(empty, 8), 0u);
  EXPECT_TRUE(empty.empty());
}

TEST(SealPinholes, MissingTriangleIsRestoredWithItsNeighboursOrientation) {
  std::vector<Triangle> t = without(octahedron(), 0);
  EXPECT_EQ(seal_pinholes(t, 8), 1u);
  EXPECT_EQ(appended(t, 7), (std::vector<Triangle>{{0, 2, 4}}));
  EXPECT_EQ(appended(t, 0).size(), 8u);
  EXPECT_EQ(std::vector<Triangle>(t.begin(), t.begin() + 7), without(octahedron(), 0));
}

TEST(SealPinholes, IndicesNearTheTopOfTheRangeAreOnlyConnectivity) {
  const uint32_t base = 0xFFFFFFFFu - 5;
  std::vector<Triangle> t = without(octahedron(base), 0);
  EXPECT_EQ(seal_pinholes(t, 8), 1u);
  EXPECT_EQ(t.back(), (Triangle{base + 0, base + 2, base + 4}));
}

// A square pillow with its bottom missing: the hole's loop is 0, 3, 2, 1.
TEST(SealPinholes, SquareHoleApexAvoidsAnAlreadySharedDiagonal) {
  std::vector<Triangle> top_with_free_diagonal{{0, 1, 3}, {1, 2, 3}};
  EXPECT_EQ(seal_pinholes(top_with_free_diagonal, 8), 1u);
  EXPECT_EQ(appended(top_with_free_diagonal, 2), (std::vector<Triangle>{{0, 3, 2}, {0, 2, 1}}));

  // The diagonal 0–2 of the top is used twice, so the first vertex is passed over.
  std::vector<Triangle> top_with_shared_diagonal{{0, 1, 2}, {0, 2, 3}};
  EXPECT_EQ(seal_pinholes(top_with_shared_diagonal, 8), 1u);
  EXPECT_EQ(appended(top_with_shared_diagonal, 2), (std::vector<Triangle>{{3, 2, 1}, {3, 1, 0}}));
}

TEST(SealPinholes, LoopsLongerThanTheLimitStayOpen) {
  struct Case {
    uint32_t rim;
    uint64_t max_loop;
    uint64_t filled;
  };
  for (Case c : {Case{3, 8, 1}, Case{8, 8, 1}, Case{9, 8, 0}, Case{9, 9, 1}, Case{4, 3, 0}, Case{3, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << "rim " << c.rim << ", max_loop " << c.max_loop);
    std::vector<Triangle> t = open_fan(c.rim);
    EXPECT_EQ(seal_pinholes(t, c.max_loop), c.filled);
    EXPECT_EQ(t.size(), c.rim + (c.filled ? c.rim - 2 : 0));
  }
}

TEST(SealPinholes, SeparateHolesAreFilledInOrderOfTheirStartVertex) {
  std::vector<Triangle> t = without(octahedron(6), 3);
  for (const Triangle& tri : without(octahedron(0), 2)) t.push_back(tri);
  size_t before = t.size();
  EXPECT_EQ(seal_pinholes(t, 8), 2u);
  EXPECT_EQ(appended(t, before), (std::vector<Triangle>{{1, 3, 4}, {6, 10, 9}}));
}

TEST(SealPinholes, DegenerateAndDuplicateTrianglesDoNotBreakTheWalk) {
  std::vector<Triangle> t{{5, 5, 5}, {1, 1, 2}, {0, 1, 2}, {0, 1, 2}, {7, 8, 9}};
  EXPECT_EQ(seal_pinholes(t, 8), 1u);
  EXPECT_EQ(t.back(), (Triangle{7, 9, 8}));
}

}  // namespace
}  // namespace vorrel
