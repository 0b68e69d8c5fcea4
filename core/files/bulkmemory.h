// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

// Memory for the buffers that hold a whole map or surface (tens of
// megabytes), which are written once from front to back right after they
// are taken. Two costs are avoided: zero-filling memory only to write over
// it (vectors on this allocator leave the cells made by resize() unset),
// and faulting in a fresh buffer one small page at a time, which on some
// machines costs more than filling it; buffers this large are asked for in
// the system's large pages where it offers them.
namespace BulkMemory {

// Below this, the ordinary allocator does as well.
constexpr std::size_t largeBytes = std::size_t(4) << 20;

void *allocateLarge(std::size_t bytes);
void freeLarge(void *p) noexcept;

} // namespace BulkMemory

// `LargeBytes` is where large pages start: buffers of a smaller size that
// are written once whole (the stores of a class cut) may start lower.
template <typename T, std::size_t LargeBytes = BulkMemory::largeBytes> struct BulkAllocator {
    using value_type = T;
    template <typename U> struct rebind {
        using other = BulkAllocator<U, LargeBytes>;
    };

    BulkAllocator() = default;
    template <typename U> BulkAllocator(const BulkAllocator<U, LargeBytes> &) noexcept {}

    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes >= LargeBytes)
            return static_cast<T *>(BulkMemory::allocateLarge(bytes));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T *p, std::size_t n) noexcept
    {
        if (n * sizeof(T) >= LargeBytes)
            BulkMemory::freeLarge(p);
        else
            std::allocator<T>().deallocate(p, n);
    }

    template <typename U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
    template <typename U, typename... Args> void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U> bool operator==(const BulkAllocator<U, LargeBytes> &) const noexcept
    {
        return true;
    }
};
