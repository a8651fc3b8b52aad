// Indexed triangle mesh in object space, and the single triangles that the
// World tests in its place. Corners are mapped to world space on every test.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "shapes/primitive.h"

// Count of ray/triangle tests, hit or not. Each thread counts its own; the
// frame loop adds the render threads' counts into the calling thread's.
extern thread_local uint32_t g_intersected;

// The world-space corners of a triangle, asked for only when a ray passes
// close to one of its edges.
struct TriangleCorners {
    Point3f c[3];
};

// The watertight ray/triangle test (the ray-space shear-and-scale test of
// Woop, Benthin and Wald, 2013) on the triangle's own corners: of two
// triangles that share an edge or a corner, bit for bit, at least one is hit
// by every ray that crosses the shared edge or corner. No back-face
// rejection; a hit at exactly tBound is accepted. On a hit writes the
// distance and the barycentrics of corners 1 and 2.
bool watertightRayTriangle(const vmath::Ray &ray, const TriangleCorners &corners, float tBound,
                           float *th, float *b1, float *b2);

// Barycentrics this far outside a triangle always send the Moller-Trumbore
// test to the watertight one: the first test's rounding error stays below
// this for triangles seen at a steep angle from up to ten thousand times
// their size.
constexpr float kNearEdge = 1.0f / 128.0f;

// An upper bound of the Moller-Trumbore test's rounding error in u, v and
// u + v: sixteen units of single-precision rounding of the largest products
// the test forms, over |det|. It grows with the distance and as the ray
// grazes the triangle.
__attribute__((always_inline)) inline float barycentricErrorBound(const Vec3f &d,
                                                                  const Vec3f &tvec,
                                                                  const Vec3f &e1,
                                                                  const Vec3f &e2, float inv) {
    auto size = [](const Vec3f &a) { return std::fabs(a.x) + std::fabs(a.y) + std::fabs(a.z); };
    const float edges = size(e1) + size(e2);
    constexpr float kSixteenUnits = 16.0f / 16777216.0f; // 16 x 2^-24
    return kSixteenUnits * size(d) * (size(tvec) + edges) * edges * std::fabs(inv);
}

// True when barycentrics whose smallest is `lo` and whose largest sum is
// `hi` could lie in [0, 1] but for the first test's rounding: within
// kNearEdge, or within the error bound (worked out only for values within
// [-1, 2]; beyond that the first test's numbers mean nothing anyway).
__attribute__((always_inline)) inline bool nearTriangle(float lo, float hi, const Vec3f &d,
                                                        const Vec3f &tvec, const Vec3f &e1,
                                                        const Vec3f &e2, float inv) {
    if (lo >= -kNearEdge && hi <= 1.0f + kNearEdge) return true;
    if (!(lo >= -1.0f && hi <= 2.0f)) return false;
    const float bound = barycentricErrorBound(d, tvec, e1, e2, inv);
    return lo >= -bound && hi <= 1.0f + bound;
}

// The Moller-Trumbore test on a world-space triangle given as its first
// corner and the two edges from it (e1 = p1 - p0, e2 = p2 - p0), without
// epsilons or back-face rejection; a hit at exactly tBound is accepted. The
// bounds checks are written so that a NaN (from a corner or direction that
// is not finite, or an infinite 1/det) fails them too: otherwise a NaN
// distance would count as a hit and spoil the caller's bound for every later
// test. On its own the test leaves cracks: along an edge shared by two
// triangles rounding can put a ray just outside both. A ray that it finds
// just outside the triangle is therefore given to the watertight test, on
// the corners `corners()` returns, and takes its answer; every other ray
// gets exactly the first test's answer. On a hit writes the distance and the
// barycentrics of corners 1 and 2.
template <class Corners>
__attribute__((always_inline)) inline bool rayTriangle(const vmath::Ray &ray, const Point3f &p0,
                                                       const Vec3f &e1, const Vec3f &e2,
                                                       float tBound, float *th, float *b1,
                                                       float *b2, const Corners &corners) {
    const Vec3f &d = ray.direction;
    // A ray in the triangle's plane, a zero-area triangle or a zero
    // direction gives det == 0.
    const Vec3f pvec = vmath::cross(d, e2);
    const float det = vmath::dot(pvec, e1);
    if (det == 0.0f) return false;
    const float inv = 1.0f / det;
    const Vec3f tvec = ray.origin - p0;
    const float u = vmath::dot(tvec, pvec) * inv;
    if (!(u >= 0.0f) || u > 1.0f) {
        if (!nearTriangle(u, u, d, tvec, e1, e2, inv)) return false;
        return watertightRayTriangle(ray, corners(), tBound, th, b1, b2);
    }
    const Vec3f qvec = vmath::cross(tvec, e1);
    const float v = vmath::dot(d, qvec) * inv;
    if (!(v >= 0.0f) || !(u + v <= 1.0f)) {
        if (!nearTriangle(v, u + v, d, tvec, e1, e2, inv)) return false;
        return watertightRayTriangle(ray, corners(), tBound, th, b1, b2);
    }
    const float t = vmath::dot(e2, qvec) * inv;
    if (!(t >= 0.0f) || !(t <= tBound)) return false;
    *th = t;
    *b1 = u;
    *b2 = v;
    return true;
}

