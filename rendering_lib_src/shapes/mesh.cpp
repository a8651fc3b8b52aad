#include "shapes/mesh.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

thread_local uint32_t g_intersected = 0;

namespace {

// Replaces list with count entries from src; a null source or a count
// below 1 leaves the list empty.
template <typename T> void copyList(std::vector<T> &list, const T *src, std::size_t count) {
    list.clear();
    if (src == nullptr || count == 0) return;
    list.assign(src, src + count);
}

std::size_t countOf(int n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }

// True when index names an entry of a list of the given size.
inline bool inList(int index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) < size;
}

// v through the upper-left 3x3 block of m: normals and tangents are carried
// like directions by the forward matrix.
inline Vec3f applyLinear(const Matrix4x4 &m, const Vec3f &v) {
    return Vec3f(m.m[0][0] * v.x + m.m[0][1] * v.y + m.m[0][2] * v.z,
                 m.m[1][0] * v.x + m.m[1][1] * v.y + m.m[1][2] * v.z,
                 m.m[2][0] * v.x + m.m[2][1] * v.y + m.m[2][2] * v.z);
}

} // namespace

MeshShape::MeshShape(const Transform &object2world, Material *material)
    : GeoPrimitive(object2world, material) {}

MeshShape::MeshShape(const Transform &object2world, Material *material,
                     const MeshShape &prototype)
    : GeoPrimitive(object2world, material), m_lists(&prototype.listSource()) {}

void MeshShape::setData(int numTriangles, int numVertices, const int *vertexIndices,
                        const Point3f *vertices, int numNormals, const int *normalIndices,
                        const Vec3f *normals, const Vec3f *tangents, int numUVs,
                        const Point2f *uvs) {
    // size_t arithmetic: 3 * numTriangles must not overflow an int.
    const std::size_t numCorners = 3 * countOf(numTriangles);
    copyList(this->vertexIndices, vertexIndices, numCorners);
    copyList(this->vertices, vertices, countOf(numVertices));
    copyList(this->normalIndices, normalIndices, numCorners);
    copyList(this->normals, normals, countOf(numNormals));
    copyList(this->uvs, uvs, countOf(numUVs));
    if (tangents != nullptr) copyList(this->tangents, tangents, numCorners);
}

void MeshShape::adoptData(std::vector<int> &&vertexIndices_, std::vector<Point3f> &&vertices_,
                          std::vector<int> &&normalIndices_, std::vector<Vec3f> &&normals_,
                          std::vector<Vec3f> &&tangents_, std::vector<Point2f> &&uvs_) {
    const std::size_t numCorners = vertexIndices_.size() / 3 * 3;
    vertexIndices = std::move(vertexIndices_);
    vertexIndices.resize(numCorners);
    vertices = std::move(vertices_);
    normalIndices = std::move(normalIndices_);
    // No normal indices: the triangles' own normals.
    if (!normalIndices.empty()) normalIndices.resize(numCorners);
    normals = std::move(normals_);
    uvs = std::move(uvs_);
    if (!tangents_.empty()) {
        tangents = std::move(tangents_);
        tangents.resize(numCorners);
    }
}

