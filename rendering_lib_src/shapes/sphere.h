// Analytic sphere in world space: the matrix moves the centre, its scale
// does not change the radius.
#pragma once

#include "shapes/primitive.h"

class SpherePrimitive final : public GeoPrimitive {
public:
    Point3f center; // world space
    float radius;

    SpherePrimitive(const Transform &object2world, Material *material, const Point3f &center,
                    float radius);

    bool anyHit(const vmath::Ray &ray) const override;
    bool hitDistance(const vmath::Ray &ray, float *t) const override;
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    // The sphere's real box: centre +- radius on each axis.
    Bounds3f worldBounds() const override;
};
