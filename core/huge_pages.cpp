#include "core/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace vorrel {

void advise_huge_pages(const void* data, size_t bytes) {
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(data);
  if (bytes < kHugePage || begin > UINTPTR_MAX - bytes) return;
  const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  if (first < last) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace vorrel
