// PNG files (any bit depth and colour type; palette, grey and alpha are
// brought to RGB, alpha is dropped) decoded from memory through libpng.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/raster.h"

// False after an Error naming `name` when the bytes are no PNG file, are
// damaged or cut short, or declare more pixels than they can hold.
bool decodePng(const uint8_t *data, size_t size, const char *name, Raster &out);
