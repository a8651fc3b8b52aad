// OpenEXR files (scanline or tiled; R, G, B or luminance Y channels) decoded
// from memory. Samples are linear light; the file's own "wrapmodes" are
// kept for textures that ask for them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/raster.h"

// False after an Error naming `name` when the bytes are no OpenEXR file,
// are damaged or cut short, or declare more pixels than they can hold.
bool decodeExr(const uint8_t *data, size_t size, const char *name, Raster &out);
