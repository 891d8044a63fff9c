#include "core/memory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <limits>

#include "core/sdf.h"
#include "core/voxelize.h"

namespace vorrel {
namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

TEST(ObtainableMemory, IsPositiveAndAtMostPhysicalMemory) {
  const uint64_t physical = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t obtainable = obtainable_memory_bytes();
  EXPECT_GT(obtainable, 0u);
  EXPECT_LE(obtainable, physical);
}

TEST(AllocateFilled, FillsOrRefusesWithWhatAndSize) {
  std::vector<uint32_t> small;
  EXPECT_FALSE(allocate_filled(small, 5, 7u, "five words"));
  EXPECT_EQ(small, std::vector<uint32_t>(5, 7u));

  std::vector<uint64_t> huge{1, 2, 3};
  const Status refused = allocate_filled(huge, uint64_t{1} << 60, uint64_t{0}, "the test's array");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->kind, ErrorKind::AllocationFailure);
  EXPECT_EQ(refused->message.rfind("could not allocate the test's array (9223372036854775808 bytes); the process can "
                                   "obtain at most ", 0),
            0u);
  EXPECT_TRUE(huge.empty());

  std::vector<uint64_t> overflowing;
  ASSERT_TRUE(allocate_filled(overflowing, kMax, uint64_t{0}, "x"));
  EXPECT_EQ(saturating_bytes(kMax, 8), kMax);
}

TEST(VolumeStages, RefuseGridsBeyondObtainableMemory) {
  const std::vector<Vec3> positions{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const std::vector<Triangle> triangles{{0, 1, 2}};
  // A closing radius this large pads the grid past any memory (the padding
  // saturates instead of wrapping round to a small grid).
  Expected<DistanceField> field = build_distance_field(positions, triangles, 16, kMax, 2.0);
  ASSERT_FALSE(field.ok());
  EXPECT_EQ(field.error().kind, ErrorKind::AllocationFailure);
  EXPECT_NE(field.error().message.find("a distance field of 18446744073709551615x"), std::string::npos);

  Expected<VoxelGrid> grid = voxelize(positions, triangles, 16, kMax / 4);
  ASSERT_FALSE(grid.ok());
  EXPECT_EQ(grid.error().kind, ErrorKind::AllocationFailure);
  EXPECT_NE(grid.error().message.find("a voxel grid of "), std::string::npos);
}

}  // namespace
}  // namespace vorrel
