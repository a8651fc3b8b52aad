// Everything a ray can hit is a Primitive: spheres, meshes and the triangles
// of a mesh. IntersectInfo is the record a nearest-hit query fills.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "util/bounds.h"
#include "util/transform.h"
#include "util/vecmath.h"

class Material;
class TrianglePrimitive;

// A scene node's name held in one pointer: an empty name (the name of every
// mesh triangle) costs no string, which matters for meshes of millions of
// triangles. Reads like a std::string for what callers do with a name.
class NodeName {
public:
    NodeName() = default;
    NodeName(const std::string &s) { assign(s); }
    NodeName(const char *s) { assign(s ? std::string(s) : std::string()); }
    NodeName(const NodeName &other) { assign(other.str()); }
    NodeName &operator=(const NodeName &other) {
        if (this != &other) assign(other.str());
        return *this;
    }
    NodeName &operator=(const std::string &s) {
        assign(s);
        return *this;
    }
    NodeName &operator=(const char *s) {
        assign(s ? std::string(s) : std::string());
        return *this;
    }

    const std::string &str() const { return m_text ? *m_text : emptyString(); }
    operator const std::string &() const { return str(); }
    const char *c_str() const { return str().c_str(); }
    bool empty() const { return !m_text; }
    size_t size() const { return str().size(); }

    friend bool operator==(const NodeName &a, const NodeName &b) { return a.str() == b.str(); }
    friend bool operator==(const NodeName &a, const std::string &b) { return a.str() == b; }
    friend bool operator==(const NodeName &a, const char *b) { return a.str() == b; }
    friend bool operator!=(const NodeName &a, const std::string &b) { return !(a == b); }
    friend bool operator!=(const NodeName &a, const char *b) { return !(a == b); }
    friend std::ostream &operator<<(std::ostream &out, const NodeName &n) { return out << n.str(); }

private:
    static const std::string &emptyString() {
        static const std::string empty;
        return empty;
    }
    void assign(const std::string &s) {
        m_text = s.empty() ? nullptr : std::make_unique<std::string>(s);
    }
    std::unique_ptr<std::string> m_text;
};

struct IntersectInfo {
    int id = -1;                  // -1: nothing hit; for a triangle, its mesh's id
    Material *material = nullptr; // may be null
    Point3f position;             // world-space hit point
    Vec3f normal;                 // world-space shading normal, unit length
    Vec3f tangent;                // world-space tangent
    vmath::Ray ray;               // copy of the query ray (written by the World)
    float u = 0.0f, v = 0.0f;     // texture coordinates
};

class Primitive {
public:
    // The name comes first so that a derived class's first small field can
    // sit in the padding after id: a triangle is an object per triangle.
    NodeName name;    // scene node name
    int id = -1;      // the World's sequence number once added

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
    // The mesh triangle this primitive is, or null: an accelerator keeps
    // triangles in records of its own and asks every other primitive
    // through its virtual test.
    virtual const TrianglePrimitive *meshTriangle() const { return nullptr; }

protected:
    Primitive() = default;
    Primitive(const Primitive &) = default;
    Primitive &operator=(const Primitive &) = default;

public:
    // The World deletes the shapes it owns through this base.
    virtual ~Primitive() = default;
};

// A shape with a material (not owned, may be null) and an object-to-world transform.
class GeoPrimitive : public Primitive {
public:
    Material *material = nullptr;
    Transform object2world;

    GeoPrimitive(const Transform &o2w, Material *mat) : material(mat), object2world(o2w) {}
    Material *getMaterial() const override { return material; }
    void setMaterial(Material *mat) override { material = mat; }
};
