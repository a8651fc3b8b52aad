#include "shapes/sphere.h"

#include <cmath>

namespace {

// 2 pi and pi as the float values the texture coordinates are divided by.
constexpr double kTwoPiAsFloat = 6.2831854820251465;
constexpr float kPi = 3.1415927f;

// Distance of the nearest root at or in front of the ray origin. Returns
// false when the sphere is missed or lies entirely behind the origin.
bool nearestRoot(const vmath::Ray &ray, const Point3f &center, float radius, float *tHit) {
    const Vec3f offset = ray.origin - center;
    const Vec3f &d = ray.direction;
    const float a = vmath::dot(d, d);
    const float b = vmath::dot(offset, d);
    const float k = vmath::dot(offset, offset) - radius * radius;
    const float disc = b * b - a * k;

    if (disc < 0.0f) return false;
    if (disc > 0.0f) {
        const float s = std::sqrt(disc);
        const float invA = 1.0f / a;
        const float t0 = (-b - s) * invA;
        const float t1 = (-b + s) * invA;
        if (t0 >= 0.0f) {
            *tHit = t1 < t0 ? t1 : t0;
            return true;
        }
        // The origin is inside the sphere: the exit point is the hit.
        if (t1 >= 0.0f) {
            *tHit = t1;
            return true;
        }
        return false;
    }
    // disc is exactly 0 (tangent ray) or NaN. A zero direction gives 0/0:
    // the NaN root fails the comparison, so such a ray never hits.
    const float t0 = -b / a;
    if (!(t0 >= 0.0f)) return false;
    *tHit = t0;
    return true;
}

} // namespace

SpherePrimitive::SpherePrimitive(const Transform &object2world, Material *material,
                                 const Point3f &center, float radius)
    : GeoPrimitive(object2world, material), center(object2world(center)), radius(radius) {}

bool SpherePrimitive::anyHit(const vmath::Ray &ray) const {
    float t = ray.maxDist;
    return hitDistance(ray, &t);
}

bool SpherePrimitive::hitDistance(const vmath::Ray &ray, float *t) const {
    IntersectInfo scratch;
    return intersect(ray, t, &scratch);
}

bool SpherePrimitive::intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const {
    float tHit;
    if (!nearestRoot(ray, center, radius, &tHit)) return false;
    // Strict: a hit exactly at the caller's bound is rejected.
    if (!(tHit < *t)) return false;

    *t = tHit;
    info->material = material;
    info->position = ray.origin + ray.direction * tHit;
    info->normal = info->position - center;
    // At the top pole the normal is parallel to +y; switching the up vector
    // there keeps the tangent non-zero for a unit sphere.
    const Vec3f up = info->normal == Vec3f(0.0f, 1.0f, 0.0f) ? Vec3f(1.0f, 0.0f, 0.0f)
                                                           : Vec3f(0.0f, 1.0f, 0.0f);
    info->tangent = vmath::cross(info->normal, up);
    vmath::normalize(info->normal);

    const Vec3f &n = info->normal;
    // u: arctangent in float, division and offset in double. v: arcsine and
    // division in float, offset in double. Both stored as float.
    info->u = static_cast<float>(static_cast<double>(std::atan2(n.x, n.z)) / kTwoPiAsFloat + 0.5);
    info->v = static_cast<float>(static_cast<double>(std::asin(n.y) / kPi) + 0.5);
    info->id = id;
    return true;
}

Bounds3f SpherePrimitive::worldBounds() const {
    const Vec3f r(radius, radius, radius);
    return Bounds3f(center - r, center + r);
}
