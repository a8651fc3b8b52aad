// Light sources. Point-like lights (point, area, spot, and the lights drawn
// as a point at their centre) sit at the origin of their transform; distant
// lights shine along the -z axis of theirs. A light's strength is its colour
// x intensity x 2^exposure. The ambient light is a plain Light.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "util/transform.h"
#include "util/vecmath.h"

class Light {
public:
    Vec3f color;
    float intensity;
    float exposure = 0.0f; // stops: the strength doubles with each
    std::string name;

    Light(const Vec3f &color, float intensity) : color(color), intensity(intensity) {}
    void setName(const std::string &n) { name = n; }
    float getIntensity() const { return intensity; }
    // colour x intensity x 2^exposure, channel by channel, in that order: a
    // white light of exposure 0 has exactly its intensity in every channel.
    Vec3f strength() const { return strengthOf(color, intensity, exposure); }
    static Vec3f strengthOf(const Vec3f &color, float intensity, float exposure);

    // Light arriving at p. The base light answers (-1, -1, -1) and writes nothing.
    virtual Vec3f incidentLight(const Point3f &p, Vec3f *wi, float *pdf,
                                vmath::Ray *shadowRay) const;

    // The World deletes the lights it owns through this base.
    virtual ~Light() = default;
};

// How a light in the world reaches a surface.
enum class LightShape {
    Point,   // from its position, inverse-square fall-off
    Spot,    // a point light limited to a cone around its axis
    Distant, // parallel light along its axis, no fall-off, no position
};

// A filter that fades a light with the distance d from it: from 0 at
// nearStart to full at nearEnd, and from full at farStart to 0 at farEnd,
// linearly.
struct LightDecay {
    bool useNear = false, useFar = false;
    float nearStart = 0.0f, nearEnd = 0.0f, farStart = 0.0f, farEnd = 0.0f;
    // The factor at distance d (1 when neither end is used).
    float factor(float d) const;
};

// The surface of a light with an area, in world space, and the radiance it
// gives off. Sphere: a point light with a radius; Disc: a spot light with a
// radius, facing along its axis; Quad and Mesh: triangles; Disk: a disk
// facing `normal`; Cylinder: the side of a cylinder.
struct LightSurface {
    enum class Kind { Sphere, Disc, Quad, Disk, Cylinder, Mesh };
    Kind kind = Kind::Sphere;
    Vec3f radiance;               // per unit area and solid angle
    float cameraVisibility = 0.0f; // how much of it camera rays see
    bool twoSided = false;        // gives off light from both faces (meshes)
    Point3f centre;               // sphere, disc, disk: the centre; cylinder: the bottom
    float radius = 0.0f;          // sphere
    Vec3f normal;                 // disc, disk: the side that gives off light (unit)
    Vec3f axisU, axisV;           // disc, disk, cylinder: radial axes, as long as the radius
    Vec3f axis;                   // cylinder: from the bottom to the top
    std::vector<Point3f> triangles; // quad, mesh: three corners each
    std::vector<float> cumulative;  // quad, mesh: running sum of the triangles' areas
    float area = 0.0f;
};

// Common part of the lights that have a place in the world.
class LocalLight : public Light {
public:
    Point3f position;      // in the light's own space
    Transform light2world;
    Point3f worldPosition; // light2world applied to position
    LightShape shape = LightShape::Point;
    // Spot and distant lights: the unit direction the light travels in the
    // world, the light's -z axis.
    Vec3f worldAxis{0.0f, 0.0f, -1.0f};
    // Spot lights: cosines of half the cone angle and of half the cone
    // angle less the penumbra angle; full strength inside the second.
    float cosOuter = -1.0f;
    float cosInner = -1.0f;

    // Makes the light a spot light (angles in degrees).
    void makeSpot(float coneAngle, float penumbraAngle);
    // Makes the light a distant light.
    void makeDistant();
    // Moves the light to another transform (keeps its kind).
    void place(const Transform &l2w);
    // The light's filters, applied by distance (none: empty).
    std::vector<LightDecay> decays;
    // A light with an area (see lights/light_sampling.h): sampled with
    // samples x samples shadow rays per shading point; null for a point.
    std::unique_ptr<const LightSurface> surface;
    int samples = 1;

    LocalLight(const Transform &light2world, const Vec3f &color, float intensity,
               const Point3f &position);
    const Point3f &getWorldPosition() const { return worldPosition; }
    // The strength, kept from construction (and setExposure) for the
    // shading of every hit.
    const Vec3f &emitted() const { return m_emitted; }
    void setExposure(float stops) {
        exposure = stops;
        m_emitted = strength();
    }

private:
    Vec3f m_emitted;
};

class PointLight final : public LocalLight {
public:
    using LocalLight::LocalLight;
    // Inverse-square fall-off toward p; shadow ray from p to the light.
    Vec3f incidentLight(const Point3f &p, Vec3f *wi, float *pdf,
                        vmath::Ray *shadowRay) const override;
};

class AreaLight final : public LocalLight {
public:
    using LocalLight::LocalLight;
    // Answers black and writes nothing.
    Vec3f incidentLight(const Point3f &p, Vec3f *wi, float *pdf,
                        vmath::Ray *shadowRay) const override;
};

// The ambient light is a plain Light; this type only makes it constructible.
class AmbientLight final : public Light {
public:
    using Light::Light;
};
