// Polygon faces of a mesh node and their split into triangles. Faces are
// given by their corner counts; the per-corner lists (vertex, normal and
// texture coordinate indices, tangents) run face after face.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Empty when the face sizes fit `numCorners` corners (each face has at
// least 3 corners and the sizes add up to the count), else the reason.
std::string checkFaceSizes(const std::vector<int32_t> &sizes, size_t numCorners);

// The face sizes a single bare count stands for: one face of that size when
// the corner count equals it, else faces of that size when the corner count
// is a multiple of it. Empty when it is neither, or below 3.
std::vector<int32_t> facesOfSingleSize(int32_t size, size_t numCorners);

// True when every face is a triangle (no split needed).
bool allTriangles(const std::vector<int32_t> &sizes);

// Splits a per-corner list into triangles, each face as a fan from its first
// corner: (c0 c1 c2 c3 c4) becomes (c0 c1 c2) (c0 c2 c3) (c0 c3 c4). The
// sizes must have passed checkFaceSizes for corners.size().
template <typename T>
std::vector<T> fanSplit(const std::vector<int32_t> &sizes, const std::vector<T> &corners) {
    size_t triangles = 0;
    for (int32_t n : sizes) triangles += static_cast<size_t>(n) - 2;
    std::vector<T> out;
    out.reserve(3 * triangles);
    size_t first = 0;
    for (int32_t n : sizes) {
        for (size_t k = 1; k + 1 < static_cast<size_t>(n); ++k) {
            out.push_back(corners[first]);
            out.push_back(corners[first + k]);
            out.push_back(corners[first + k + 1]);
        }
        first += static_cast<size_t>(n);
    }
    return out;
}
