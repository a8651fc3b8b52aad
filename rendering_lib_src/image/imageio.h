// Image files: the TGA and PFM writers behind WriteImg, and the TGA reader
// used for textures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/raster.h"
#include "util/api.h"
#include "util/vecmath.h"

// Writes a width x height RGB float frame (row 0 at the top) as an image
// file chosen by the name's ending. Returns 1 when the file was written
// whole, 0 otherwise; failures are also described on standard error.
extern "C" RENDERING_API int WriteImg(const char *fileName, float *rgb, void *extraPlane,
                                      int width, int height, int fullWidth, int fullHeight,
                                      int xOffset, int yOffset);

// 24-bit uncompressed TGA, gamma 1/2.3, bottom row first. True when written whole.
bool WriteImageTGA(const std::string &fileName, const float *rgb, int width, int height);
// Colour PFM, linear little-endian floats, bottom row first. True when written whole.
bool WriteImagePFM(const std::string &fileName, const float *rgb, int width, int height);

// Reads an uncompressed true-colour (24/32-bit) or grey (8-bit) TGA file into
// width x height colours in 0..1, row 0 at the bottom. Null on failure, after
// an Error; the array is the caller's (allocated with new[]).
Vec3f *ReadImageTGA(const std::string &fileName, int *width, int *height);

// The same format from memory into a raster (bytes, bottom row first). On
// failure an Error names `name`; when the header was accepted but the
// pixels fall short, the raster still holds the declared sides.
bool decodeTga(const uint8_t *data, size_t size, const char *name, Raster &out);
