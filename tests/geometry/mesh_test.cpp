#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "shapes/mesh.h"

namespace {

const Transform kIdentity;

Material *fakeMaterial(int n) {
    static int tags[4];
    return reinterpret_cast<Material *>(&tags[n]);
}

// Lists for MeshShape::setData; tangents, uvs and normals default to one
// entry per corner / vertex when left empty by a test.
struct MeshData {
    std::vector<Point3f> vertices;
    std::vector<int> vertexIndices;
    std::vector<Vec3f> normals;
    std::vector<int> normalIndices;
    std::vector<Vec3f> tangents;
    std::vector<Point2f> uvs;

    void load(MeshShape &mesh) const {
        mesh.setData(static_cast<int>(vertexIndices.size() / 3), static_cast<int>(vertices.size()),
                     vertexIndices.data(), vertices.data(), static_cast<int>(normals.size()),
                     normalIndices.data(), normals.data(),
                     tangents.empty() ? nullptr : tangents.data(), static_cast<int>(uvs.size()),
                     uvs.data());
    }
};

// Two triangles of the unit square in z = 0 sharing the edge (1,0)-(0,1);
// uv = xy, normals +z, tangents +x.
MeshData unitSquare() {
    MeshData d;
    d.vertices = {Point3f(0, 0, 0), Point3f(1, 0, 0), Point3f(0, 1, 0), Point3f(1, 1, 0)};
    d.vertexIndices = {0, 1, 2, 1, 3, 2};
    d.normals = {Vec3f(0, 0, 1)};
    d.normalIndices = {0, 0, 0, 0, 0, 0};
    d.tangents = std::vector<Vec3f>(6, Vec3f(1, 0, 0));
    d.uvs = {Point2f(0, 0), Point2f(1, 0), Point2f(0, 1), Point2f(1, 1)};
    return d;
}

struct Hit {
    float t = vmath::kMaxFloat, u = -1, v = -1;
    Vec3f n, tg;
};

bool hitTriangle(const MeshShape &mesh, int i, const vmath::Ray &r, Hit *h) {
    return mesh.intersectTriangle(r, i, &h->t, &h->u, &h->v, &h->n, &h->tg);
}

} // namespace

TEST(MeshShape, TriangleHitBothOrientations) {
    MeshShape mesh(kIdentity, nullptr);
    unitSquare().load(mesh);
    ASSERT_EQ(mesh.numTriangles(), 2);

    for (float dir : {1.0f, -1.0f}) {
        Hit h;
        ASSERT_TRUE(hitTriangle(mesh, 0, vmath::Ray(Point3f(0.25f, 0.25f, -dir), Vec3f(0, 0, dir)),
                                &h))
            << dir;
        EXPECT_EQ(h.t, 1.0f);
        // uv = xy, so b1 = b2 = 0.25 shows up directly.
        EXPECT_EQ(h.u, 0.25f);
        EXPECT_EQ(h.v, 0.25f);
        // The file normal, not flipped toward the ray.
        EXPECT_EQ(h.n, Vec3f(0, 0, 1));
        EXPECT_EQ(h.tg, Vec3f(1, 0, 0));
    }
}

TEST(MeshShape, DistanceBoundIsInclusive) {
    MeshShape mesh(kIdentity, nullptr);
    unitSquare().load(mesh);
    const vmath::Ray r(Point3f(0.25f, 0.25f, -1), Vec3f(0, 0, 1));
    Hit h;
    h.t = 1.0f;
    EXPECT_TRUE(hitTriangle(mesh, 0, r, &h));
    EXPECT_EQ(h.t, 1.0f);
    h.t = 0.99999994f;
    EXPECT_FALSE(hitTriangle(mesh, 0, r, &h));
    EXPECT_EQ(h.t, 0.99999994f);
    // Behind the origin.
    h.t = vmath::kMaxFloat;
    EXPECT_FALSE(hitTriangle(mesh, 0, vmath::Ray(Point3f(0.25f, 0.25f, 1), Vec3f(0, 0, 1)), &h));
}

TEST(MeshShape, SharedEdgeAndVertexHitBoth) {
    MeshShape mesh(kIdentity, nullptr);
    unitSquare().load(mesh);
    Hit h0, h1;
    const vmath::Ray edge(Point3f(0.5f, 0.5f, -1), Vec3f(0, 0, 1));
    EXPECT_TRUE(hitTriangle(mesh, 0, edge, &h0));
    EXPECT_TRUE(hitTriangle(mesh, 1, edge, &h1));
    const vmath::Ray corner(Point3f(1, 0, -1), Vec3f(0, 0, 1));
    h0 = h1 = Hit();
    EXPECT_TRUE(hitTriangle(mesh, 0, corner, &h0));
    EXPECT_TRUE(hitTriangle(mesh, 1, corner, &h1));
    EXPECT_EQ(h0.u, 1.0f);
    EXPECT_EQ(h1.u, 1.0f);
}

