// Axis-aligned box: the world-space bounds of primitives and the working
// type of the kd-tree. The default box is empty (lower corner at the largest
// float, upper corner at the lowest) and leaves any box unchanged under union.
#pragma once

#include "util/vecmath.h"

template <typename T> struct Bounds3;

template <> struct Bounds3<float> {
    Point3f pMin{vmath::kMaxFloat, vmath::kMaxFloat, vmath::kMaxFloat};
    Point3f pMax{-vmath::kMaxFloat, -vmath::kMaxFloat, -vmath::kMaxFloat};

    Bounds3() = default;
    // Corners reordered component-wise, so any two points span a valid box.
    Bounds3(const Point3f &a, const Point3f &b);

    Vec3f diagonal() const { return pMax - pMin; }
    // 0, 1 or 2; ties go to the later axis.
    int maximumExtent() const;
    // 2 (dx dy + dx dz + dy dz).
    float surfaceArea() const;
    // Slab test over [0, ray.maxDist], far distances widened against rounding.
    // Writes the entry and exit distances (either pointer may be null) on a hit.
    bool intersectP(const vmath::Ray &ray, float *hitT0, float *hitT1) const;
};

using Bounds3f = Bounds3<float>;

// Union of two boxes, through the two-corner constructor (so the union of
// two empty boxes spans the whole float range).
Bounds3f unionOf(const Bounds3f &b1, const Bounds3f &b2);
// Grows box in place so that it contains p.
void growBy(Bounds3f &box, const Point3f &p);
