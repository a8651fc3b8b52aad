// JPEG files (grey or colour, baseline or progressive) decoded from memory
// through libjpeg.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/raster.h"

// False after an Error naming `name` when the bytes are no JPEG file, are
// damaged or cut short (libjpeg's own warnings about bad data count as
// damage: it would otherwise make up the missing pixels), or declare more
// pixels than they can hold.
bool decodeJpeg(const uint8_t *data, size_t size, const char *name, Raster &out);
