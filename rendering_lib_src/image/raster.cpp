#include "image/raster.h"

#include <algorithm>

#include "util/error.h"

bool imageSizeUsable(const char *format, const char *name, uint64_t width, uint64_t height,
                     uint64_t rawBytes, uint64_t fileSize, uint64_t maxExpansion) {
    if (width == 0 || height == 0) {
        Error("%s image \"%s\" has no pixels (%llux%llu)", format, name,
              static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
        return false;
    }
    // Each side is at most 2^32, so the product cannot overflow.
    if (width > kMaxImageTexels || height > kMaxImageTexels ||
        width * height > kMaxImageTexels) {
        Error("%s image \"%s\" is too large (%llux%llu)", format, name,
              static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
        return false;
    }
    // A small file that declares a huge picture is damaged (or hostile):
    // refused before its pixels are allocated.
    if (rawBytes / maxExpansion > fileSize) {
        Error("%s image \"%s\" declares %llux%llu pixels, more than its %llu bytes can hold",
              format, name, static_cast<unsigned long long>(width),
              static_cast<unsigned long long>(height), static_cast<unsigned long long>(fileSize));
        return false;
    }
    return true;
}

void allocateRaster(Raster &raster, int width, int height, bool eightBit) {
    raster.width = width;
    raster.height = height;
    const size_t samples = raster.texelCount() * 3;
    raster.bytes.assign(eightBit ? samples : 0, 0);
    raster.floats.assign(eightBit ? 0 : samples, 0.0f);
}

void flipRows(Raster &raster) {
    const size_t row = static_cast<size_t>(raster.width) * 3;
    const size_t h = static_cast<size_t>(raster.height);
    for (size_t y = 0; y < h / 2; ++y) {
        if (raster.eightBit())
            std::swap_ranges(raster.bytes.begin() + y * row, raster.bytes.begin() + (y + 1) * row,
                             raster.bytes.begin() + (h - 1 - y) * row);
        else
            std::swap_ranges(raster.floats.begin() + y * row,
                             raster.floats.begin() + (y + 1) * row,
                             raster.floats.begin() + (h - 1 - y) * row);
    }
}
