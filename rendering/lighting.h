// Direct light of one light at a hit: Lambert diffuse and Phong specular
// terms with hard shadows.
#pragma once

#include "rendering/sampler.h"
#include "rendering/surface_terms.h"
#include "util/vecmath.h"

struct IntersectInfo;
class LocalLight;
class World;

// Secondary rays start this far along their direction from the hit point.
constexpr float kRayOffset = 0.01f;

// Diffuse and specular terms of one light at a hit, each with its own
// shadow ray; black when anything lies between the hit and the light.
Vec3f directDiffuse(const World &world, const LocalLight &light, const IntersectInfo &info);
Vec3f directSpecular(const World &world, const LocalLight &light, const IntersectInfo &info);
// Adds the diffuse and specular terms of one light at a hit to the two
// sums, with one shadow query shared by both (none when both terms are zero
// whatever it answers). The sums are those directDiffuse and directSpecular
// give, bit for bit.
// Under the format's conventions the terms are in physical units (see
// lighting.cpp); `shadowed` false lights the hit whatever lies between. A
// light with an area is sampled with the sampler's numbers (without one it
// is lit as a point).
void addDirectLight(const World &world, const LocalLight &light, const IntersectInfo &info,
                    const SurfaceTerms &mat, Vec3f &diffuse, Vec3f &specular,
                    bool shadowed = true, Sampler *sampler = nullptr);
// The diffuse light of the world's sky at a hit of the given albedo: the
// share of sky.samples^2 cosine-weighted rays that leave the scene.
Vec3f skyLight(const World &world, const IntersectInfo &info, const Vec3f &albedo,
               Sampler &sampler);
// Ray from `from` toward `to`, starting kRayOffset along the way.
vmath::Ray offsetRay(const Point3f &from, const Point3f &to);
