#include "rendering/tracer.h"

#include "lights/light_sampling.h"
#include "rendering/lighting.h"
#include "rendering/surface_terms.h"
#include "scene/world.h"
#include "shapes/primitive.h"

namespace {

Vec3f scaled(const Vec3f &c, float s) { return Vec3f(c.x * s, c.y * s, c.z * s); }

// A weight that makes the ray's colour irrelevant: untextured and black. The
// product would be +0 or -0, and adding either to the partial sum (never -0
// itself) changes nothing; only a non-finite ray colour would have made it
// NaN, and a black surface showing no reflection is the sound result there.
bool constantBlack(const ColorChannel &c) {
    return c.texture == nullptr && c.color.x == 0.0f && c.color.y == 0.0f && c.color.z == 0.0f;
}

} // namespace

Vec3f refract(float eta1, float eta2, const Vec3f &I, const Vec3f &N) {
    const float eta = eta1 / eta2;
    const float cosI = -dot(I, N);
    const float k = 1.0f - ((eta * eta) * (1.0f - cosI * cosI));
    if (k < 0.0f) return Vec3f(0.0f, 0.0f, 0.0f); // total internal reflection
    const float nScale = eta * cosI - std::sqrt(k);
    const Vec3f a = eta * I;
    const Vec3f b = nScale * N;
    return Vec3f(a.x + b.x, a.y + b.y, a.z + b.z);
}

Vec3f refractedDirection(const Vec3f &normal, const Vec3f &direction, float refractionIndex) {
    Vec3f normal_refraction = normal;
    const float d = dot(normal, -direction);
    float eta1 = kOutsideIndex, eta2 = refractionIndex;
    if (d < 0.0f) {
        // Leaving the object: the normal is turned to face the ray.
        eta1 = refractionIndex;
        eta2 = kOutsideIndex;
        normal_refraction = -normal;
    }
    return refract(eta1, eta2, direction, normal_refraction);
}

namespace {

// The nearest light surface that camera (and mirror) rays see before
// distance t along the ray: its radiance x visibility, or false.
bool visibleLight(const World &world, const vmath::Ray &ray, float t, Vec3f *seen) {
    bool found = false;
    for (const LocalLight *light : world.lights) {
        const LightSurface *s = light->surface.get();
        if (s == nullptr || !(s->cameraVisibility > 0.0f)) continue;
        if (!hitLightSurface(*s, ray, &t)) continue;
        *seen = scaled(s->radiance, s->cameraVisibility);
        found = true;
    }
    return found;
}

} // namespace

Vec3f trace(const World &world, const vmath::Ray &ray, int depth, RayKind kind,
            Sampler *sampler) {
    IntersectInfo info;
    const float hitDistance = world.intersect(info, ray, vmath::kMaxFloat);
    const bool classic = world.classic();
    // Without a sampler of the caller's, a fixed sequence of numbers.
    Sampler fixed(0, 0);
    if (sampler == nullptr) sampler = &fixed;
    if (!classic) {
        Vec3f light;
        if (visibleLight(world, ray, info.id == -1 ? vmath::kMaxFloat : hitDistance, &light))
            return light;
    }
    // A ray that leaves the scene sees the sky, or black without one. Under
    // the format's conventions the sky may be hidden from camera rays, or
    // from mirror and refracted rays.
    if (info.id == -1) {
        if (!world.hasSky) return Vec3f(0.0f, 0.0f, 0.0f);
        if (classic) return world.sky;
        return scaled(world.sky, kind == RayKind::Camera ? world.skyVisibility.camera
                                                         : world.skyVisibility.specular);
    }

    const SurfaceTerms mat = surfaceTerms(info.material);
    if (mat.unlit) return mat.Kd->evaluate(info);

    Vec3f diffuse(0.0f, 0.0f, 0.0f), specular(0.0f, 0.0f, 0.0f);
    // Shapes may name which lights light them and which are shadowed on them.
    const World::LightLinks *links = world.linksOf(info.id);
    for (size_t i = 0; i < world.lights.size(); ++i) {
        if (links != nullptr && !links->lights[i]) continue;
        addDirectLight(world, *world.lights[i], info, mat, diffuse, specular,
                       links == nullptr || links->shadows[i], classic ? nullptr : sampler);
    }
    // A uniform sky of strength S gives a diffuse surface of colour Kd the
    // light Kd x S: everywhere alike under the classic conventions, less
    // what blocks the sky under the format's.
    if (world.hasSky) {
        if (classic)
            diffuse = diffuse + mulComponents(mat.Kd->evaluate(info), world.sky);
        else if (world.skyVisibility.diffuse != 0.0f)
            diffuse = diffuse + skyLight(world, info, mat.Kd->evaluate(info), *sampler);
    }
    // The ambient term belongs to the classic light formula; the format's
    // lights are physical and have none.
    const Vec3f ambient = classic ? scaled(mat.Ka->evaluate(info), kAmbientScale)
                                  : Vec3f(0.0f, 0.0f, 0.0f);

    Vec3f reflexionLight(0.0f, 0.0f, 0.0f), refractionLight(0.0f, 0.0f, 0.0f);
    if (depth > 0 && !constantBlack(*mat.Kr)) {
        const Vec3f vVector = ray.direction;
        const Vec3f rVector = vmath::reflect(vVector, info.normal);
        const vmath::Ray reflexionRay(info.position + kRayOffset * rVector, rVector);
        reflexionLight =
            mulComponents(trace(world, reflexionRay, depth - 1, RayKind::Specular, sampler),
                          mat.Kr->evaluate(info));
    }
    if (depth > 0 && mat.refractionIndex != 0.0f && !constantBlack(*mat.Kt)) {
        const Vec3f T = refractedDirection(info.normal, info.ray.direction, mat.refractionIndex);
        // After total internal reflection T is zero and the term is black:
        // such a ray hits nothing, and under a sky it must not see the sky
        // either (without one it is traced as ever, to the same black).
        if (!world.hasSky || T.x != 0.0f || T.y != 0.0f || T.z != 0.0f) {
            const vmath::Ray refractionRay(info.position + kRayOffset * T, T);
            refractionLight =
                mulComponents(trace(world, refractionRay, depth - 1, RayKind::Specular, sampler),
                              mat.Kt->evaluate(info));
        }
    }
    const Vec3f lit(
        (((diffuse.x + specular.x) + ambient.x) + reflexionLight.x) + refractionLight.x,
        (((diffuse.y + specular.y) + ambient.y) + reflexionLight.y) + refractionLight.y,
        (((diffuse.z + specular.z) + ambient.z) + reflexionLight.z) + refractionLight.z);
    // Light the surface gives off itself.
    if (constantBlack(*mat.Ke)) return lit;
    return lit + mat.Ke->evaluate(info);
}
