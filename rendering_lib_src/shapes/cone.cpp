#include "shapes/cone.h"

#include <cmath>

namespace {

constexpr float kTwoPi = 6.2831855f;

// The nearer of two candidate hits: keeps (t, which) when t is in
// [0, best) and returns whether it did.
bool keepNearer(float t, int which, float *best, int *bestWhich) {
    if (!(t >= 0.0f && t < *best)) return false;
    *best = t;
    *bestWhich = which;
    return true;
}

enum Surface { kNone = -1, kSide = 0, kBottomCap = 1, kTopCap = 2 };

} // namespace

ConeShape::ConeShape(const Transform &object2world, Material *material, const Point3f &bottom,
                     const Point3f &top, float bottomRadius, float topRadius)
    : PlacedShape(object2world, material), bottom(bottom), top(top), bottomRadius(bottomRadius),
      topRadius(topRadius) {
    const Vec3f axis = top - bottom;
    m_length = vmath::length(axis);
    m_w = axis / m_length;
    // Any unit vector across the axis; the helper axis is the one least
    // aligned with it, so the cross product is well away from zero.
    const Vec3f helper =
        std::fabs(m_w.x) < 0.9f ? Vec3f(1.0f, 0.0f, 0.0f) : Vec3f(0.0f, 1.0f, 0.0f);
    m_u = vmath::normalized(vmath::cross(helper, m_w));
    m_v = vmath::cross(m_w, m_u);
    m_slope = (topRadius - bottomRadius) / m_length;
}

std::unique_ptr<PlacedShape> ConeShape::placedCopy(const Transform &placement) const {
    return std::make_unique<ConeShape>(placement, nullptr, bottom, top, bottomRadius, topRadius);
}

bool ConeShape::objectHit(const vmath::Ray &ray, float tMax, ObjectHit *hit) const {
    // The ray in the axis frame.
    const Vec3f rel = ray.origin - bottom;
    const Vec3f o(vmath::dot(rel, m_u), vmath::dot(rel, m_v), vmath::dot(rel, m_w));
    const Vec3f d(vmath::dot(ray.direction, m_u), vmath::dot(ray.direction, m_v),
                  vmath::dot(ray.direction, m_w));
    const float k = m_slope;

    float best = tMax;
    int surface = kNone;

    // Side: x^2 + y^2 = r(z)^2 with r(z) = r0 + k z, as a t^2 + 2 b t + c = 0.
    const float rAtOrigin = bottomRadius + k * o.z;
    const float a = d.x * d.x + d.y * d.y - k * k * d.z * d.z;
    const float b = o.x * d.x + o.y * d.y - k * d.z * rAtOrigin;
    const float c = o.x * o.x + o.y * o.y - rAtOrigin * rAtOrigin;
    float roots[2];
    int numRoots = 0;
    if (a != 0.0f) {
        const float disc = b * b - a * c;
        if (disc >= 0.0f) {
            // The stable pair: no cancellation between b and the root.
            const float q = -(b + std::copysign(std::sqrt(disc), b));
            roots[numRoots++] = q / a;
            if (q != 0.0f) roots[numRoots++] = c / q;
        }
    } else if (b != 0.0f) {
        // A ray parallel to a line of the cone meets it once.
        roots[numRoots++] = -c / (2.0f * b);
    }
    for (int i = 0; i < numRoots; ++i) {
        const float z = o.z + d.z * roots[i];
        // Only the stretch between the ends; r(z) >= 0 there, so the second
        // sheet of the double cone is never on it.
        if (z >= 0.0f && z <= m_length) keepNearer(roots[i], kSide, &best, &surface);
    }

    // Caps: the planes z = 0 and z = length, within their radius.
    if (d.z != 0.0f) {
        const float ends[2] = {0.0f, m_length};
        const float radii[2] = {bottomRadius, topRadius};
        for (int end = 0; end < 2; ++end) {
            if (!(radii[end] > 0.0f)) continue;
            const float t = (ends[end] - o.z) / d.z;
            const float x = o.x + d.x * t, y = o.y + d.y * t;
            if (x * x + y * y <= radii[end] * radii[end])
                keepNearer(t, end == 0 ? kBottomCap : kTopCap, &best, &surface);
        }
    }
    if (surface == kNone) return false;

    const float t = best;
    const float x = o.x + d.x * t, y = o.y + d.y * t;
    Vec3f n, dpdu;
    if (surface == kSide) {
        const float z = o.z + d.z * t;
        // The gradient of x^2 + y^2 - r(z)^2, halved.
        n = Vec3f(x, y, -k * (bottomRadius + k * z));
        // At the apex the gradient vanishes; the axis points out there.
        if (n == Vec3f()) n = Vec3f(0.0f, 0.0f, k < 0.0f ? 1.0f : -1.0f);
        dpdu = Vec3f(-y, x, 0.0f);
        float angle = std::atan2(y, x) / kTwoPi;
        if (angle < 0.0f) angle += 1.0f;
        hit->u = angle;
        hit->v = z / m_length;
    } else {
        const float r = surface == kBottomCap ? bottomRadius : topRadius;
        n = Vec3f(0.0f, 0.0f, surface == kBottomCap ? -1.0f : 1.0f);
        dpdu = Vec3f(1.0f, 0.0f, 0.0f);
        hit->u = 0.5f + x / (2.0f * r);
        hit->v = 0.5f + y / (2.0f * r);
    }
    hit->t = t;
    // Back from the axis frame to object space (the frame is orthonormal,
    // so normals go as vectors do).
    hit->normal = m_u * n.x + m_v * n.y + m_w * n.z;
    hit->dpdu = m_u * dpdu.x + m_v * dpdu.y + m_w * dpdu.z;
    return true;
}

Bounds3f ConeShape::objectBounds() const {
    // Each end is a disc across the axis; its extent along object axis i
    // is r sqrt(1 - w_i^2).
    Bounds3f box;
    const Point3f ends[2] = {bottom, top};
    const float radii[2] = {bottomRadius, topRadius};
    for (int end = 0; end < 2; ++end) {
        Vec3f reach;
        for (int i = 0; i < 3; ++i) {
            const float across = 1.0f - m_w[i] * m_w[i];
            reach[i] = radii[end] * std::sqrt(across > 0.0f ? across : 0.0f);
        }
        growBy(box, ends[end] - reach);
        growBy(box, ends[end] + reach);
    }
    return box;
}