TEST(MeshShape, DegenerateRaysMissButCount) {
    MeshShape mesh(kIdentity, nullptr);
    unitSquare().load(mesh);
    Hit h;
    uint32_t before = g_intersected;
    // In the triangle's plane: det == 0.
    EXPECT_FALSE(hitTriangle(mesh, 0, vmath::Ray(Point3f(-1, 0.25f, 0), Vec3f(1, 0, 0)), &h));
    EXPECT_EQ(g_intersected, before + 1);
    // Zero direction (total internal reflection).
    EXPECT_FALSE(hitTriangle(mesh, 0, vmath::Ray(Point3f(0.25f, 0.25f, -1), Vec3f(0, 0, 0)), &h));
    EXPECT_EQ(g_intersected, before + 2);
    // A miss outside the edges counts too.
    EXPECT_FALSE(hitTriangle(mesh, 0, vmath::Ray(Point3f(0.75f, 0.75f, -1), Vec3f(0, 0, 1)), &h));
    EXPECT_EQ(g_intersected, before + 3);
    EXPECT_EQ(h.t, vmath::kMaxFloat);
}

// A corner that is not finite (a huge or "-nan" value in a scene file) makes
// the test's arithmetic NaN; such a triangle must not report a hit at a NaN
// distance, which would also let every later triangle pass the "th > *t" test.
TEST(MeshShape, NonFiniteCornersNeverHit) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const vmath::Ray far(Point3f(5, 5, -1), Vec3f(0, 0, 1));
    for (const Point3f &bad : {Point3f(inf, 0, 0), Point3f(nan, 0, 0), Point3f(0, 0, -nan)}) {
        MeshData d = unitSquare();
        d.vertices[1] = bad; // corner of both triangles
        MeshShape mesh(kIdentity, nullptr);
        d.load(mesh);
        const uint32_t before = g_intersected;
        Hit h;
        EXPECT_FALSE(hitTriangle(mesh, 0, far, &h)) << bad.x << " " << bad.z;
        EXPECT_EQ(h.t, vmath::kMaxFloat);
        EXPECT_EQ(g_intersected, before + 1);
    }

    // Tested one by one with a shared bound, as the World's loop does: a
    // broken triangle between two finite ones leaves the nearest hit in place.
    MeshData d;
    for (float z : {1.0f, 2.0f, 3.0f}) {
        const int base = static_cast<int>(d.vertices.size());
        d.vertices.insert(d.vertices.end(), {Point3f(0, 0, z), Point3f(1, 0, z), Point3f(0, 1, z)});
        d.vertexIndices.insert(d.vertexIndices.end(), {base, base + 1, base + 2});
        d.uvs.insert(d.uvs.end(), 3, Point2f(z, 0));
    }
    d.vertices[4] = Point3f(inf, 0, 2);
    d.normals = {Vec3f(0, 0, -1)};
    d.normalIndices = std::vector<int>(9, 0);
    d.tangents = std::vector<Vec3f>(9, Vec3f(1, 0, 0));
    MeshShape mesh(kIdentity, nullptr);
    d.load(mesh);
    const vmath::Ray r(Point3f(0.25f, 0.25f, 0), Vec3f(0, 0, 1));
    float t = vmath::kMaxFloat;
    IntersectInfo info;
    int hits = 0;
    for (int i = 0; i < 3; ++i) hits += TrianglePrimitive(i, &mesh).intersect(r, &t, &info) ? 1 : 0;
    EXPECT_EQ(hits, 1);
    EXPECT_EQ(t, 1.0f);
    EXPECT_EQ(info.u, 1.0f);
    EXPECT_FALSE(TrianglePrimitive(1, &mesh).anyHit(far));
}