class MeshShape final : public GeoPrimitive {
public:
    // Lists of an instance are its prototype's (see the instance
    // constructor); these stay empty then.
    std::vector<Point3f> vertices;
    std::vector<Vec3f> normals;     // not required to be unit length
    // Texture coordinates, found through uvIndices when it is given, else
    // through the vertex index. None: every point has (0, 0).
    std::vector<Point2f> uvs;
    std::vector<Vec3f> tangents;    // one per triangle corner, in corner order; none: made from the triangle
    std::vector<int> vertexIndices; // three per triangle
    std::vector<int> normalIndices; // three per triangle; none: the triangle's own normal
    std::vector<int> uvIndices;     // three per triangle, or none
    // Per-face shaders: the shader slot of every triangle, or none (the
    // mesh's material everywhere).
    std::vector<uint32_t> triangleShaders;

    MeshShape(const Transform &object2world, Material *material);
    // An instance: `prototype`'s triangles placed by object2world. It reads
    // the prototype's lists, which must outlive it; nothing is copied.
    MeshShape(const Transform &object2world, Material *material, const MeshShape &prototype);

    // Copies the caller's lists; tangents may be null. Counts are taken as
    // given: the loader checks indices against the lists before calling.
    void setData(int numTriangles, int numVertices, const int *vertexIndices,
                 const Point3f *vertices, int numNormals, const int *normalIndices,
                 const Vec3f *normals, const Vec3f *tangents, int numUVs, const Point2f *uvs);

    // Takes the lists over, as setData would copy them for
    // vertexIndices.size() / 3 triangles (index lists cut to three entries per
    // triangle; an empty tangent list stays empty).
    void adoptData(std::vector<int> &&vertexIndices, std::vector<Point3f> &&vertices,
                   std::vector<int> &&normalIndices, std::vector<Vec3f> &&normals,
                   std::vector<Vec3f> &&tangents, std::vector<Point2f> &&uvs);

    // Sets the per-corner texture coordinate indices (three per triangle).
    void adoptUVIndices(std::vector<int> &&indices) { uvIndices = std::move(indices); }

    // The material of every shader slot (slot 0 is the mesh's material).
    // Empty, as it stays for a mesh without per-face shaders and for an
    // instance given a shader of its own: the mesh's material everywhere.
    void setShaderMaterials(std::vector<Material *> &&materials) {
        m_shaderMaterials = std::move(materials);
    }
    const std::vector<Material *> &shaderMaterials() const { return m_shaderMaterials; }
    // The material triangle i is shaded with.
    Material *triangleMaterial(int i) const {
        if (m_shaderMaterials.empty()) return material;
        const std::vector<uint32_t> &slots = listSource().triangleShaders;
        const std::size_t t = static_cast<std::size_t>(i);
        return t < slots.size() && slots[t] < m_shaderMaterials.size()
                   ? m_shaderMaterials[slots[t]]
                   : material;
    }

    int numTriangles() const { return static_cast<int>(listSource().vertexIndices.size() / 3); }
    // True for a copy placed by an instance (it reads a prototype's lists).
    bool isInstance() const { return m_lists != nullptr; }
    bool hasTextureCoordinates() const { return !listSource().uvs.empty(); }
    // Corner k (0..2) of triangle i in world space.
    Point3f cornerWorld(int i, int k) const;
    // The world-space corners of triangle i as the test uses them: first
    // corner and the two edges from it. False when a corner index lies
    // outside the vertex list (such a triangle is never hit).
    bool worldEdges(int i, Point3f *p0, Vec3f *e1, Vec3f *e2) const;
    // The three world-space corners of triangle i, as cornerWorld gives them.
    TriangleCorners worldCorners(int i) const {
        return {{cornerWorld(i, 0), cornerWorld(i, 1), cornerWorld(i, 2)}};
    }
    // True when every attribute index of triangle i (normals, texture
    // coordinates) lies inside its list; a hit on a triangle without is dropped.
    bool attributesValid(int i) const;
    // Texture coordinates, world normal and tangent of triangle i at the
    // barycentrics (b1, b2) of a hit. Requires attributesValid(i).
    void surfaceAt(int i, float b1, float b2, float *u, float *v, Vec3f *normal,
                   Vec3f *tangent) const;

    // rayTriangle on triangle i in world space; counts itself in g_intersected.
    bool intersectTriangle(const vmath::Ray &ray, int triangle, float *t, float *u, float *v,
                           Vec3f *normal, Vec3f *tangent) const;

    bool anyHit(const vmath::Ray &ray) const override;
    bool hitDistance(const vmath::Ray &ray, float *t) const override;
    // The mesh as one object: nearest over all triangles.
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    // Union of the boxes of its triangles.
    Bounds3f worldBounds() const override;

    // The shape whose lists this one reads: itself, or an instance's
    // prototype. Meshes with the same source are copies of one another.
    const MeshShape &listSource() const { return m_lists != nullptr ? *m_lists : *this; }

private:
    const MeshShape *m_lists = nullptr;
    std::vector<Material *> m_shaderMaterials;
};

class TrianglePrimitive final : public Primitive {
public:
    int index;      // triangle number within its mesh
    MeshShape *mesh; // owning mesh, not owned

    TrianglePrimitive(int index, MeshShape *mesh) : index(index), mesh(mesh) {}

    bool anyHit(const vmath::Ray &ray) const override;
    bool hitDistance(const vmath::Ray &ray, float *t) const override;
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    // Fills info for a hit at distance t with barycentrics (b1, b2), exactly
    // as intersect does.
    void fillHit(const vmath::Ray &ray, float t, float b1, float b2, IntersectInfo *info) const;
    Bounds3f worldBounds() const override;
    // The material currently bound to the triangle (its face's shader, or
    // the mesh's).
    Material *getMaterial() const override;
    void axisRange(float *lo, float *hi, int axis) const override;
    const TrianglePrimitive *meshTriangle() const override { return this; }
};
