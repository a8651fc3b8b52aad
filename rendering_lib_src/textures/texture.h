// A texture image in memory and its lookup.
#pragma once

#include <memory>
#include <string>

#include "util/vecmath.h"

// Colour of a lookup outside a texture.
constexpr Vec3f kMissingTextureColor(-1.0f, -1.0f, -1.0f);

// width x height linear colours, row-major, row 0 at the bottom.
struct Texture {
    int width = 0;
    int height = 0;
    std::unique_ptr<Vec3f[]> texels;

    // Reads a TGA file; false, after an Error, when it cannot be read.
    bool read(const std::string &fileName);
    // Nearest texel at (u, v), no wrapping; (-1, -1, -1) outside the image.
    Vec3f sample(float u, float v) const;
};
