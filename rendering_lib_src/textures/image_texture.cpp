#include "textures/image_texture.h"

#include <cmath>
#include <string>
#include <strings.h>

namespace {

// Linear values of the 256 byte values: as stored (v / 255) and sRGB-decoded.
struct ByteTables {
    float stored[256];
    float decoded[256];
    ByteTables() {
        for (int i = 0; i < 256; ++i) {
            stored[i] = static_cast<float>(i) / 255.0f;
            decoded[i] = srgbToLinear(stored[i]);
        }
    }
};

// Built once, before the first texture exists (textures are made while a
// scene loads), and only read afterwards.
const ByteTables &byteTables() {
    static const ByteTables tables;
    return tables;
}

// The index of texel i along a side of n texels, or -1 when the wrap mode
// puts nothing there (the border colour).
int wrapIndex(int i, int n, WrapMode mode) {
    if (i >= 0 && i < n) return i;
    switch (mode) {
    case WrapMode::Periodic: {
        const int r = i % n;
        return r < 0 ? r + n : r;
    }
    case WrapMode::Mirror: {
        int r = i % (2 * n);
        if (r < 0) r += 2 * n;
        return r < n ? r : 2 * n - 1 - r;
    }
    case WrapMode::Clamp:
        return i < 0 ? 0 : n - 1;
    default:
        return -1;
    }
}

// Brings a coordinate into the range its wrap mode repeats, so that texel
// indices stay small: [0, 1] for periodic, a mirrored pair folded onto
// [0, 1], and [-1, 2] for the rest, where everything beyond is border or
// edge anyway.
float reduce(float s, WrapMode mode) {
    switch (mode) {
    case WrapMode::Periodic:
        return s - std::floor(s);
    case WrapMode::Mirror: {
        const float r = s - 2.0f * std::floor(s * 0.5f);
        return r > 1.0f ? 2.0f - r : r;
    }
    default:
        return s < -1.0f ? -1.0f : (s > 2.0f ? 2.0f : s);
    }
}

// The wrap modes a file names for itself: "s,t" or one for both.
WrapMode fileWrap(const std::string &modes, int which) {
    const size_t comma = modes.find(',');
    const std::string word = comma == std::string::npos
                                 ? modes
                                 : (which == 0 ? modes.substr(0, comma) : modes.substr(comma + 1));
    WrapMode mode;
    if (!wrapModeOfName(word.c_str(), mode) || mode == WrapMode::File) return WrapMode::Periodic;
    return mode;
}

Vec3f lerp(const Vec3f &a, const Vec3f &b, float f) { return a + (b - a) * f; }

} // namespace

bool wrapModeOfName(const char *name, WrapMode &out) {
    static const struct {
        const char *name;
        WrapMode mode;
    } kModes[] = {{"periodic", WrapMode::Periodic}, {"black", WrapMode::Black},
                  {"clamp", WrapMode::Clamp},       {"mirror", WrapMode::Mirror},
                  {"missing", WrapMode::Missing},   {"file", WrapMode::File}};
    for (const auto &entry : kModes) {
        if (strcasecmp(name, entry.name) == 0) {
            out = entry.mode;
            return true;
        }
    }
    return false;
}

float srgbToLinear(float c) {
    if (c <= 0.04045f) return c / 12.92f;
    return std::pow((c + 0.055f) / 1.055f, 2.4f);
}

ImageTexture::ImageTexture(const Raster *image)
    : m_image(image), m_classic(true), m_byteValue(byteTables().stored) {}

ImageTexture::ImageTexture(const Raster *image, const ImageMapping &mapping)
    : m_image(image), m_classic(false), m_mapping(mapping),
      m_byteValue(mapping.srgb ? byteTables().decoded : byteTables().stored) {
    if (m_mapping.swrap == WrapMode::File) m_mapping.swrap = fileWrap(image->wrapModes, 0);
    if (m_mapping.twrap == WrapMode::File) m_mapping.twrap = fileWrap(image->wrapModes, 1);
    if (m_mapping.swrap == WrapMode::Missing || m_mapping.twrap == WrapMode::Missing)
        m_border = m_mapping.missingColor;
}

Vec3f ImageTexture::sampleClassic(float u, float v) const {
    const int width = m_image->width, height = m_image->height;
    if (width <= 0 || height <= 0) return kMissingTextureColor;
    const float fx = u * static_cast<float>(width);
    const float fy = v * static_cast<float>(height);
    // The texel index is the product truncated toward zero, so (-1, width)
    // is the float range that lands inside; NaN fails both comparisons.
    // Converting anything outside that range to int would be undefined.
    if (!(fx > -1.0f && fx < static_cast<float>(width))) return kMissingTextureColor;
    if (!(fy > -1.0f && fy < static_cast<float>(height))) return kMissingTextureColor;
    const int x = static_cast<int>(fx);
    const int y = static_cast<int>(fy);
    // Float rounding of a huge width could still let x reach it.
    if (x >= width || y >= height) return kMissingTextureColor;
    return texel(x, y);
}

Vec3f ImageTexture::texel(int x, int y) const {
    if (x < 0 || y < 0) return m_border;
    const size_t i =
        (static_cast<size_t>(y) * static_cast<size_t>(m_image->width) + static_cast<size_t>(x)) * 3;
    if (m_image->eightBit()) {
        const uint8_t *p = &m_image->bytes[i];
        return Vec3f(m_byteValue[p[0]], m_byteValue[p[1]], m_byteValue[p[2]]);
    }
    const float *p = &m_image->floats[i];
    if (!m_mapping.srgb) return Vec3f(p[0], p[1], p[2]);
    return Vec3f(srgbToLinear(p[0]), srgbToLinear(p[1]), srgbToLinear(p[2]));
}

Vec3f ImageTexture::sample(float u, float v) const {
    if (m_classic) return sampleClassic(u, v);
    const int w = m_image->width, h = m_image->height;
    if (w <= 0 || h <= 0) return kMissingTextureColor;
    const ImageMapping &m = m_mapping;
    float s = (m.sflip ? 1.0f - u : u) * m.sscale + m.soffset;
    float t = (m.tflip ? 1.0f - v : v) * m.tscale + m.toffset;
    // Coordinates that are no numbers (a degenerate hit) have no texel.
    if (!std::isfinite(s) || !std::isfinite(t)) return kMissingTextureColor;
    s = reduce(s, m.swrap);
    t = reduce(t, m.twrap);

    if (m.filter == TextureFilter::Closest) {
        const int x = static_cast<int>(std::floor(s * static_cast<float>(w)));
        const int y = static_cast<int>(std::floor(t * static_cast<float>(h)));
        return texel(wrapIndex(x, w, m.swrap), wrapIndex(y, h, m.twrap));
    }
    // Bilinear: the four texel centres around the point.
    const float x = s * static_cast<float>(w) - 0.5f;
    const float y = t * static_cast<float>(h) - 0.5f;
    const float x0 = std::floor(x), y0 = std::floor(y);
    const float fx = x - x0, fy = y - y0;
    const int ix = static_cast<int>(x0), iy = static_cast<int>(y0);
    const int xa = wrapIndex(ix, w, m.swrap), xb = wrapIndex(ix + 1, w, m.swrap);
    const int ya = wrapIndex(iy, h, m.twrap), yb = wrapIndex(iy + 1, h, m.twrap);
    const Vec3f bottom = lerp(texel(xa, ya), texel(xb, ya), fx);
    const Vec3f top = lerp(texel(xa, yb), texel(xb, yb), fx);
    return lerp(bottom, top, fy);
}