TEST(MeshShape, AttributesFollowTheirIndexLists) {
    // One triangle whose corners are vertices 7, 2, 5 and normals 2, 0, 1.
    MeshData d;
    for (int i = 0; i < 8; ++i) {
        d.vertices.push_back(Point3f(0, 0, 5)); // unused positions stay off the ray
        d.uvs.push_back(Point2f(0.1f * static_cast<float>(i), 1.0f - 0.1f * static_cast<float>(i)));
    }
    d.vertices[7] = Point3f(0, 0, 0);
    d.vertices[2] = Point3f(1, 0, 0);
    d.vertices[5] = Point3f(0, 1, 0);
    d.vertexIndices = {7, 2, 5};
    d.normals = {Vec3f(1, 0, 0), Vec3f(0, 1, 0), Vec3f(0, 0, 3)};
    d.normalIndices = {2, 0, 1};
    d.tangents = {Vec3f(0, 2, 0), Vec3f(0, 0, 1), Vec3f(1, 0, 0)};
    MeshShape mesh(kIdentity, nullptr);
    d.load(mesh);

    // At corner 0: uv of vertex 7, normal 2 and the first tangent, normalized.
    Hit h;
    ASSERT_TRUE(hitTriangle(mesh, 0, vmath::Ray(Point3f(0, 0, -1), Vec3f(0, 0, 1)), &h));
    EXPECT_EQ(h.u, d.uvs[7].x);
    EXPECT_EQ(h.v, d.uvs[7].y);
    EXPECT_EQ(h.n, Vec3f(0, 0, 1));
    EXPECT_EQ(h.tg, Vec3f(0, 1, 0));
    // At corner 1: vertex 2, normal 0, second tangent.
    h = Hit();
    ASSERT_TRUE(hitTriangle(mesh, 0, vmath::Ray(Point3f(1, 0, -1), Vec3f(0, 0, 1)), &h));
    EXPECT_EQ(h.u, d.uvs[2].x);
    EXPECT_EQ(h.v, d.uvs[2].y);
    EXPECT_EQ(h.n, Vec3f(1, 0, 0));
    EXPECT_EQ(h.tg, Vec3f(0, 0, 1));
}

TEST(MeshShape, NonUniformScaleTiltsNormal) {
    MeshData d = unitSquare();
    d.normals = {Vec3f(1, 0, 1)};
    d.tangents = std::vector<Vec3f>(6, Vec3f(1, 1, 0));
    // x scaled by 2, z sheared by x and moved by 3: (x, y, z) -> (2x, y, x + z + 3).
    MeshShape mesh(Transform(Matrix4x4(2, 0, 0, 0, 0, 1, 0, 0, 1, 0, 1, 3, 0, 0, 0, 1)), nullptr);
    d.load(mesh);
    Hit h;
    ASSERT_TRUE(hitTriangle(mesh, 0, vmath::Ray(Point3f(0.5f, 0.25f, 0), Vec3f(0, 0, 1)), &h));
    EXPECT_EQ(h.t, 3.25f);
    // Normals and tangents are carried by the forward matrix like
    // directions: (1, 0, 1) -> (2, 0, 2). The transposed block would give
    // (3, 0, 1), the inverse transpose (0, 0, 1).
    const float r2 = 1.0f / std::sqrt(2.0f), r6 = 1.0f / std::sqrt(6.0f);
    EXPECT_NEAR(h.n.x, r2, 1e-6f);
    EXPECT_EQ(h.n.y, 0.0f);
    EXPECT_NEAR(h.n.z, r2, 1e-6f);
    // (1, 1, 0) -> (2, 1, 1).
    EXPECT_NEAR(h.tg.x, 2.0f * r6, 1e-6f);
    EXPECT_NEAR(h.tg.y, r6, 1e-6f);
    EXPECT_NEAR(h.tg.z, r6, 1e-6f);
    // World corners follow the same matrix, with its translation.
    EXPECT_EQ(mesh.cornerWorld(0, 1), Point3f(2, 0, 4));
    const Bounds3f b = mesh.worldBounds();
    EXPECT_EQ(b.pMin, Point3f(0, 0, 3));
    EXPECT_EQ(b.pMax, Point3f(2, 1, 4));
}

