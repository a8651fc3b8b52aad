#include "light.h"

Vec3f Light::incidentLight(const Point3f &, Vec3f *, float *, vmath::Ray *) const {
    return Vec3f(-1.0f, -1.0f, -1.0f);
}

LocalLight::LocalLight(const Transform &light2world, const Vec3f &color, float intensity,
                       const Point3f &position)
    : Light(color, intensity), position(position), light2world(light2world),
      worldPosition(light2world(position)) {}

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
