// Whitted-style shading: the recursive tracer.
// Colours are linear RGB, unbounded, never clamped.
#pragma once

#include "rendering/lighting.h"
#include "util/vecmath.h"

class World;

// Recursion depth the frame loop traces primary rays with.
constexpr int kTraceDepth = 2;
// Scale of the ambient channel.
constexpr float kAmbientScale = 0.005f;
// Refraction index of the medium outside every object.
constexpr float kOutsideIndex = 1.0003f;

// What a ray is for: the sky may be hidden from one kind and not the other.
enum class RayKind {
    Camera,   // a primary ray
    Specular, // a mirror or refracted ray
};

// Colour seen along a ray; depth is the number of further bounces allowed.
// Under the format's conventions lights with an area and the sky's shadows
// are sampled with the sampler's numbers (a fixed sequence without one).
Vec3f trace(const World &world, const vmath::Ray &ray, int depth,
            RayKind kind = RayKind::Camera, Sampler *sampler = nullptr);
// Refracted direction through a surface, picking the index pair from the
// side the ray comes from.
Vec3f refractedDirection(const Vec3f &normal, const Vec3f &direction, float refractionIndex);
// Snell refraction from index eta1 into eta2; normal faces the incoming ray.
// The zero vector under total internal reflection.
Vec3f refract(float eta1, float eta2, const Vec3f &direction, const Vec3f &normal);
