// An image file as a texture: how texture coordinates map onto its texels
// (scale, offset, flip, wrap modes), how texels are filtered, and how its
// samples become linear colours.
#pragma once

#include "image/raster.h"
#include "textures/texture.h"

// What a lookup outside the unit square sees, along one direction.
enum class WrapMode {
    Periodic, // the image repeats
    Black,    // black beyond the edges
    Clamp,    // the edge texels continue
    Mirror,   // the image repeats, every other copy mirrored
    Missing,  // the missing-texture colour beyond the edges
    File,     // whatever the file names for itself (periodic when it names nothing)
};

enum class TextureFilter { Closest, Bilinear };

// How an image node maps texture coordinates onto its image: s = u x
// sscale + soffset (u first flipped to 1 - u by sflip), likewise t.
struct ImageMapping {
    WrapMode swrap = WrapMode::Periodic, twrap = WrapMode::Periodic;
    float sscale = 1.0f, tscale = 1.0f;
    float soffset = 0.0f, toffset = 0.0f;
    bool sflip = false, tflip = false;
    bool srgb = false; // samples are sRGB-encoded and are decoded to linear
    TextureFilter filter = TextureFilter::Bilinear;
    Vec3f missingColor; // beyond the edges under WrapMode::Missing
};

// A wrap-mode name as files write it ("periodic", "black", "clamp",
// "mirror", "missing", "file"; any case); false for any other word.
bool wrapModeOfName(const char *name, WrapMode &out);

// sRGB-encoded value to linear light (the standard curve).
float srgbToLinear(float c);

class ImageTexture final : public Texture {
public:
    // The classic lookup: the nearest texel with no wrapping and no
    // filtering, (-1, -1, -1) outside the unit square, samples as stored.
    explicit ImageTexture(const Raster *image);
    ImageTexture(const Raster *image, const ImageMapping &mapping);

    Vec3f sample(float u, float v) const override;
    const Raster *image() const { return m_image; }

private:
    Vec3f sampleClassic(float u, float v) const;
    // The texel at (x, y), or the border colour when either is -1.
    Vec3f texel(int x, int y) const;

    const Raster *m_image; // the World's; never null
    bool m_classic;
    ImageMapping m_mapping; // File wraps already resolved
    const float *m_byteValue; // 256 linear values of the 8-bit samples
    Vec3f m_border;           // colour beyond the edges (Black or Missing)
};
