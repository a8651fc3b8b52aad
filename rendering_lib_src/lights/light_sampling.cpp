#include "lights/light_sampling.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kTwoPi = 6.28318531f;

Vec3f scaled(const Vec3f &v, float s) { return Vec3f(v.x * s, v.y * s, v.z * s); }
Point3f offset(const Point3f &p, const Vec3f &v) { return Point3f(p.x + v.x, p.y + v.y, p.z + v.z); }

// What a point q of the surface, whose normal n (unit) points to the side
// that gives off light, sampled with the area density `density`, gives the
// shading point p.
bool fromAreaSample(const LightSurface &s, const Point3f &p, const Point3f &q, const Vec3f &n,
                    float density, LightSample *out) {
    const Vec3f d = q - p;
    const float d2 = vmath::dot(d, d);
    if (!(d2 > 0.0f) || !(density > 0.0f)) return false;
    const float dist = std::sqrt(d2);
    const Vec3f dir = scaled(d, 1.0f / dist);
    float cosLight = -vmath::dot(n, dir);
    if (s.twoSided) cosLight = std::fabs(cosLight);
    if (!(cosLight > 0.0f)) return false;
    out->direction = dir;
    out->distance = dist;
    out->irradiance = scaled(s.radiance, cosLight / (d2 * density));
    return true;
}

// The triangle the number w falls on, by area; w is rescaled to [0, 1)
// within it.
size_t pickTriangle(const LightSurface &s, float *w) {
    const float total = s.cumulative.back();
    const float target = *w * total;
    size_t k = static_cast<size_t>(
        std::upper_bound(s.cumulative.begin(), s.cumulative.end(), target) - s.cumulative.begin());
    if (k >= s.cumulative.size()) k = s.cumulative.size() - 1;
    return k;
}

// Moller-Trumbore, both faces; the distance and the triangle's normal.
bool hitTriangle(const vmath::Ray &ray, const Point3f &a, const Point3f &b, const Point3f &c,
                 float *t) {
    const Vec3f e1 = b - a, e2 = c - a;
    const Vec3f pv = vmath::cross(ray.direction, e2);
    const float det = vmath::dot(pv, e1);
    if (det == 0.0f) return false;
    const float inv = 1.0f / det;
    const Vec3f tv = ray.origin - a;
    const float u = vmath::dot(tv, pv) * inv;
    if (!(u >= 0.0f && u <= 1.0f)) return false;
    const Vec3f qv = vmath::cross(tv, e1);
    const float v = vmath::dot(ray.direction, qv) * inv;
    if (!(v >= 0.0f && u + v <= 1.0f)) return false;
    const float th = vmath::dot(e2, qv) * inv;
    if (!(th > 0.0f && th < *t)) return false;
    *t = th;
    return true;
}

} // namespace

bool finishTriangleSurface(LightSurface &s) {
    s.cumulative.clear();
    float sum = 0.0f;
    for (size_t i = 0; i + 2 < s.triangles.size(); i += 3) {
        const Vec3f c = vmath::cross(s.triangles[i + 1] - s.triangles[i],
                                     s.triangles[i + 2] - s.triangles[i]);
        const float a = 0.5f * vmath::length(c);
        sum += std::isfinite(a) ? a : 0.0f;
        s.cumulative.push_back(sum);
    }
    s.area = sum;
    return sum > 0.0f;
}

