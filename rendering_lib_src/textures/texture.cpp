#include "textures/texture.h"

#include <cstddef>
#include <utility>

#include "image/imageio.h"

bool Texture::read(const std::string &fileName) {
    int w = 0, h = 0;
    std::unique_ptr<Vec3f[]> image(ReadImageTGA(fileName, &w, &h));
    if (!image) return false;
    width = w;
    height = h;
    texels = std::move(image);
    return true;
}

Vec3f Texture::sample(float u, float v) const {
    if (!texels || width <= 0 || height <= 0) return kMissingTextureColor;
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
    return texels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}
