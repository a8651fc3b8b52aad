// A closed cone frustum in object space: its axis runs from `bottom` to
// `top`, its radius changes linearly from bottomRadius to topRadius, and a
// flat cap closes each end of non-zero radius. Equal radii make a cylinder.
#pragma once

#include "shapes/placed_shape.h"

class ConeShape final : public PlacedShape {
public:
    Point3f bottom, top;            // object space, distinct
    float bottomRadius, topRadius; // >= 0, not both 0

    ConeShape(const Transform &object2world, Material *material, const Point3f &bottom,
              const Point3f &top, float bottomRadius, float topRadius);
    std::unique_ptr<PlacedShape> placedCopy(const Transform &object2world) const override;

protected:
    bool objectHit(const vmath::Ray &ray, float tMax, ObjectHit *hit) const override;
    Bounds3f objectBounds() const override;

private:
    // The axis frame: unit vectors m_u, m_v across the axis and m_w along
    // it, and the axis length. The cone is tested in this frame, where its
    // axis is z from 0 to m_length.
    Vec3f m_u, m_v, m_w;
    float m_length;
    float m_slope; // change of radius per unit of length
};
