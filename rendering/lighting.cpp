// Direct light of one point-like light at a hit: Lambert diffuse and Phong
// specular terms with inverse-square fall-off and hard shadows.
#include <cmath>

#include "light.h"
#include "primitive.h"
#include "tracer.h"
#include "world.h"

namespace {

// What both terms need of one light at one hit.
struct LightAtHit {
    float d2;               // squared distance from the hit to the light
    Vec3f directionLight;   // unit direction toward the light
    Vec3f normalNormalized; // unit shading normal
};

// Fills `g` and returns true when nothing lies between the hit and the light.
// The shadow ray starts kRayOffset toward the light but may run the full
// distance, so it reaches just beyond the light.
bool unblocked(const World &world, const LocalLight &light, const IntersectInfo &info,
               LightAtHit &g) {
    const Point3f &P = info.position;
    const Point3f &Lp = light.getWorldPosition();
    const Vec3f distanceVector = P - Lp;
    g.d2 = distanceVector.x * distanceVector.x + distanceVector.y * distanceVector.y +
           distanceVector.z * distanceVector.z;

    const vmath::Ray shadowRay = offsetRay(P, Lp);
    const float L = vmath::length(Lp - P);
    IntersectInfo infoShadow;
    world.intersect(infoShadow, shadowRay, L);
    if (infoShadow.id != -1) return false;

    g.directionLight = vmath::normalized(Lp - P);
    g.normalNormalized = vmath::normalized(info.normal);
    return true;
}

} // namespace

vmath::Ray offsetRay(const Point3f &from, const Point3f &to) {
    const Vec3f dir = vmath::normalized(to - from);
    return vmath::Ray(from + kRayOffset * dir, dir);
}

Vec3f directDiffuse(const World &world, const LocalLight &light, const IntersectInfo &info) {
    const SurfaceTerms mat = surfaceTerms(info.material);
    const Vec3f colorDifuso = mat.Kd->evaluate(info);
    LightAtHit g;
    if (!unblocked(world, light, info, g)) return Vec3f(0.0f, 0.0f, 0.0f);

    float cosine = dot(g.normalNormalized, g.directionLight);
    if (!(cosine > 0.0f)) cosine = 0.0f;
    const float falloff = light.getIntensity() / g.d2;
    return Vec3f((colorDifuso.x * falloff) * cosine, (colorDifuso.y * falloff) * cosine,
                 (colorDifuso.z * falloff) * cosine);
}

Vec3f directSpecular(const World &world, const LocalLight &light, const IntersectInfo &info) {
    const SurfaceTerms mat = surfaceTerms(info.material);
    const Vec3f colorEspecular = mat.Ks->evaluate(info);
    const Vec3f directionNormalized = vmath::normalized(-info.ray.direction);
    LightAtHit g;
    if (!unblocked(world, light, info, g)) return Vec3f(0.0f, 0.0f, 0.0f);

    // Not clamped: a light behind the surface can still give a highlight.
    const float nl = dot(g.normalNormalized, g.directionLight);
    const Vec3f vectorInterm1 = nl * g.normalNormalized;
    const Vec3f vectorInterm2 = 2.0f * vectorInterm1;
    const Vec3f rVector = vmath::normalized(vectorInterm2 - g.directionLight);
    const float s = dot(rVector, directionNormalized);
    const float highlight = s > 0.0f ? powf(s, mat.shininess) : 0.0f;
    const float falloff = light.getIntensity() / g.d2;
    return Vec3f((colorEspecular.x * falloff) * highlight, (colorEspecular.y * falloff) * highlight,
                 (colorEspecular.z * falloff) * highlight);
}