bool watertightRayTriangle(const vmath::Ray &ray, const TriangleCorners &corners, float tBound,
                           float *th, float *b1, float *b2) {
    const float dir[3] = {ray.direction.x, ray.direction.y, ray.direction.z};
    const float ax = std::fabs(dir[0]), ay = std::fabs(dir[1]), az = std::fabs(dir[2]);
    // Ray space: z along the direction's largest component, x and y the
    // next two in turn, swapped when that component is negative so that
    // the triangle's winding is kept.
    const int kz = ax >= ay ? (ax >= az ? 0 : 2) : (ay >= az ? 1 : 2);
    int kx = kz == 2 ? 0 : kz + 1;
    int ky = kx == 2 ? 0 : kx + 1;
    if (!(dir[kz] != 0.0f)) return false; // no direction, or not a number
    if (dir[kz] < 0.0f) std::swap(kx, ky);
    const float sx = dir[kx] / dir[kz], sy = dir[ky] / dir[kz], sz = 1.0f / dir[kz];

    // The corners relative to the origin, sheared so that the ray runs
    // along z: the same corner gives the same numbers in every triangle.
    const float origin[3] = {ray.origin.x, ray.origin.y, ray.origin.z};
    float x[3], y[3], z[3];
    for (int k = 0; k < 3; ++k) {
        const Point3f &c = corners.c[k];
        const float p[3] = {c.x - origin[0], c.y - origin[1], c.z - origin[2]};
        x[k] = p[kx] - sx * p[kz];
        y[k] = p[ky] - sy * p[kz];
        z[k] = sz * p[kz];
    }
    // Scaled barycentrics: the edge functions, each a function of one
    // edge's two corners only. Zero (the ray on an edge, as far as single
    // precision can tell) is decided again in double precision, where the
    // products are exact.
    float e0 = x[2] * y[1] - y[2] * x[1];
    float e1 = x[0] * y[2] - y[0] * x[2];
    float e2 = x[1] * y[0] - y[1] * x[0];
    if (e0 == 0.0f || e1 == 0.0f || e2 == 0.0f) {
        const double dx[3] = {x[0], x[1], x[2]}, dy[3] = {y[0], y[1], y[2]};
        e0 = static_cast<float>(dx[2] * dy[1] - dy[2] * dx[1]);
        e1 = static_cast<float>(dx[0] * dy[2] - dy[0] * dx[2]);
        e2 = static_cast<float>(dx[1] * dy[0] - dy[1] * dx[0]);
    }
    // Mixed signs: outside. All zero: a ray in the triangle's plane.
    if ((e0 < 0.0f || e1 < 0.0f || e2 < 0.0f) && (e0 > 0.0f || e1 > 0.0f || e2 > 0.0f))
        return false;
    const float det = e0 + e1 + e2;
    if (det == 0.0f) return false;
    const float inv = 1.0f / det;
    const float t = (e0 * z[0] + e1 * z[1] + e2 * z[2]) * inv;
    // NaN fails these as well.
    if (!(t >= 0.0f) || !(t <= tBound)) return false;
    *th = t;
    *b1 = e1 * inv;
    *b2 = e2 * inv;
    return true;
}

Point3f MeshShape::cornerWorld(int i, int k) const {
    // A corner that does not exist is NaN, which growing a box ignores.
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    if (i < 0 || k < 0 || k > 2) return Point3f(kNaN, kNaN, kNaN);
    const MeshShape &L = listSource();
    const std::size_t corner = 3 * static_cast<std::size_t>(i) + static_cast<std::size_t>(k);
    if (corner >= L.vertexIndices.size()) return Point3f(kNaN, kNaN, kNaN);
    const int vi = L.vertexIndices[corner];
    if (!inList(vi, L.vertices.size())) return Point3f(kNaN, kNaN, kNaN);
    return object2world(L.vertices[vi]);
}

bool MeshShape::worldEdges(int i, Point3f *p0, Vec3f *e1, Vec3f *e2) const {
    // The loader hands over consistent lists, so these compares never fail
    // in a render; they only keep a hand-built or inconsistent mesh from
    // reading outside its lists.
    if (i < 0) return false;
    const MeshShape &L = listSource();
    const std::size_t base = 3 * static_cast<std::size_t>(i);
    if (base + 3 > L.vertexIndices.size()) return false;
    const int vi0 = L.vertexIndices[base], vi1 = L.vertexIndices[base + 1],
              vi2 = L.vertexIndices[base + 2];
    const std::size_t numVertices = L.vertices.size();
    if (!inList(vi0, numVertices) || !inList(vi1, numVertices) || !inList(vi2, numVertices))
        return false;
    // Corners are mapped to world space and the edges taken from them.
    const Point3f c0 = object2world(L.vertices[vi0]);
    const Point3f c1 = object2world(L.vertices[vi1]);
    const Point3f c2 = object2world(L.vertices[vi2]);
    *p0 = c0;
    *e1 = c1 - c0;
    *e2 = c2 - c0;
    return true;
}

bool MeshShape::attributesValid(int i) const {
    if (i < 0) return false;
    const MeshShape &L = listSource();
    const std::size_t base = 3 * static_cast<std::size_t>(i);
    if (base + 3 > L.vertexIndices.size()) return false;
    // Each optional list is either absent or indexes inside its values.
    if (!L.normalIndices.empty()) {
        if (base + 3 > L.normalIndices.size()) return false;
        for (std::size_t k = base; k < base + 3; ++k)
            if (!inList(L.normalIndices[k], L.normals.size())) return false;
    }
    if (!L.uvIndices.empty()) {
        if (base + 3 > L.uvIndices.size()) return false;
        for (std::size_t k = base; k < base + 3; ++k)
            if (!inList(L.uvIndices[k], L.uvs.size())) return false;
    } else if (!L.uvs.empty()) {
        for (std::size_t k = base; k < base + 3; ++k)
            if (!inList(L.vertexIndices[k], L.uvs.size())) return false;
    }
    return true;
}