bool sampleLightSurface(const LightSurface &s, const Point3f &p, float u, float v, float w,
                        LightSample *out) {
    switch (s.kind) {
    case LightSurface::Kind::Sphere: {
        // Directions within the cone the sphere fills, uniformly: density
        // 1 / solid angle.
        const Vec3f toCentre = s.centre - p;
        const float d2 = vmath::dot(toCentre, toCentre);
        const float r2 = s.radius * s.radius;
        if (!(d2 > r2)) return false; // inside the light
        const float dist = std::sqrt(d2);
        const Vec3f axis = scaled(toCentre, 1.0f / dist);
        const float cosMax = std::sqrt(1.0f - r2 / d2);
        const float cosTheta = 1.0f - u * (1.0f - cosMax);
        const float sinTheta = std::sqrt(std::max(0.0f, 1.0f - cosTheta * cosTheta));
        const float phi = kTwoPi * v;
        Vec3f e1 = std::fabs(axis.x) > 0.5f ? vmath::cross(axis, Vec3f(0, 1, 0))
                                            : vmath::cross(axis, Vec3f(1, 0, 0));
        e1 = vmath::normalized(e1);
        const Vec3f e2 = vmath::cross(axis, e1);
        const Vec3f dir = vmath::normalized(scaled(axis, cosTheta) +
                                            scaled(e1, sinTheta * std::cos(phi)) +
                                            scaled(e2, sinTheta * std::sin(phi)));
        // The near side of the sphere along dir.
        const float b = vmath::dot(dir, toCentre);
        const float disc = std::max(0.0f, b * b - (d2 - r2));
        out->direction = dir;
        out->distance = b - std::sqrt(disc);
        out->irradiance = scaled(s.radiance, kTwoPi * (1.0f - cosMax));
        return out->distance > 0.0f;
    }
    case LightSurface::Kind::Disc:
    case LightSurface::Kind::Disk: {
        // Uniform by area: the square root spreads the radii evenly.
        const float r = std::sqrt(u), phi = kTwoPi * v;
        const Point3f q =
            offset(offset(s.centre, scaled(s.axisU, r * std::cos(phi))), scaled(s.axisV, r * std::sin(phi)));
        return fromAreaSample(s, p, q, s.normal, 1.0f / s.area, out);
    }
    case LightSurface::Kind::Cylinder: {
        const float phi = kTwoPi * v;
        const Vec3f radial = scaled(s.axisU, std::cos(phi)) + scaled(s.axisV, std::sin(phi));
        const Point3f q = offset(offset(s.centre, scaled(s.axis, u)), radial);
        // The side gives off light outward.
        return fromAreaSample(s, p, q, vmath::normalized(radial), 1.0f / s.area, out);
    }
    case LightSurface::Kind::Quad:
    case LightSurface::Kind::Mesh: {
        if (s.cumulative.empty()) return false;
        const size_t k = pickTriangle(s, &w);
        const Point3f &a = s.triangles[3 * k], &b = s.triangles[3 * k + 1],
                      &c = s.triangles[3 * k + 2];
        // Uniform in the triangle.
        const float su = std::sqrt(u);
        const float b1 = 1.0f - su, b2 = v * su;
        const Point3f q = offset(offset(a, scaled(b - a, 1.0f - b1 - b2)), scaled(c - a, b2));
        Vec3f n = vmath::normalized(vmath::cross(b - a, c - a));
        // A quad gives off light on the side its normal says.
        if (s.kind == LightSurface::Kind::Quad && vmath::dot(n, s.normal) < 0.0f) n = scaled(n, -1.0f);
        return fromAreaSample(s, p, q, n, 1.0f / s.area, out);
    }
    }
    return false;
}

bool hitLightSurface(const LightSurface &s, const vmath::Ray &ray, float *t) {
    switch (s.kind) {
    case LightSurface::Kind::Disc:
    case LightSurface::Kind::Disk: {
        const float facing = vmath::dot(ray.direction, s.normal);
        // Seen from the front only: the ray runs against the normal.
        if (!(facing < 0.0f)) return false;
        const float th = vmath::dot(s.centre - ray.origin, s.normal) / facing;
        if (!(th > 0.0f && th < *t)) return false;
        const Point3f q = offset(ray.origin, scaled(ray.direction, th));
        const Vec3f d = q - s.centre;
        const float ru = vmath::dot(d, s.axisU) / vmath::dot(s.axisU, s.axisU);
        const float rv = vmath::dot(d, s.axisV) / vmath::dot(s.axisV, s.axisV);
        if (!(ru * ru + rv * rv <= 1.0f)) return false;
        *t = th;
        return true;
    }
    case LightSurface::Kind::Quad: {
        if (!(vmath::dot(ray.direction, s.normal) < 0.0f)) return false;
        bool hit = false;
        for (size_t i = 0; i + 2 < s.triangles.size(); i += 3)
            hit |= hitTriangle(ray, s.triangles[i], s.triangles[i + 1], s.triangles[i + 2], t);
        return hit;
    }
    case LightSurface::Kind::Cylinder: {
        // The side only: the distance to the axis equals the radius.
        const Vec3f axisDir = vmath::normalized(s.axis);
        const float h = vmath::length(s.axis);
        const float r = vmath::length(s.axisU);
        const Vec3f oc = ray.origin - s.centre;
        const Vec3f dPerp = ray.direction - scaled(axisDir, vmath::dot(ray.direction, axisDir));
        const Vec3f oPerp = oc - scaled(axisDir, vmath::dot(oc, axisDir));
        const float a = vmath::dot(dPerp, dPerp), b = vmath::dot(oPerp, dPerp),
                    c = vmath::dot(oPerp, oPerp) - r * r;
        const float disc = b * b - a * c;
        if (!(a > 0.0f) || !(disc >= 0.0f)) return false;
        const float th = (-b - std::sqrt(disc)) / a; // the outside, entering
        if (!(th > 0.0f && th < *t)) return false;
        const float along = vmath::dot(offset(ray.origin, scaled(ray.direction, th)) - s.centre, axisDir);
        if (!(along >= 0.0f && along <= h)) return false;
        *t = th;
        return true;
    }
    case LightSurface::Kind::Sphere:
    case LightSurface::Kind::Mesh:
        break;
    }
    return false;
}

