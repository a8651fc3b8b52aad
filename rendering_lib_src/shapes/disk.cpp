#include "shapes/disk.h"

DiskShape::DiskShape(const Transform &object2world, Material *material, float radius, float hole)
    : PlacedShape(object2world, material), radius(radius), hole(hole) {}

std::unique_ptr<PlacedShape> DiskShape::placedCopy(const Transform &placement) const {
    return std::make_unique<DiskShape>(placement, nullptr, radius, hole);
}

bool DiskShape::objectHit(const vmath::Ray &ray, float tMax, ObjectHit *hit) const {
    // A ray in the plane of the disc sees no surface.
    if (ray.direction.z == 0.0f) return false;
    const float t = -ray.origin.z / ray.direction.z;
    if (!(t >= 0.0f && t < tMax)) return false;
    const float x = ray.origin.x + ray.direction.x * t;
    const float y = ray.origin.y + ray.direction.y * t;
    const float r2 = x * x + y * y;
    if (!(r2 <= radius * radius) || r2 < hole * hole) return false;
    hit->t = t;
    hit->normal = Vec3f(0.0f, 0.0f, 1.0f);
    hit->dpdu = Vec3f(1.0f, 0.0f, 0.0f);
    // The unit square laid over the disc, as a picture pinned to it.
    hit->u = 0.5f + x / (2.0f * radius);
    hit->v = 0.5f + y / (2.0f * radius);
    return true;
}

Bounds3f DiskShape::objectBounds() const {
    return Bounds3f(Point3f(-radius, -radius, 0.0f), Point3f(radius, radius, 0.0f));
}
