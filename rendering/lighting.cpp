// Direct light of one light at a hit: point-like lights fall off with the
// squared distance, distant lights do not.
#include "rendering/lighting.h"

#include <algorithm>
#include <cmath>

#include "lights/light.h"
#include "lights/light_sampling.h"
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
    // Light filters fade it by distance (only the format's lights have any).
    if (!light.decays.empty()) {
        const float d = std::sqrt(d2);
        for (const LightDecay &decay : light.decays) g.falloff = g.falloff * decay.factor(d);
    }
    return g;
}

// The format's terms, in physical units: the light's strength is the
// irradiance it gives a surface facing it (after the fall-off), diffuse
// reflection is albedo / pi, and the Phong lobe is normalised by
// (n + 2) / (2 pi) so that a surface never reflects more than it receives.
constexpr float kInvPi = 0.318309886f;
constexpr float kInvTwoPi = 0.159154943f;

Vec3f physicalDiffuse(const Vec3f &albedo, const LightAtHit &g) {
    const float cosine = dot(g.normalNormalized, g.directionLight);
    if (!(cosine > 0.0f)) return Vec3f(0.0f, 0.0f, 0.0f);
    const float k = cosine * kInvPi;
    return Vec3f(albedo.x * g.falloff.x * k, albedo.y * g.falloff.y * k,
                 albedo.z * g.falloff.z * k);
}

Vec3f physicalSpecular(const Vec3f &colour, float shininess, const IntersectInfo &info,
                       const LightAtHit &g) {
    const float cosine = dot(g.normalNormalized, g.directionLight);
    if (!(cosine > 0.0f)) return Vec3f(0.0f, 0.0f, 0.0f);
    const Vec3f toEye = vmath::normalized(-info.ray.direction);
    const Vec3f mirrored = vmath::normalized((2.0f * cosine) * g.normalNormalized - g.directionLight);
    const float s = dot(mirrored, toEye);
    if (!(s > 0.0f)) return Vec3f(0.0f, 0.0f, 0.0f);
    const float k = powf(s, shininess) * (shininess + 2.0f) * kInvTwoPi * cosine;
    return Vec3f(colour.x * g.falloff.x * k, colour.y * g.falloff.y * k,
                 colour.z * g.falloff.z * k);
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

// A light with an area: the mean of n x n stratified samples of its
// surface, each with its own shadow ray, which stops short of the sampled
// point (the surface of a mesh light is a shape of the scene).
void addAreaLight(const World &world, const LocalLight &light, const IntersectInfo &info,
                  const SurfaceTerms &mat, Vec3f &diffuse, Vec3f &specular, bool shadowed,
                  Sampler &sampler) {
    const LightSurface &surface = *light.surface;
    const Vec3f albedo = mat.Kd->evaluate(info), gloss = mat.Ks->evaluate(info);
    const uint32_t n = static_cast<uint32_t>(light.samples);
    const float weight = 1.0f / static_cast<float>(n * n);
    const Vec3f normal = vmath::normalized(info.normal);
    Vec3f d(0.0f, 0.0f, 0.0f), s(0.0f, 0.0f, 0.0f);
    for (uint32_t k = 0; k < n * n; ++k) {
        float u, v;
        stratified(sampler, k, n, &u, &v);
        const float w = sampler.next();
        LightSample sample;
        if (!sampleLightSurface(surface, info.position, u, v, w, &sample)) continue;
        LightAtHit g{sample.irradiance, sample.direction, normal};
        if (light.shape == LightShape::Spot)
            g.falloff = g.falloff * spotFactor(light, g.directionLight);
        for (const LightDecay &decay : light.decays)
            g.falloff = g.falloff * decay.factor(sample.distance);
        const Vec3f dk = physicalDiffuse(albedo, g);
        const Vec3f sk = physicalSpecular(gloss, mat.shininess, info, g);
        if (dk.x == 0.0f && dk.y == 0.0f && dk.z == 0.0f && sk.x == 0.0f && sk.y == 0.0f &&
            sk.z == 0.0f)
            continue;
        if (shadowed) {
            const vmath::Ray shadowRay(info.position + kRayOffset * sample.direction,
                                       sample.direction);
            if (world.occluded(shadowRay, sample.distance - 2.0f * kRayOffset)) continue;
        }
        d = d + dk;
        s = s + sk;
    }
    diffuse = diffuse + d * weight;
    specular = specular + s * weight;
}

} // namespace

