// Allocator for the large arrays of a scene and its kd-tree: blocks of
// 256 KiB and more are mapped pages of their own and go straight back to the
// system when freed. From the general heap, freed memory of that size often
// stays with the process, which would add a build's working memory to the
// peak of everything that comes after it. Mapped blocks also ask for huge
// pages: a large scene otherwise spends a good part of its loading time
// faulting in 4 KiB pages one by one.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>

#include "util/huge_pages.h"

template <typename T> struct PageAllocator {
    using value_type = T;
    static constexpr size_t kMapThreshold = size_t{256} << 10;

    PageAllocator() = default;
    template <typename U> PageAllocator(const PageAllocator<U> &) {}

    T *allocate(size_t n) { return allocate(n, false); }
    // hugePages false for memory that is reserved large but written sparsely.
    T *allocate(size_t n, bool hugePages) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kMapThreshold) return static_cast<T *>(::operator new(bytes));
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        if (hugePages) adviseHugePages(p, bytes);
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
