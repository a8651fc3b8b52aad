// Analytic shapes defined in their own object space and placed in the world
// by a general affine matrix: rays are taken into object space (direction
// not renormalised, so hit distances are the same in both spaces), tested
// there, and the hit comes back as a world-space record.
#pragma once

#include <memory>

#include "shapes/primitive.h"

// A hit found in object space.
struct ObjectHit {
    float t = 0.0f;
    Vec3f normal; // outward, object space, any length but not zero
    Vec3f dpdu;   // direction of growing u, object space
    float u = 0.0f, v = 0.0f;
};

class PlacedShape : public GeoPrimitive {
public:
    PlacedShape(const Transform &object2world, Material *material)
        : GeoPrimitive(object2world, material) {}

    bool anyHit(const vmath::Ray &ray) const override;
    bool hitDistance(const vmath::Ray &ray, float *t) const override;
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    // The object-space box carried through the matrix (its eight corners).
    Bounds3f worldBounds() const override;
    void axisRange(float *lo, float *hi, int axis) const override;

    // The same shape placed by another matrix (an instance of it); no
    // material, no name.
    virtual std::unique_ptr<PlacedShape> placedCopy(const Transform &object2world) const = 0;

protected:
    // Nearest hit of the object-space ray with 0 <= t < tMax. A root of
    // exactly 0 counts: callers move secondary rays off the surface.
    virtual bool objectHit(const vmath::Ray &ray, float tMax, ObjectHit *hit) const = 0;
    virtual Bounds3f objectBounds() const = 0;
};
