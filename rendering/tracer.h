// Whitted-style shading: the recursive tracer and the per-light terms.
// Colours are linear RGB, unbounded, never clamped.
#pragma once

#include "materials/material.h"
#include "util/vecmath.h"

struct IntersectInfo;
class LocalLight;
class World;

// Recursion depth the frame loop traces primary rays with.
constexpr int kTraceDepth = 2;
// Secondary rays start this far along their direction from the hit point.
constexpr float kRayOffset = 0.01f;
// Scale of the ambient channel.
constexpr float kAmbientScale = 0.005f;
// Refraction index of the medium outside every object.
constexpr float kOutsideIndex = 1.0003f;

// The values the tracer needs from a hit's material. Every material class
// provides them: Standard its own fields, Lambert and BlinnPhong their
// diffuse and specular parts with black mirror and transmission and no
// refraction, Flat its colour unlit; a hit without material shades as the
// default grey Standard. Only Standard gives off light.
struct SurfaceTerms {
    const ColorChannel *Kd;
    const ColorChannel *Ks;
    float shininess;
    const ColorChannel *Ka;
    const ColorChannel *Kr;
    const ColorChannel *Kt;
    float refractionIndex; // 0: no refracted ray
    const ColorChannel *Ke; // light the surface gives off, added to its colour
    bool unlit = false;     // the surface shows Kd as it is, lit by nothing
};
SurfaceTerms surfaceTerms(const Material *material);

// Colour seen along a ray; depth is the number of further bounces allowed.
Vec3f trace(const World &world, const vmath::Ray &ray, int depth);
// Refracted direction through a surface, picking the index pair from the
// side the ray comes from.
Vec3f refractedDirection(const Vec3f &normal, const Vec3f &direction, float refractionIndex);
// Snell refraction from index eta1 into eta2; normal faces the incoming ray.
// The zero vector under total internal reflection.
Vec3f refract(float eta1, float eta2, const Vec3f &direction, const Vec3f &normal);

// Diffuse and specular terms of one light at a hit, each with its own
// shadow ray; black when anything lies between the hit and the light.
Vec3f directDiffuse(const World &world, const LocalLight &light, const IntersectInfo &info);
Vec3f directSpecular(const World &world, const LocalLight &light, const IntersectInfo &info);
// Adds the diffuse and specular terms of one light at a hit to the two
// sums, with one shadow query shared by both (none when both terms are zero
// whatever it answers). The sums are those directDiffuse and directSpecular
// give, bit for bit.
void addDirectLight(const World &world, const LocalLight &light, const IntersectInfo &info,
                    const SurfaceTerms &mat, Vec3f &diffuse, Vec3f &specular);
// Ray from `from` toward `to`, starting kRayOffset along the way.
vmath::Ray offsetRay(const Point3f &from, const Point3f &to);
