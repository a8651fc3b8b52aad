#include "parsers/polygon_split.h"

#include <cinttypes>
#include <cstdio>

std::string checkFaceSizes(const std::vector<int32_t> &sizes, size_t numCorners) {
    uint64_t sum = 0;
    for (size_t face = 0; face < sizes.size(); ++face) {
        if (sizes[face] < 3) {
            char text[96];
            std::snprintf(text, sizeof text, "face %zu has %" PRId32 " corners, fewer than 3",
                          face, sizes[face]);
            return text;
        }
        sum += static_cast<uint64_t>(sizes[face]);
    }
    if (sum != numCorners) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "its faces have %" PRIu64 " corners in all but %zu vertex indices", sum,
                      numCorners);
        return text;
    }
    return std::string();
}

std::vector<int32_t> facesOfSingleSize(int32_t size, size_t numCorners) {
    if (size < 3 || numCorners % static_cast<size_t>(size) != 0) return {};
    return std::vector<int32_t>(numCorners / static_cast<size_t>(size), size);
}

bool allTriangles(const std::vector<int32_t> &sizes) {
    for (int32_t n : sizes)
        if (n != 3) return false;
    return true;
}
