// An axis-aligned box in object space, between two corners; the matrix
// places, turns, scales or shears it.
#pragma once

#include "shapes/placed_shape.h"

class BoxShape final : public PlacedShape {
public:
    Point3f lo, hi; // object space, lo <= hi on every axis

    BoxShape(const Transform &object2world, Material *material, const Point3f &lo,
             const Point3f &hi);
    std::unique_ptr<PlacedShape> placedCopy(const Transform &object2world) const override;

protected:
    bool objectHit(const vmath::Ray &ray, float tMax, ObjectHit *hit) const override;
    Bounds3f objectBounds() const override { return Bounds3f(lo, hi); }
};
