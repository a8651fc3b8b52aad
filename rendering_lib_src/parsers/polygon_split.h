// Polygon faces of a mesh node and their split into triangles. Faces are
// given by their corner counts; the per-corner lists (vertex, normal and
// texture coordinate indices, tangents) run face after face.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/vecmath.h"

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

// The face each triangle of fanSplit comes from.
std::vector<uint32_t> fanFaces(const std::vector<int32_t> &sizes);

// A face that cuts a hole into another face of the same mesh (both by their
// number in the face list).
struct FaceHole {
    uint32_t hole;
    uint32_t outer;
};

// The corners of a mesh's faces and the points they name. The sizes must
// have passed checkFaceSizes, and every vertex index must name a point.
struct FaceOutlines {
    const std::vector<int32_t> &sizes;
    const std::vector<int> &vertexIndices;
    const std::vector<Point3f> &points;
};

// True when the fan is the right split for every face: in its best-fit
// plane, each face is convex or at least seen whole from its first corner,
// or it has no area or corners that are not finite (then nothing better
// can be done). Such meshes keep fanSplit.
bool fanSplitsAll(const FaceOutlines &faces);

// Triangles of every face, each as three corners: positions in the
// per-corner lists, so that all of them are split alike (gatherCorners).
struct FaceSplit {
    std::vector<uint32_t> corners; // three per triangle, in the face's winding
    std::vector<uint32_t> faces;   // the (outer) face each triangle comes from
    size_t crossing = 0; // faces split as fans: their outline crosses itself, or a hole cannot be joined to it
    size_t tooLarge = 0; // faces split as fans: more corners than the work allowed for the mesh
};

// Splits every face: faces without holes that the fan fits (see
// fanSplitsAll) as fans, exactly as fanSplit does, every other face with its holes by ear clipping in the plane
// of the face's Newell normal. A hole face becomes part of its outer face
// and yields no triangles of its own. The work is bounded by the number of
// corners; a face that cannot be split within it, or at all, is split as a
// fan (its holes dropped) and counted. The holes must name faces of the
// mesh, each face at most once as a hole and never one hole as an outer face.
FaceSplit splitFaces(const FaceOutlines &faces, const std::vector<FaceHole> &holes);

// The entries of a per-corner list at the given corners.
template <typename T>
std::vector<T> gatherCorners(const std::vector<T> &list, const std::vector<uint32_t> &corners) {
    std::vector<T> out;
    out.reserve(corners.size());
    for (uint32_t c : corners) out.push_back(list[c]);
    return out;
}
