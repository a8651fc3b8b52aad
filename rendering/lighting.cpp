// Direct light of one light at a hit: point-like lights fall off with the
// squared distance, distant lights do not.
#include "rendering/lighting.h"

#include <cmath>

#include "lights/light.h"
#include "scene/world.h"
#include "shapes/primitive.h"

namespace {

// What both terms need of one light at one hit.
struct LightAtHit {
    Vec3f falloff;          // strength arriving at the hit, per channel
    Vec3f directionLight;   // unit direction toward the light
    Vec3f normalNormalized; // unit shading normal
};

// Spot lights: full strength inside the inner cone, none outside the outer,
// a smooth step across the penumbra between.
float spotFactor(const LocalLight &light, const Vec3f &directionLight) {
    const float cosAngle = dot(light.worldAxis, -directionLight);
    if (!(cosAngle > light.cosOuter)) return 0.0f;
    if (cosAngle >= light.cosInner) return 1.0f;
    const float t = (cosAngle - light.cosOuter) / (light.cosInner - light.cosOuter);
    return t * t * (3.0f - 2.0f * t);
}

LightAtHit lightAtHit(const LocalLight &light, const IntersectInfo &info) {
    const Vec3f &strength = light.emitted();
    const Vec3f normalNormalized = vmath::normalized(info.normal);
    if (light.shape == LightShape::Distant)
        return {strength, -light.worldAxis, normalNormalized};
    const Point3f &P = info.position;
    const Point3f &Lp = light.getWorldPosition();
    const Vec3f distanceVector = P - Lp;
    const float d2 = distanceVector.x * distanceVector.x + distanceVector.y * distanceVector.y +
                     distanceVector.z * distanceVector.z;
    LightAtHit g{Vec3f(strength.x / d2, strength.y / d2, strength.z / d2),
                 vmath::normalized(Lp - P), normalNormalized};
    if (light.shape == LightShape::Spot) g.falloff = g.falloff * spotFactor(light, g.directionLight);
    return g;
}

// The terms as if nothing lay between the hit and the light.
Vec3f diffuseTerm(const Vec3f &colorDifuso, const LightAtHit &g) {
    float cosine = dot(g.normalNormalized, g.directionLight);
    if (!(cosine > 0.0f)) cosine = 0.0f;
    return Vec3f((colorDifuso.x * g.falloff.x) * cosine, (colorDifuso.y * g.falloff.y) * cosine,
                 (colorDifuso.z * g.falloff.z) * cosine);
}

Vec3f specularTerm(const Vec3f &colorEspecular, float shininess, const IntersectInfo &info,
                   const LightAtHit &g) {
    const Vec3f directionNormalized = vmath::normalized(-info.ray.direction);
    // Not clamped: a light behind the surface can still give a highlight.
    const float nl = dot(g.normalNormalized, g.directionLight);
    const Vec3f vectorInterm1 = nl * g.normalNormalized;
    const Vec3f vectorInterm2 = 2.0f * vectorInterm1;
    const Vec3f rVector = vmath::normalized(vectorInterm2 - g.directionLight);
    const float s = dot(rVector, directionNormalized);
    const float highlight = s > 0.0f ? powf(s, shininess) : 0.0f;
    return Vec3f((colorEspecular.x * g.falloff.x) * highlight,
                 (colorEspecular.y * g.falloff.y) * highlight,
                 (colorEspecular.z * g.falloff.z) * highlight);
}

// The shadow ray starts kRayOffset toward the light but may run the full
// distance, so it reaches just beyond the light. Toward a distant light it
// runs without end.
vmath::Ray shadowRayTo(const LocalLight &light, const IntersectInfo &info, float *length) {
    if (light.shape == LightShape::Distant) {
        *length = vmath::kMaxFloat;
        const Vec3f toLight = -light.worldAxis;
        return vmath::Ray(info.position + kRayOffset * toLight, toLight);
    }
    const Point3f &Lp = light.getWorldPosition();
    *length = vmath::length(Lp - info.position);
    return offsetRay(info.position, Lp);
}

// True when nothing lies between the hit and the light, asked as a
// nearest-hit query.
bool unblocked(const World &world, const LocalLight &light, const IntersectInfo &info) {
    float L;
    const vmath::Ray shadowRay = shadowRayTo(light, info, &L);
    IntersectInfo infoShadow;
    world.intersect(infoShadow, shadowRay, L);
    return infoShadow.id == -1;
}

} // namespace

void addDirectLight(const World &world, const LocalLight &light, const IntersectInfo &info,
                    const SurfaceTerms &mat, Vec3f &diffuse, Vec3f &specular) {
    const LightAtHit g = lightAtHit(light, info);
    const Vec3f d = diffuseTerm(mat.Kd->evaluate(info), g);
    const Vec3f s = specularTerm(mat.Ks->evaluate(info), mat.shininess, info, g);

    // A blocked light adds black. Terms that are zero either way (a light
    // behind the surface, a black channel) need no shadow ray: adding -0 or
    // +0 leaves the sums as they are, which never are -0 themselves. NaN
    // compares unequal to 0, so a NaN term still gets its shadow ray.
    const bool zero = d.x == 0.0f && d.y == 0.0f && d.z == 0.0f && s.x == 0.0f && s.y == 0.0f &&
                      s.z == 0.0f;
    if (zero) return;
    float L;
    const vmath::Ray shadowRay = shadowRayTo(light, info, &L);
    if (world.occluded(shadowRay, L)) return;
    diffuse = diffuse + d;
    specular = specular + s;
}

vmath::Ray offsetRay(const Point3f &from, const Point3f &to) {
    const Vec3f dir = vmath::normalized(to - from);
    return vmath::Ray(from + kRayOffset * dir, dir);
}

Vec3f directDiffuse(const World &world, const LocalLight &light, const IntersectInfo &info) {
    const SurfaceTerms mat = surfaceTerms(info.material);
    const Vec3f colorDifuso = mat.Kd->evaluate(info);
    if (!unblocked(world, light, info)) return Vec3f(0.0f, 0.0f, 0.0f);
    return diffuseTerm(colorDifuso, lightAtHit(light, info));
}

Vec3f directSpecular(const World &world, const LocalLight &light, const IntersectInfo &info) {
    const SurfaceTerms mat = surfaceTerms(info.material);
    const Vec3f colorEspecular = mat.Ks->evaluate(info);
    if (!unblocked(world, light, info)) return Vec3f(0.0f, 0.0f, 0.0f);
    return specularTerm(colorEspecular, mat.shininess, info, lightAtHit(light, info));
}
