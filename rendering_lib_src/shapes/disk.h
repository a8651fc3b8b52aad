// A flat disc in the object's z = 0 plane, centred on the origin and facing
// +z, with an optional round hole in the middle.
#pragma once

#include "shapes/placed_shape.h"

class DiskShape final : public PlacedShape {
public:
    float radius; // > 0
    float hole;   // 0 <= hole < radius

    DiskShape(const Transform &object2world, Material *material, float radius, float hole);
    std::unique_ptr<PlacedShape> placedCopy(const Transform &object2world) const override;

protected:
    bool objectHit(const vmath::Ray &ray, float tMax, ObjectHit *hit) const override;
    Bounds3f objectBounds() const override;
};
