#include "core/huge_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace vorrel {
namespace {

// The advice never changes what memory holds, whatever range it is given:
// empty, shorter than a huge page, unaligned, or spanning several huge pages.
TEST(HugePages, AdviceKeepsContent) {
  std::vector<uint32_t> values(3 << 20);
  std::iota(values.begin(), values.end(), 0u);
  advise_huge_pages(nullptr, 0);
  advise_huge_pages(values.data() + 1, 100);
  advise_huge_pages(values.data() + 1, values.size() * sizeof(uint32_t) - 4);
  for (size_t i = 0; i < values.size(); i += 4099) ASSERT_EQ(values[i], i);

  std::vector<uint32_t> fresh;
  fresh.reserve(1 << 21);
  advise_huge_pages(fresh.data(), fresh.capacity() * sizeof(uint32_t));
  fresh.assign(1 << 21, 7u);
  EXPECT_EQ(std::accumulate(fresh.begin(), fresh.end(), uint64_t{0}), uint64_t{7} << 21);
}

}  // namespace
}  // namespace vorrel