TEST(MeshShape, MissingOrBrokenListsNeverReadOutside) {
    // Without tangents the hit still happens, with a tangent made from the
    // triangle: the direction in which u grows when the uvs vary, else the
    // first edge. On triangle 1 the two differ: u grows along x, the first
    // edge (vertex 1 to vertex 3) runs along y.
    MeshData d = unitSquare();
    d.tangents.clear();
    MeshShape noTangents(kIdentity, nullptr);
    d.load(noTangents);
    EXPECT_TRUE(noTangents.tangents.empty());
    const vmath::Ray second(Point3f(0.75f, 0.75f, -1), Vec3f(0, 0, 1));
    Hit h;
    ASSERT_TRUE(hitTriangle(noTangents, 1, second, &h));
    EXPECT_EQ(h.tg, Vec3f(1, 0, 0));
    // Without uvs as well: uv (0, 0) and the first edge.
    d.uvs.clear();
    MeshShape bare(kIdentity, nullptr);
    d.load(bare);
    h = Hit();
    ASSERT_TRUE(hitTriangle(bare, 1, second, &h));
    EXPECT_EQ(h.tg, Vec3f(0, 1, 0));
    EXPECT_EQ(h.u, 0.0f);
    EXPECT_EQ(h.v, 0.0f);

    const vmath::Ray r(Point3f(0.25f, 0.25f, -1), Vec3f(0, 0, 1));
    // Triangle numbers outside the mesh.
    MeshShape mesh(kIdentity, nullptr);
    unitSquare().load(mesh);
    EXPECT_FALSE(hitTriangle(mesh, 2, r, &h));
    EXPECT_FALSE(hitTriangle(mesh, -1, r, &h));
    // Indices past their lists: such a triangle is never hit.
    MeshShape broken(kIdentity, nullptr);
    unitSquare().load(broken);
    broken.vertexIndices[2] = 4;
    EXPECT_FALSE(hitTriangle(broken, 0, r, &h));
    broken.vertexIndices[2] = -1;
    EXPECT_FALSE(hitTriangle(broken, 0, r, &h));
    broken.vertexIndices[2] = 2;
    broken.normalIndices[1] = 1;
    EXPECT_FALSE(hitTriangle(broken, 0, r, &h));
    broken.normalIndices[1] = 0;
    broken.uvs.resize(2);
    EXPECT_FALSE(hitTriangle(broken, 0, r, &h));
    // Its box ignores corners that do not exist.
    broken.vertexIndices[0] = 10;
    const Bounds3f b = TrianglePrimitive(0, &broken).worldBounds();
    EXPECT_EQ(b.pMin, Point3f(0, 0, 0));
    EXPECT_EQ(b.pMax, Point3f(1, 1, 0));

    // Null arrays and non-positive counts copy nothing.
    MeshShape empty(kIdentity, nullptr);
    empty.setData(-3, 4, nullptr, nullptr, 0, nullptr, nullptr, nullptr, -1, nullptr);
    EXPECT_EQ(empty.numTriangles(), 0);
    EXPECT_TRUE(empty.vertices.empty() && empty.normals.empty() && empty.uvs.empty());
    IntersectInfo info;
    EXPECT_FALSE(empty.intersect(r, &h.t, &info));
    const Bounds3f none = empty.worldBounds();
    EXPECT_EQ(none.pMin, Bounds3f().pMin);
    EXPECT_EQ(none.pMax, Bounds3f().pMax);
}

TEST(MeshShape, WholeMeshQueryKeepsNearestTriangle) {
    // Three parallel triangles at z = 3, 1 and 1 again (different uvs):
    // the nearest wins, and of two at equal distance the earlier one.
    MeshData d;
    for (float z : {3.0f, 1.0f, 1.0f}) {
        const int base = static_cast<int>(d.vertices.size());
        d.vertices.insert(d.vertices.end(), {Point3f(0, 0, z), Point3f(1, 0, z), Point3f(0, 1, z)});
        d.vertexIndices.insert(d.vertexIndices.end(), {base, base + 1, base + 2});
        const float tag = static_cast<float>(base);
        d.uvs.insert(d.uvs.end(), {Point2f(tag, 0), Point2f(tag, 0), Point2f(tag, 0)});
    }
    d.normals = {Vec3f(0, 0, -1)};
    d.normalIndices = std::vector<int>(9, 0);
    d.tangents = std::vector<Vec3f>(9, Vec3f(1, 0, 0));
    MeshShape mesh(kIdentity, fakeMaterial(2));
    mesh.id = 4;
    d.load(mesh);

    const vmath::Ray r(Point3f(0.25f, 0.25f, 0), Vec3f(0, 0, 1));
    const uint32_t before = g_intersected;
    float t = vmath::kMaxFloat;
    IntersectInfo info;
    ASSERT_TRUE(mesh.intersect(r, &t, &info));
    EXPECT_EQ(g_intersected, before + 3);
    EXPECT_EQ(t, 1.0f);
    EXPECT_EQ(info.u, 3.0f); // the second triangle, not the third
    EXPECT_EQ(info.position, Point3f(0.25f, 0.25f, 1));
    EXPECT_EQ(info.normal, Vec3f(0, 0, -1));
    EXPECT_EQ(info.material, fakeMaterial(2));
    EXPECT_EQ(info.id, 4);
    EXPECT_TRUE(mesh.anyHit(r));
    t = 5.0f;
    EXPECT_TRUE(mesh.hitDistance(r, &t));
    EXPECT_EQ(t, 1.0f);

    // A miss resets the record's id and leaves the distance alone.
    t = vmath::kMaxFloat;
    EXPECT_FALSE(mesh.intersect(vmath::Ray(Point3f(2, 2, 0), Vec3f(0, 0, 1)), &t, &info));
    EXPECT_EQ(info.id, -1);
    EXPECT_EQ(t, vmath::kMaxFloat);
    EXPECT_FALSE(mesh.anyHit(vmath::Ray(Point3f(0.25f, 0.25f, 0), Vec3f(0, 0, 1), 0.5f)));
}

