// Image files: the TGA and PFM writers behind WriteImg, and the TGA reader
// used for textures.
#pragma once

#include <string>

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
