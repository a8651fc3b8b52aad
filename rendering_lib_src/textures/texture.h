// Textures: colours that vary over a surface, looked up at a hit's texture
// coordinates. The family is small: images (image_texture.h), and the
// checkerboard and colour ramp patterns (pattern_textures.h). The World
// owns them; a lookup allocates nothing and changes nothing, so any number
// of threads may look up at once.
#pragma once

#include "util/vecmath.h"

// Colour of a lookup outside a texture without wrapping, and of a colour
// channel whose texture is missing.
constexpr Vec3f kMissingTextureColor(-1.0f, -1.0f, -1.0f);

class Texture {
public:
    // The colour at texture coordinates (u, v).
    virtual Vec3f sample(float u, float v) const = 0;
    virtual ~Texture() = default;

protected:
    Texture() = default;
    Texture(const Texture &) = default;
    Texture &operator=(const Texture &) = default;
};
