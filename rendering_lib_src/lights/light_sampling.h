// Sampling the surface of a light with an area: one point of it per pair of
// numbers, and what that point gives a shading point; and where a camera
// ray meets the surface.
#pragma once

#include "lights/light.h"
#include "util/transform.h"
#include "util/vecmath.h"

// One sample of a light as seen from a shading point.
struct LightSample {
    Vec3f direction;  // unit, from the shading point toward the sampled point
    float distance;   // to the sampled point
    // The irradiance the sample stands for at normal incidence: radiance x
    // the light's cosine / (distance^2 x the sample's density), so that the
    // mean over samples of irradiance x cos(surface) is the light received.
    Vec3f irradiance;
};

// Samples the surface with the numbers u, v, w in [0, 1) (w picks a
// triangle of a quad or mesh). False when the sampled point gives the
// shading point no light (its back, or the point lies on the surface).
bool sampleLightSurface(const LightSurface &surface, const Point3f &p, float u, float v, float w,
                        LightSample *out);

// The distance along the ray to the front of the surface, below *t; false
// when the ray misses it (or meets its back, for a one-sided surface).
bool hitLightSurface(const LightSurface &surface, const vmath::Ray &ray, float *t);

// Builds the running areas of a triangle surface and its total area; false
// when the triangles have no area.
bool finishTriangleSurface(LightSurface &surface);

// The surfaces of the light types in world space, from the light's
// transform (its -z axis is where a quad, disk or disc gives off light) and
// its parameters in its own space. Radiance and visibility are the caller's.
LightSurface sphereSurface(const Transform &l2w, float radius);
LightSurface discSurface(const Transform &l2w, float radius);
LightSurface quadSurface(const Transform &l2w, const Point3f corners[4]);
LightSurface diskSurface(const Transform &l2w, float radius);
LightSurface cylinderSurface(const Transform &l2w, const Point3f &bottom, const Point3f &top,
                             float radius);
