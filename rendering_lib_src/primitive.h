// Everything a ray can hit is a Primitive: spheres, meshes, the triangles of
// a mesh, and the kd-tree over a list of primitives. IntersectInfo is the
// record a nearest-hit query fills.
#pragma once

#include <string>

#include "bounds.h"
#include "transform.h"
#include "vecmath.h"

class Material;
class World;

struct IntersectInfo {
    int id = -1;                  // -1: nothing hit; for a triangle, its mesh's id
    Material *material = nullptr; // may be null
    Point3f position;             // world-space hit point
    Vec3f normal;                 // world-space shading normal, unit length
    Vec3f tangent;                // world-space tangent
    vmath::Ray ray;               // copy of the query ray (written by the World)
    const World *world = nullptr; // the World that answered (written by the World)
    float u = 0.0f, v = 0.0f;     // texture coordinates
};

class Primitive {
public:
    int id = -1;      // the World's sequence number once added
    std::string name; // scene node name

    // Does the ray hit the object at all.
    virtual bool anyHit(const vmath::Ray &ray) const = 0;
    // Hit test that may narrow *t.
    virtual bool hitDistance(const vmath::Ray &ray, float *t) const = 0;
    // Nearest hit closer than *t; on success *t is the hit distance and info is filled.
    virtual bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const = 0;
    // World-space box around the object; the empty box by default.
    virtual Bounds3f worldBounds() const;
    virtual Material *getMaterial() const = 0;
    virtual void setMaterial(Material *) {}
    // Smallest and largest world coordinate along axis 0, 1 or 2; does nothing by default.
    virtual void axisRange(float *lo, float *hi, int axis) const;

protected:
    Primitive() = default;
    Primitive(const Primitive &) = default;
    Primitive &operator=(const Primitive &) = default;
    // Scene objects live until the process ends and are never deleted
    // through a base pointer.
    ~Primitive() = default;
};

// A shape with a material (not owned, may be null) and an object-to-world transform.
class GeoPrimitive : public Primitive {
public:
    Material *material = nullptr;
    Transform object2world;

    GeoPrimitive(const Transform &o2w, Material *mat) : material(mat), object2world(o2w) {}
    Material *getMaterial() const override { return material; }
    void setMaterial(Material *mat) override { material = mat; }

protected:
    ~GeoPrimitive() = default;
};
