#include "core/memory.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
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

// Limits the process's address space to what it uses now plus `headroom`
// bytes, for the lifetime of the guard.
class AddressSpaceLimit {
 public:
  explicit AddressSpaceLimit(uint64_t headroom) {
    getrlimit(RLIMIT_AS, &saved_);
    uint64_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit limited = saved_;
    limited.rlim_cur = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + headroom;
    setrlimit(RLIMIT_AS, &limited);
  }
  ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &saved_); }

 private:
  rlimit saved_{};
};

TEST(VolumeStages, RefuseGridsBeyondObtainableMemoryBeforeAllocating) {
  const std::vector<Vec3> positions{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const std::vector<Triangle> triangles{{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  const AddressSpaceLimit limit(uint64_t{256} << 20);
  Expected<DistanceField> field = build_distance_field(positions, triangles, 400, 1, 2.0);
  ASSERT_FALSE(field.ok());
  EXPECT_EQ(field.error().kind, ErrorKind::AllocationFailure);
  EXPECT_EQ(field.error().message.rfind("could not allocate a distance field of 410x410x410 cells at 21 bytes per "
                                        "cell (1447341000 bytes)", 0),
            0u);

  Expected<VoxelGrid> grid = voxelize(positions, triangles, 1000);
  ASSERT_FALSE(grid.ok());
  EXPECT_EQ(grid.error().kind, ErrorKind::AllocationFailure);
  EXPECT_EQ(grid.error().message.rfind("could not allocate a voxel grid of 1004x1004x1004 cells at 2 bytes", 0), 0u);
}

}  // namespace
}  // namespace vorrel
