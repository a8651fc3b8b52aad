// Allocator for the large temporary arrays of a build: blocks of 256 KiB and
// more are mapped pages of their own and go straight back to the system when
// freed. From the general heap, freed memory of that size often stays with
// the process, which would add the build's working memory to the peak of
// everything that comes after it.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>

template <typename T> struct PageAllocator {
    using value_type = T;
    static constexpr size_t kMapThreshold = size_t{256} << 10;

    PageAllocator() = default;
    template <typename U> PageAllocator(const PageAllocator<U> &) {}

    T *allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kMapThreshold) return static_cast<T *>(::operator new(bytes));
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kMapThreshold)
            ::operator delete(p);
        else
            munmap(p, bytes);
    }
    template <typename U> bool operator==(const PageAllocator<U> &) const { return true; }
    template <typename U> bool operator!=(const PageAllocator<U> &) const { return false; }
};
