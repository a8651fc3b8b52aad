// Materials and their colour channels. A channel is a plain colour, or a
// texture sampled at the hit and tinted.
#pragma once

#include <string>

#include "textures/texture.h"
#include "util/vecmath.h"

struct IntersectInfo;

struct ColorChannel {
    const Texture *texture = nullptr; // not owned (the World's); null for a plain colour
    Vec3f color;                      // the colour, or the tint of the texture sample

    ColorChannel() = default;
    explicit ColorChannel(float v) : color(v, v, v) {}
    explicit ColorChannel(const Vec3f &c) : color(c) {}
    ColorChannel(const Texture *t, const Vec3f &c) : texture(t), color(c) {}

    // The colour at a hit: plain colour, or texture sample times tint.
    Vec3f evaluate(const IntersectInfo &info) const;
};

enum class MaterialKind { Lambert, Standard, BlinnPhong, Flat };

class Material {
public:
    const MaterialKind kind;
    float ka = 1.0f;  // ambient coefficient
    ColorChannel Ka;  // ambient colour
    std::string name; // the World finds materials by it

    // Scattering queries of the material interface; the renderer reads
    // fields instead, and every material here answers zero.
    virtual Vec3f evaluateBsdf(const Vec3f &wo, const Vec3f &wi) const = 0;
    virtual bool sampleBsdf(const Vec3f &wo, Vec3f *wi, float *pdf) const = 0;
    virtual float pdf(const Vec3f &wo, const Vec3f &wi) const = 0;

protected:
    Material(MaterialKind k, const char *n) : kind(k), name(n ? n : "") {}

public:
    // The World deletes the materials it owns through this base.
    virtual ~Material() = default;
};

class Lambert final : public Material {
public:
    float kd;
    ColorChannel Kd; // not multiplied by kd

    Lambert(const char *name, float kd, const ColorChannel &Kd);
    Vec3f evaluateBsdf(const Vec3f &, const Vec3f &) const override { return Vec3f(); }
    bool sampleBsdf(const Vec3f &, Vec3f *, float *) const override { return false; }
    float pdf(const Vec3f &, const Vec3f &) const override { return 0.0f; }
};

class Standard final : public Material {
public:
    ColorChannel Kd, Ks, Kr, Kt;
    ColorChannel Ke; // light given off; black but for emissive surface shaders
    float shininess = 1.0f;
    float refractionIndex = 1.52f;

    explicit Standard(const char *name) : Material(MaterialKind::Standard, name) {}
    Vec3f evaluateBsdf(const Vec3f &, const Vec3f &) const override { return Vec3f(); }
    bool sampleBsdf(const Vec3f &, Vec3f *, float *) const override { return false; }
    float pdf(const Vec3f &, const Vec3f &) const override { return 0.0f; }
};

class BlinnPhong final : public Material {
public:
    Lambert diffuse; // named after the material with "_diffuse"; not in the World
    float power;     // specular exponent
    ColorChannel Ks; // not multiplied by ks
    float ks;

    BlinnPhong(const char *name, float kd, const ColorChannel &Kd, float ks,
               const ColorChannel &Ks, float power);
    Vec3f evaluateBsdf(const Vec3f &, const Vec3f &) const override { return Vec3f(); }
    bool sampleBsdf(const Vec3f &, Vec3f *, float *) const override { return false; }
    float pdf(const Vec3f &, const Vec3f &) const override { return 0.0f; }
};

// A colour shown as it is, lit by nothing (the flat and utility shaders).
class Flat final : public Material {
public:
    ColorChannel color;

    Flat(const char *name, const ColorChannel &color)
        : Material(MaterialKind::Flat, name), color(color) {}
    Vec3f evaluateBsdf(const Vec3f &, const Vec3f &) const override { return Vec3f(); }
    bool sampleBsdf(const Vec3f &, Vec3f *, float *) const override { return false; }
    float pdf(const Vec3f &, const Vec3f &) const override { return 0.0f; }
};

// True when any colour channel of the material samples a texture.
bool usesTexture(const Material &material);
