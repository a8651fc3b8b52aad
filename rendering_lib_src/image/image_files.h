// Image files read for texturing, whatever their format: TGA, PNG, JPEG,
// TIFF (and the tiled .tx form) and OpenEXR, chosen by the file's ending.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/raster.h"

enum class ImageFormat { Tga, Png, Jpeg, Tiff, Exr };

// The format a file name's ending (any case) names; TGA for any other
// ending, the format this renderer has always read.
ImageFormat imageFormatOfName(const std::string &fileName);
const char *imageFormatName(ImageFormat format);

// Decodes the bytes of a file of the given format. False after an Error
// naming `name` when they are not a readable image.
bool decodeImage(const uint8_t *data, size_t size, ImageFormat format, const char *name,
                 Raster &out);

// Reads and decodes an image file. False after an Error when it cannot be
// opened (or is no regular file) or read.
bool readImageFile(const std::string &fileName, Raster &out);
