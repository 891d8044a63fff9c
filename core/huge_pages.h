#pragma once
// Large arrays filled right after allocation take one page fault per 4 KiB
// page they touch. Where the system offers transparent huge pages on request,
// the whole 2 MiB pages inside such an array can take one fault each instead.

#include <cstddef>

namespace vorrel {

// Asks for huge pages for the whole 2 MiB pages that lie inside
// [data, data + bytes), before they are first touched. Only a hint: a system
// that refuses it, or a range without a whole huge page, changes nothing.
void advise_huge_pages(const void* data, size_t bytes);

}  // namespace vorrel
