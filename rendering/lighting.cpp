// Direct light of one point-like light at a hit: Lambert diffuse and Phong
// specular terms with inverse-square fall-off and hard shadows.
#include <cmath>

#include "light.h"
#include "primitive.h"
#include "tracer.h"
#include "world.h"

namespace {

float squaredDistance(const Vec3f &v) { return v.x * v.x + v.y * v.y + v.z * v.z; }

// True when anything lies between P and the light. The shadow ray starts
// kRayOffset toward the light but may run the full distance, so it reaches
// just beyond the light.
bool blocked(const World &world, const Point3f &P, const Point3f &Lp) {
    const vmath::Ray shadowRay = offsetRay(P, Lp);
    const Vec3f direction = Lp - P;
    const float L = vmath::length(direction);
    IntersectInfo infoShadow;
    world.intersect(infoShadow, shadowRay, L);
    return infoShadow.id != -1;
}

} // namespace

vmath::Ray offsetRay(const Point3f &from, const Point3f &to) {
    const Vec3f dir = vmath::normalized(to - from);
    return vmath::Ray(from + kRayOffset * dir, dir);
}

Vec3f directDiffuse(const World &world, const LocalLight &light, const IntersectInfo &info) {
    const SurfaceTerms mat = surfaceTerms(info.material);
    const Vec3f colorDifuso = mat.Kd->evaluate(info);
    const Point3f &P = info.position;
    const Point3f &Lp = light.getWorldPosition();
    const float d2 = squaredDistance(P - Lp);
    if (blocked(world, P, Lp)) return Vec3f(0.0f, 0.0f, 0.0f);

    const Vec3f directionLight = vmath::normalized(Lp - P);
    const Vec3f normalNormalized = vmath::normalized(info.normal);
    float cosine = dot(normalNormalized, directionLight);
    if (!(cosine > 0.0f)) cosine = 0.0f;
    const float falloff = light.getIntensity() / d2;
    return Vec3f((colorDifuso.x * falloff) * cosine, (colorDifuso.y * falloff) * cosine,
                 (colorDifuso.z * falloff) * cosine);
}

Vec3f directSpecular(const World &world, const LocalLight &light, const IntersectInfo &info) {
    const SurfaceTerms mat = surfaceTerms(info.material);
    const Vec3f colorEspecular = mat.Ks->evaluate(info);
    const Vec3f directionNormalized = vmath::normalized(-info.ray.direction);
    const Point3f &P = info.position;
    const Point3f &Lp = light.getWorldPosition();
    const float d2 = squaredDistance(P - Lp);
    if (blocked(world, P, Lp)) return Vec3f(0.0f, 0.0f, 0.0f);

    const Vec3f directionLight = vmath::normalized(Lp - P);
    const Vec3f normalNormalized = vmath::normalized(info.normal);
    // Not clamped: a light behind the surface can still give a highlight.
    const float nl = dot(normalNormalized, directionLight);
    const Vec3f vectorInterm1 = nl * normalNormalized;
    const Vec3f vectorInterm2 = 2.0f * vectorInterm1;
    const Vec3f rVector = vmath::normalized(vectorInterm2 - directionLight);
    const float s = dot(rVector, directionNormalized);
    const float highlight = s > 0.0f ? powf(s, mat.shininess) : 0.0f;
    const float falloff = light.getIntensity() / d2;
    return Vec3f((colorEspecular.x * falloff) * highlight, (colorEspecular.y * falloff) * highlight,
                 (colorEspecular.z * falloff) * highlight);
}