namespace {

// A direction through the forward matrix (no translation).
Vec3f direction(const Transform &t, const Vec3f &v) {
    return t(Point3f(v.x, v.y, v.z)) - t(Point3f(0.0f, 0.0f, 0.0f));
}

// Two axes across `normal` (unit), each `radius` long.
void radialAxes(const Vec3f &normal, float radius, Vec3f *u, Vec3f *v) {
    const Vec3f e1 = vmath::normalized(std::fabs(normal.x) > 0.5f
                                           ? vmath::cross(normal, Vec3f(0, 1, 0))
                                           : vmath::cross(normal, Vec3f(1, 0, 0)));
    *u = scaled(e1, radius);
    *v = scaled(vmath::cross(normal, e1), radius);
}

} // namespace

LightSurface sphereSurface(const Transform &l2w, float radius) {
    LightSurface s;
    s.kind = LightSurface::Kind::Sphere;
    s.centre = l2w(Point3f(0.0f, 0.0f, 0.0f));
    s.radius = radius;
    s.area = 4.0f * kPi * radius * radius;
    return s;
}

LightSurface discSurface(const Transform &l2w, float radius) {
    LightSurface s;
    s.kind = LightSurface::Kind::Disc;
    s.centre = l2w(Point3f(0.0f, 0.0f, 0.0f));
    s.normal = vmath::normalized(direction(l2w, Vec3f(0.0f, 0.0f, -1.0f)));
    radialAxes(s.normal, radius, &s.axisU, &s.axisV);
    s.area = kPi * radius * radius;
    return s;
}

LightSurface diskSurface(const Transform &l2w, float radius) {
    LightSurface s;
    s.kind = LightSurface::Kind::Disk;
    s.centre = l2w(Point3f(0.0f, 0.0f, 0.0f));
    // The disk in its xy plane, scaled by the matrix like the rest.
    s.axisU = direction(l2w, Vec3f(radius, 0.0f, 0.0f));
    s.axisV = direction(l2w, Vec3f(0.0f, radius, 0.0f));
    s.normal = vmath::normalized(direction(l2w, Vec3f(0.0f, 0.0f, -1.0f)));
    s.area = kPi * vmath::length(vmath::cross(s.axisU, s.axisV));
    return s;
}

LightSurface quadSurface(const Transform &l2w, const Point3f corners[4]) {
    LightSurface s;
    s.kind = LightSurface::Kind::Quad;
    Point3f w[4];
    for (int i = 0; i < 4; ++i) w[i] = l2w(corners[i]);
    s.triangles = {w[0], w[1], w[2], w[0], w[2], w[3]};
    s.normal = vmath::normalized(direction(l2w, Vec3f(0.0f, 0.0f, -1.0f)));
    finishTriangleSurface(s);
    return s;
}

LightSurface cylinderSurface(const Transform &l2w, const Point3f &bottom, const Point3f &top,
                             float radius) {
    LightSurface s;
    s.kind = LightSurface::Kind::Cylinder;
    s.centre = l2w(bottom);
    s.axis = l2w(top) - s.centre;
    // The radius scaled as the matrix scales a direction across the axis.
    Vec3f across, other;
    radialAxes(vmath::normalized(top - bottom), 1.0f, &across, &other);
    const float scale = vmath::length(direction(l2w, across));
    radialAxes(vmath::normalized(s.axis), radius * scale, &s.axisU, &s.axisV);
    s.area = kTwoPi * radius * scale * vmath::length(s.axis);
    return s;
}