void addDirectLight(const World &world, const LocalLight &light, const IntersectInfo &info,
                    const SurfaceTerms &mat, Vec3f &diffuse, Vec3f &specular, bool shadowed,
                    Sampler *sampler) {
    if (light.surface != nullptr && sampler != nullptr) {
        addAreaLight(world, light, info, mat, diffuse, specular, shadowed, *sampler);
        return;
    }
    const LightAtHit g = lightAtHit(light, info);
    const bool classic = world.classic();
    const Vec3f d = classic ? diffuseTerm(mat.Kd->evaluate(info), g)
                            : physicalDiffuse(mat.Kd->evaluate(info), g);
    const Vec3f s = classic ? specularTerm(mat.Ks->evaluate(info), mat.shininess, info, g)
                            : physicalSpecular(mat.Ks->evaluate(info), mat.shininess, info, g);

    // A blocked light adds black. Terms that are zero either way (a light
    // behind the surface, a black channel) need no shadow ray: adding -0 or
    // +0 leaves the sums as they are, which never are -0 themselves. NaN
    // compares unequal to 0, so a NaN term still gets its shadow ray.
    const bool zero = d.x == 0.0f && d.y == 0.0f && d.z == 0.0f && s.x == 0.0f && s.y == 0.0f &&
                      s.z == 0.0f;
    if (zero) return;
    if (shadowed) {
        float L;
        const vmath::Ray shadowRay = shadowRayTo(light, info, &L);
        if (world.occluded(shadowRay, L)) return;
    }
    diffuse = diffuse + d;
    specular = specular + s;
}

Vec3f skyLight(const World &world, const IntersectInfo &info, const Vec3f &albedo,
               Sampler &sampler) {
    // The normal on the side the ray came from.
    Vec3f normal = vmath::normalized(info.normal);
    if (dot(normal, info.ray.direction) > 0.0f) normal = -normal;
    const Vec3f e1 = vmath::normalized(std::fabs(normal.x) > 0.5f
                                           ? vmath::cross(normal, Vec3f(0, 1, 0))
                                           : vmath::cross(normal, Vec3f(1, 0, 0)));
    const Vec3f e2 = vmath::cross(normal, e1);
    const uint32_t n = static_cast<uint32_t>(world.skySamples);
    uint32_t open = 0;
    for (uint32_t k = 0; k < n * n; ++k) {
        float u, v;
        stratified(sampler, k, n, &u, &v);
        // Cosine-weighted: a point of the unit disk lifted onto the hemisphere.
        const float r = std::sqrt(u), phi = 6.28318531f * v;
        const float x = r * std::cos(phi), y = r * std::sin(phi);
        const float z = std::sqrt(std::max(0.0f, 1.0f - u));
        const Vec3f dir = vmath::normalized(x * e1 + y * e2 + z * normal);
        const vmath::Ray ray(info.position + kRayOffset * dir, dir);
        if (!world.occluded(ray, vmath::kMaxFloat)) ++open;
    }
    // A white diffuse surface under an open sky of radiance L shows L.
    const float seen = world.skyVisibility.diffuse * static_cast<float>(open) /
                       static_cast<float>(n * n);
    return Vec3f(albedo.x * world.sky.x * seen, albedo.y * world.sky.y * seen,
                 albedo.z * world.sky.z * seen);
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
