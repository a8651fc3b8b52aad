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

void addDirectLight(const World &world, const LocalLight &light, const IntersectInfo &info,
                    const SurfaceTerms &mat, Vec3f &diffuse, Vec3f &specular) {
    const Point3f &P = info.position;
    const Point3f &Lp = light.getWorldPosition();
    const Vec3f distanceVector = P - Lp;
    const float d2 = distanceVector.x * distanceVector.x + distanceVector.y * distanceVector.y +
                     distanceVector.z * distanceVector.z;
    const Vec3f directionLight = vmath::normalized(Lp - P);
    const Vec3f normalNormalized = vmath::normalized(info.normal);
    const float falloff = light.getIntensity() / d2;

    // Both terms as if the light were visible, in the order of operations of
    // directDiffuse and directSpecular.
    const Vec3f colorDifuso = mat.Kd->evaluate(info);
    float cosine = dot(normalNormalized, directionLight);
    if (!(cosine > 0.0f)) cosine = 0.0f;
    const Vec3f diffuseTerm((colorDifuso.x * falloff) * cosine, (colorDifuso.y * falloff) * cosine,
                            (colorDifuso.z * falloff) * cosine);

    const Vec3f colorEspecular = mat.Ks->evaluate(info);
    const Vec3f directionNormalized = vmath::normalized(-info.ray.direction);
    const float nl = dot(normalNormalized, directionLight);
    const Vec3f vectorInterm1 = nl * normalNormalized;
    const Vec3f vectorInterm2 = 2.0f * vectorInterm1;
    const Vec3f rVector = vmath::normalized(vectorInterm2 - directionLight);
    const float s = dot(rVector, directionNormalized);
    const float highlight = s > 0.0f ? powf(s, mat.shininess) : 0.0f;
    const Vec3f specularTerm((colorEspecular.x * falloff) * highlight,
                             (colorEspecular.y * falloff) * highlight,
                             (colorEspecular.z * falloff) * highlight);

    // A blocked light adds black. Terms that are zero either way (a light
    // behind the surface, a black channel) need no shadow ray: adding -0 or
    // +0 leaves the sums as they are, which never are -0 themselves. NaN
    // compares unequal to 0, so a NaN term still gets its shadow ray.
    const bool zero = diffuseTerm.x == 0.0f && diffuseTerm.y == 0.0f && diffuseTerm.z == 0.0f &&
                      specularTerm.x == 0.0f && specularTerm.y == 0.0f &&
                      specularTerm.z == 0.0f;
    if (zero) return;
    const vmath::Ray shadowRay = offsetRay(P, Lp);
    const float L = vmath::length(Lp - P);
    if (world.occluded(shadowRay, L)) return;
    diffuse = diffuse + diffuseTerm;
    specular = specular + specularTerm;
}

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
