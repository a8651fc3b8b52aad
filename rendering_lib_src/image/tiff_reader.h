// TIFF files, striped or tiled (the .tx form of textures is a tiled TIFF),
// decoded from memory through libtiff. 16-bit integer, half and float
// samples keep their precision; every other layout libtiff can turn into
// 8-bit RGBA is read that way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/raster.h"

// False after an Error naming `name` when the bytes are no TIFF file, are
// damaged or cut short, or declare more pixels than they can hold.
bool decodeTiff(const uint8_t *data, size_t size, const char *name, Raster &out);
