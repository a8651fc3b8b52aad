// Huge pages for large arrays about to be written throughout: a large scene
// otherwise spends a good part of its loading time faulting in 4 KiB pages
// one by one.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// Asks for huge pages on the whole pages inside [p, p + bytes) where the
// system offers them on request; nothing for blocks below one huge page.
inline void adviseHugePages(void *p, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20, kPage = 4096;
    if (p == nullptr || bytes < kHugePage) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kPage - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// v as n value-initialised elements in fresh storage that asked for huge
// pages before anything was written to it.
template <typename T> void assignFresh(std::vector<T> &v, size_t n) {
    std::vector<T>().swap(v);
    v.reserve(n);
    adviseHugePages(v.data(), n * sizeof(T));
    v.assign(n, T());
}