namespace {

// A tangent for a triangle without a tangent list: the direction in which
// u grows across the triangle when its texture coordinates vary, else its
// first edge. Object space, not normalised.
Vec3f triangleTangent(const Point3f &p0, const Point3f &p1, const Point3f &p2,
                      const Point2f &w0, const Point2f &w1, const Point2f &w2) {
    const Vec3f dp1 = p1 - p0, dp2 = p2 - p0;
    const float du1 = w1.x - w0.x, dv1 = w1.y - w0.y;
    const float du2 = w2.x - w0.x, dv2 = w2.y - w0.y;
    const float det = du1 * dv2 - du2 * dv1;
    if (det != 0.0f && std::isfinite(det)) {
        const Vec3f t = (dv2 * dp1 - dv1 * dp2) / det;
        if (std::isfinite(t.x) && std::isfinite(t.y) && std::isfinite(t.z) &&
            (t.x != 0.0f || t.y != 0.0f || t.z != 0.0f))
            return t;
    }
    return dp1;
}

} // namespace

void MeshShape::surfaceAt(int i, float b1, float b2, float *u, float *v, Vec3f *normal,
                          Vec3f *tangent) const {
    const MeshShape &L = listSource();
    const std::size_t base = 3 * static_cast<std::size_t>(i);
    const int vi0 = L.vertexIndices[base], vi1 = L.vertexIndices[base + 1],
              vi2 = L.vertexIndices[base + 2];
    const float b0 = 1.0f - b1 - b2;

    // Texture coordinates through their own indices, or the vertex's; a
    // mesh without them has (0, 0) everywhere.
    Point2f w0, w1, w2;
    if (!L.uvIndices.empty()) {
        w0 = L.uvs[L.uvIndices[base]];
        w1 = L.uvs[L.uvIndices[base + 1]];
        w2 = L.uvs[L.uvIndices[base + 2]];
    } else if (!L.uvs.empty()) {
        w0 = L.uvs[vi0];
        w1 = L.uvs[vi1];
        w2 = L.uvs[vi2];
    }
    *u = b0 * w0.x + b1 * w1.x + b2 * w2.x;
    *v = b0 * w0.y + b1 * w1.y + b2 * w2.y;

    if (!L.normalIndices.empty()) {
        // Interpolated file normal through the forward 3x3 block (no inverse
        // transpose), as the scenes were authored against it; not flipped
        // toward the ray.
        const int ni0 = L.normalIndices[base], ni1 = L.normalIndices[base + 1],
                  ni2 = L.normalIndices[base + 2];
        const Vec3f n = (b0 * L.normals[ni0] + b1 * L.normals[ni1]) + b2 * L.normals[ni2];
        *normal = vmath::normalized(applyLinear(object2world.m, n));
    } else {
        // No normals in the file: the triangle's own, from its world-space
        // edges, on the side from which its corners run counter-clockwise.
        const Point3f c0 = object2world(L.vertices[vi0]);
        const Vec3f e1 = object2world(L.vertices[vi1]) - c0;
        const Vec3f e2 = object2world(L.vertices[vi2]) - c0;
        *normal = vmath::normalized(vmath::cross(e1, e2));
    }

    if (base + 3 <= L.tangents.size()) {
        const Vec3f tg =
            (b0 * L.tangents[base] + b1 * L.tangents[base + 1]) + b2 * L.tangents[base + 2];
        *tangent = vmath::normalized(applyLinear(object2world.m, tg));
    } else {
        const Vec3f tg = triangleTangent(L.vertices[vi0], L.vertices[vi1], L.vertices[vi2], w0,
                                         w1, w2);
        *tangent = vmath::normalized(applyLinear(object2world.m, tg));
    }
}

