#include "rendering/tracer.h"

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

Vec3f trace(const World &world, const vmath::Ray &ray, int depth) {
    IntersectInfo info;
    world.intersect(info, ray, vmath::kMaxFloat);
    // A ray that leaves the scene sees the sky, or black without one.
    if (info.id == -1) return world.hasSky ? world.sky : Vec3f(0.0f, 0.0f, 0.0f);

    const SurfaceTerms mat = surfaceTerms(info.material);
    if (mat.unlit) return mat.Kd->evaluate(info);

    Vec3f diffuse(0.0f, 0.0f, 0.0f), specular(0.0f, 0.0f, 0.0f);
    for (const LocalLight *light : world.lights)
        addDirectLight(world, *light, info, mat, diffuse, specular);
    // The sky lights every surface alike, without shadows: a uniform sky of
    // strength S gives a diffuse surface of colour Kd the light Kd x S.
    if (world.hasSky) diffuse = diffuse + mulComponents(mat.Kd->evaluate(info), world.sky);
    const Vec3f ambient = scaled(mat.Ka->evaluate(info), kAmbientScale);

    Vec3f reflexionLight(0.0f, 0.0f, 0.0f), refractionLight(0.0f, 0.0f, 0.0f);
    if (depth > 0 && !constantBlack(*mat.Kr)) {
        const Vec3f vVector = ray.direction;
        const Vec3f rVector = vmath::reflect(vVector, info.normal);
        const vmath::Ray reflexionRay(info.position + kRayOffset * rVector, rVector);
        reflexionLight =
            mulComponents(trace(world, reflexionRay, depth - 1), mat.Kr->evaluate(info));
    }
    if (depth > 0 && mat.refractionIndex != 0.0f && !constantBlack(*mat.Kt)) {
        const Vec3f T = refractedDirection(info.normal, info.ray.direction, mat.refractionIndex);
        // After total internal reflection T is zero and the term is black:
        // such a ray hits nothing, and under a sky it must not see the sky
        // either (without one it is traced as ever, to the same black).
        if (!world.hasSky || T.x != 0.0f || T.y != 0.0f || T.z != 0.0f) {
            const vmath::Ray refractionRay(info.position + kRayOffset * T, T);
            refractionLight =
                mulComponents(trace(world, refractionRay, depth - 1), mat.Kt->evaluate(info));
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
