#include "lights/light.h"

#include <cmath>

namespace {

// The -z axis of a transform, as a unit world direction.
Vec3f minusZAxis(const Transform &t) {
    const Point3f origin = t(Point3f(0.0f, 0.0f, 0.0f));
    return vmath::normalized(t(Point3f(0.0f, 0.0f, -1.0f)) - origin);
}

} // namespace

namespace {
// A strength beyond the float range stays the largest float (so a black
// surface stays black rather than 0 x inf), and a NaN one is no light.
float finiteStrength(float v) {
    if (std::isnan(v)) return 0.0f;
    const float big = 3.4028235e38f;
    return v > big ? big : (v < -big ? -big : v);
}
} // namespace

Vec3f Light::strengthOf(const Vec3f &color, float intensity, float exposure) {
    const float scale = std::exp2(exposure);
    return Vec3f(finiteStrength((color.x * intensity) * scale),
                 finiteStrength((color.y * intensity) * scale),
                 finiteStrength((color.z * intensity) * scale));
}

void LocalLight::makeSpot(float coneAngle, float penumbraAngle) {
    constexpr float kDegrees = 3.14159265358979f / 180.0f;
    shape = LightShape::Spot;
    worldAxis = minusZAxis(light2world);
    const float half = 0.5f * coneAngle;
    float inner = half - penumbraAngle;
    if (inner < 0.0f) inner = 0.0f;
    cosOuter = std::cos(half * kDegrees);
    cosInner = std::cos(inner * kDegrees);
}

void LocalLight::makeDistant() {
    shape = LightShape::Distant;
    worldAxis = minusZAxis(light2world);
}

void LocalLight::place(const Transform &l2w) {
    light2world = l2w;
    worldPosition = light2world(position);
    if (shape != LightShape::Point) worldAxis = minusZAxis(light2world);
}

float LightDecay::factor(float d) const {
    float f = 1.0f;
    if (useNear && d < nearEnd)
        f = d <= nearStart ? 0.0f : (d - nearStart) / (nearEnd - nearStart);
    if (useFar && d > farStart)
        f *= d >= farEnd ? 0.0f : (farEnd - d) / (farEnd - farStart);
    return f;
}

Vec3f Light::incidentLight(const Point3f &, Vec3f *, float *, vmath::Ray *) const {
    return Vec3f(-1.0f, -1.0f, -1.0f);
}

LocalLight::LocalLight(const Transform &light2world, const Vec3f &color, float intensity,
                       const Point3f &position)
    : Light(color, intensity), position(position), light2world(light2world),
      worldPosition(light2world(position)), m_emitted(strength()) {}

Vec3f PointLight::incidentLight(const Point3f &p, Vec3f *wi, float *pdf,
                                vmath::Ray *shadowRay) const {
    // Callers may leave out the outputs they do not need.
    Vec3f localWi;
    float localPdf;
    vmath::Ray localRay;
    if (!wi) wi = &localWi;
    if (!pdf) pdf = &localPdf;
    if (!shadowRay) shadowRay = &localRay;

    *wi = worldPosition - p;
    const float d = vmath::normalize(*wi);
    *shadowRay = vmath::Ray(p, *wi, d);
    *pdf = 1.0f;
    // Inverse-square fall-off only; at d = 0 the colour is infinite or NaN.
    return color * (intensity / (d * d));
}

Vec3f AreaLight::incidentLight(const Point3f &, Vec3f *, float *, vmath::Ray *) const {
    return Vec3f(0.0f, 0.0f, 0.0f);
}