TEST(TrianglePrimitive, ReportsItsMeshAndItsMaterial) {
    MeshShape mesh(kIdentity, nullptr);
    mesh.id = 5;
    unitSquare().load(mesh);
    TrianglePrimitive t0(0, &mesh), t1(1, &mesh);
    t0.id = 6;
    t1.id = 7;

    // Binding the mesh after its triangles exist is enough for all of them;
    // binding a triangle itself does nothing.
    EXPECT_EQ(t0.getMaterial(), nullptr);
    mesh.setMaterial(fakeMaterial(3));
    t1.setMaterial(fakeMaterial(0));
    EXPECT_EQ(t0.getMaterial(), fakeMaterial(3));
    EXPECT_EQ(t1.getMaterial(), fakeMaterial(3));

    const vmath::Ray r(Point3f(0.75f, 0.75f, -2), Vec3f(0, 0, 2));
    float t = vmath::kMaxFloat;
    IntersectInfo info;
    EXPECT_FALSE(t0.intersect(r, &t, &info));
    EXPECT_EQ(info.id, -1);
    ASSERT_TRUE(t1.intersect(r, &t, &info));
    EXPECT_EQ(t, 1.0f);
    EXPECT_EQ(info.id, 5); // the mesh's id, not the triangle's
    EXPECT_EQ(info.material, fakeMaterial(3));
    EXPECT_EQ(info.position, Point3f(0.75f, 0.75f, 0));
    EXPECT_EQ(info.u, 0.75f);
    EXPECT_EQ(info.v, 0.75f);
    EXPECT_EQ(info.tangent, Vec3f(1, 0, 0));

    EXPECT_TRUE(t1.anyHit(r));
    EXPECT_FALSE(t1.anyHit(vmath::Ray(Point3f(0.75f, 0.75f, -2), Vec3f(0, 0, 2), 0.5f)));
    t = 1.0f;
    EXPECT_TRUE(t1.hitDistance(r, &t));
}

TEST(TrianglePrimitive, BoxAndAxisRange) {
    MeshData d;
    d.vertices = {Point3f(1, 5, -2), Point3f(-3, 4, 0), Point3f(2, 6, -1)};
    d.vertexIndices = {0, 1, 2};
    d.normals = {Vec3f(0, 0, 1)};
    d.normalIndices = {0, 0, 0};
    d.uvs = {Point2f(), Point2f(), Point2f()};
    MeshShape mesh(makeTranslate(Vec3f(10, 0, 0)), nullptr);
    d.load(mesh);
    TrianglePrimitive tri(0, &mesh);

    const Bounds3f b = tri.worldBounds();
    EXPECT_EQ(b.pMin, Point3f(7, 4, -2));
    EXPECT_EQ(b.pMax, Point3f(12, 6, 0));
    const Bounds3f mb = mesh.worldBounds();
    EXPECT_EQ(mb.pMin, b.pMin);
    EXPECT_EQ(mb.pMax, b.pMax);

    for (int axis = 0; axis < 3; ++axis) {
        float lo = 0, hi = 0;
        tri.axisRange(&lo, &hi, axis);
        EXPECT_EQ(lo, b.pMin[axis]) << axis;
        EXPECT_EQ(hi, b.pMax[axis]) << axis;
    }
    // The mesh as a whole has no axis range: the outputs stay as they are.
    float lo = -1, hi = -1;
    mesh.axisRange(&lo, &hi, 0);
    EXPECT_EQ(lo, -1.0f);
    EXPECT_EQ(hi, -1.0f);
}
