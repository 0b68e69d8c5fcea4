// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/bulkmemory.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

constexpr std::size_t largePage = std::size_t(2) << 20;

} // namespace

void *BulkMemory::allocateLarge(std::size_t bytes)
{
    // Aligned to a large page so that the whole buffer can be backed by them.
    const std::size_t rounded = (bytes + largePage - 1) / largePage * largePage;
    void *p = std::aligned_alloc(largePage, rounded);
    if (!p)
        throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    // Only advice: where large pages are off or scarce, small ones are used.
    // The last part of the buffer, short of a large page, stays in small
    // ones: a large page there would make the rounding up resident too, up
    // to 2 MiB that hold nothing.
    if (const std::size_t whole = bytes / largePage * largePage; whole > 0)
        ::madvise(p, whole, MADV_HUGEPAGE);
#endif
    return p;
}

void BulkMemory::freeLarge(void *p) noexcept
{
    std::free(p);
}
