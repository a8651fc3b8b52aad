// Indexed triangle mesh in object space, and the single triangles that the
// World tests in its place. Corners are mapped to world space on every test.
#pragma once

#include <cstdint>
#include <vector>

#include "primitive.h"

// Process-wide count of ray/triangle tests, hit or not.
extern uint32_t g_intersected;

class MeshShape final : public GeoPrimitive {
public:
    std::vector<Point3f> vertices;
    std::vector<Vec3f> normals;     // not required to be unit length
    std::vector<Point2f> uvs;       // one per vertex, found through the vertex index
    std::vector<Vec3f> tangents;    // one per triangle corner, in corner order
    std::vector<int> vertexIndices; // three per triangle
    std::vector<int> normalIndices; // three per triangle

    MeshShape(const Transform &object2world, Material *material);

    // Copies the caller's lists; tangents may be null. Counts are taken as
    // given: the loader checks indices against the lists before calling.
    void setData(int numTriangles, int numVertices, const int *vertexIndices,
                 const Point3f *vertices, int numNormals, const int *normalIndices,
                 const Vec3f *normals, const Vec3f *tangents, int numUVs, const Point2f *uvs);

    int numTriangles() const { return static_cast<int>(vertexIndices.size() / 3); }
    // Corner k (0..2) of triangle i in world space.
    Point3f cornerWorld(int i, int k) const;

    // Moller-Trumbore test of triangle i in world space without epsilons;
    // counts itself in g_intersected.
    bool intersectTriangle(const vmath::Ray &ray, int triangle, float *t, float *u, float *v,
                           Vec3f *normal, Vec3f *tangent) const;

    bool anyHit(const vmath::Ray &ray) const override;
    bool hitDistance(const vmath::Ray &ray, float *t) const override;
    // The mesh as one object: nearest over all triangles.
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    // Union of the boxes of its triangles.
    Bounds3f worldBounds() const override;
};

class TrianglePrimitive final : public Primitive {
public:
    int index;      // triangle number within its mesh
    MeshShape *mesh; // owning mesh, not owned

    TrianglePrimitive(int index, MeshShape *mesh) : index(index), mesh(mesh) {}

    bool anyHit(const vmath::Ray &ray) const override;
    bool hitDistance(const vmath::Ray &ray, float *t) const override;
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    Bounds3f worldBounds() const override;
    // The material currently bound to the mesh.
    Material *getMaterial() const override;
    void axisRange(float *lo, float *hi, int axis) const override;
};
