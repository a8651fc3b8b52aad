// Textures computed from the texture coordinates alone: a checkerboard and
// a colour ramp.
#pragma once

#include <vector>

#include "textures/texture.h"

// Squares of two colours: color1 where floor(u x uFrequency + uOffset) and
// floor(v x vFrequency + vOffset) are both even or both odd (so at the
// origin), color2 elsewhere.
class CheckerboardTexture final : public Texture {
public:
    Vec3f color1{1.0f, 1.0f, 1.0f};
    Vec3f color2{0.0f, 0.0f, 0.0f};
    float uFrequency = 1.0f, vFrequency = 1.0f;
    float uOffset = 0.0f, vOffset = 0.0f;

    Vec3f sample(float u, float v) const override;
};

// Which coordinate a ramp runs along, from 0 to 1.
enum class RampType {
    U,        // u
    V,        // v
    Diagonal, // (u + v) / 2
    Radial,   // the angle around the square's centre, counter-clockwise from +u
    Circular, // the distance from the centre, 1 at the middle of each edge
    Box,      // the larger distance from the centre along u or v, 1 at the edges
};

// How the colour goes from one key to the next.
enum class RampInterpolation {
    None,   // the key's colour up to the next key
    Linear, // straight
    Smooth, // eased in and out (smoothstep)
};

struct RampKey {
    float position = 0.0f;
    Vec3f color;
    RampInterpolation interpolation = RampInterpolation::Linear; // toward the next key
};

// Colours at positions along one coordinate; before the first key its
// colour, after the last key the last colour. Black without keys.
class RampTexture final : public Texture {
public:
    RampTexture(RampType type, std::vector<RampKey> keys);
    Vec3f sample(float u, float v) const override;
    // The colour at ramp position p.
    Vec3f at(float p) const;

private:
    RampType m_type;
    std::vector<RampKey> m_keys; // sorted by position
};
