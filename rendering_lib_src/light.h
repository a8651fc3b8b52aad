// Light sources. Point and area lights sit at the origin of their transform;
// direct lighting reads only their world position and intensity. The ambient
// light is a plain Light.
#pragma once

#include <string>

#include "transform.h"
#include "vecmath.h"

class Light {
public:
    Vec3f color;
    float intensity;
    std::string name;

    Light(const Vec3f &color, float intensity) : color(color), intensity(intensity) {}
    void setName(const std::string &n) { name = n; }
    float getIntensity() const { return intensity; }

    // Light arriving at p. The base light answers (-1, -1, -1) and writes nothing.
    virtual Vec3f incidentLight(const Point3f &p, Vec3f *wi, float *pdf,
                                vmath::Ray *shadowRay) const;

protected:
    ~Light() = default;
};

// Common part of the lights that have a place in the world.
class LocalLight : public Light {
public:
    Point3f position;      // in the light's own space
    Transform light2world;
    Point3f worldPosition; // light2world applied to position

    LocalLight(const Transform &light2world, const Vec3f &color, float intensity,
               const Point3f &position);
    const Point3f &getWorldPosition() const { return worldPosition; }

protected:
    ~LocalLight() = default;
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