bool MeshShape::intersectTriangle(const vmath::Ray &ray, int triangle, float *t, float *u,
                                  float *v, Vec3f *normal, Vec3f *tangent) const {
    ++g_intersected;
    // Corners are mapped to world space on every test; the kd-tree keeps
    // the same floats computed once.
    Point3f p0;
    Vec3f e1, e2;
    if (!worldEdges(triangle, &p0, &e1, &e2)) return false;
    float th, b1, b2;
    if (!rayTriangle(ray, p0, e1, e2, *t, &th, &b1, &b2,
                     [&] { return worldCorners(triangle); }))
        return false;
    if (!attributesValid(triangle)) return false;
    surfaceAt(triangle, b1, b2, u, v, normal, tangent);
    *t = th;
    return true;
}

bool MeshShape::anyHit(const vmath::Ray &ray) const {
    float t = ray.maxDist;
    return hitDistance(ray, &t);
}

bool MeshShape::hitDistance(const vmath::Ray &ray, float *t) const {
    IntersectInfo scratch;
    return intersect(ray, t, &scratch);
}

bool MeshShape::intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const {
    bool found = false;
    float best = vmath::kMaxFloat;
    // The bound is the larger of the ray's own and the caller's.
    float tc = ray.maxDist < *t ? *t : ray.maxDist;
    info->id = -1;

    const int count = numTriangles();
    int nearest = 0;
    for (int i = 0; i < count; ++i) {
        float u, v;
        Vec3f n, tg;
        // tc shrinks with every hit, so the nearest triangle wins; on equal
        // distances the earlier one stays.
        if (intersectTriangle(ray, i, &tc, &u, &v, &n, &tg) && tc < best) {
            found = true;
            best = tc;
            nearest = i;
            info->normal = n;
            info->u = u;
            info->v = v;
            info->tangent = tg;
        }
    }
    if (found) {
        *t = best;
        info->position = ray.origin + ray.direction * best;
        info->material = triangleMaterial(nearest);
        info->id = id;
    }
    return found;
}

Bounds3f MeshShape::worldBounds() const {
    // Growing by every corner equals the union of the triangles' boxes and
    // keeps a mesh without triangles at the empty box.
    Bounds3f box;
    const int count = numTriangles();
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) growBy(box, cornerWorld(i, k));
    return box;
}

bool TrianglePrimitive::anyHit(const vmath::Ray &ray) const {
    float t = ray.maxDist;
    IntersectInfo scratch;
    return intersect(ray, &t, &scratch);
}

bool TrianglePrimitive::hitDistance(const vmath::Ray &ray, float *t) const {
    IntersectInfo scratch;
    return intersect(ray, t, &scratch);
}

bool TrianglePrimitive::intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const {
    float u, v;
    Vec3f n, tg;
    if (!mesh->intersectTriangle(ray, index, t, &u, &v, &n, &tg)) return false;
    info->normal = n;
    info->u = u;
    info->v = v;
    info->tangent = tg;
    info->position = ray.origin + ray.direction * (*t);
    info->material = mesh->triangleMaterial(index);
    // Every triangle reports its mesh's id, so one mesh is one object.
    info->id = mesh->id;
    return true;
}

void TrianglePrimitive::fillHit(const vmath::Ray &ray, float t, float b1, float b2,
                                IntersectInfo *info) const {
    mesh->surfaceAt(index, b1, b2, &info->u, &info->v, &info->normal, &info->tangent);
    info->position = ray.origin + ray.direction * t;
    info->material = mesh->triangleMaterial(index);
    info->id = mesh->id;
}

Bounds3f TrianglePrimitive::worldBounds() const {
    Bounds3f box;
    for (int k = 0; k < 3; ++k) growBy(box, mesh->cornerWorld(index, k));
    return box;
}

Material *TrianglePrimitive::getMaterial() const { return mesh->triangleMaterial(index); }

void TrianglePrimitive::axisRange(float *lo, float *hi, int axis) const {
    const Point3f c0 = mesh->cornerWorld(index, 0);
    const Point3f c1 = mesh->cornerWorld(index, 1);
    const Point3f c2 = mesh->cornerWorld(index, 2);
    *lo = c0[axis];
    *hi = c0[axis];
    if (c1[axis] < *lo) *lo = c1[axis];
    if (c1[axis] > *hi) *hi = c1[axis];
    if (c2[axis] < *lo) *lo = c2[axis];
    if (c2[axis] > *hi) *hi = c2[axis];
}
