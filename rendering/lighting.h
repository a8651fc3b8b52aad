// Direct light of one light at a hit: Lambert diffuse and Phong specular
// terms with hard shadows.
#pragma once

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
void addDirectLight(const World &world, const LocalLight &light, const IntersectInfo &info,
                    const SurfaceTerms &mat, Vec3f &diffuse, Vec3f &specular);
// Ray from `from` toward `to`, starting kRayOffset along the way.
vmath::Ray offsetRay(const Point3f &from, const Point3f &to);
