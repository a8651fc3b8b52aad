// The pixels of an image file read for texturing: width x height RGB
// texels, row 0 at the bottom and column 0 at the left, whatever order the
// file stores them in. 8-bit files keep their bytes (a quarter of the
// memory of floats); deeper ones are held as floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Most texels an image may have (a 16384 x 16384 picture).
constexpr uint64_t kMaxImageTexels = uint64_t{1} << 28;

struct Raster {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes; // 3 per texel (red, green, blue) for 8-bit files
    std::vector<float> floats;  // 3 per texel for deeper files; 16-bit integers scaled to 0..1
    // The file held half or float samples: linear light, not sRGB.
    bool floatingPoint = false;
    // The wrap modes the file names for itself ("periodic,clamp"); empty
    // when it names none.
    std::string wrapModes;

    bool eightBit() const { return !bytes.empty(); }
    size_t texelCount() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
};

// Checks the sides a file declares before anything is allocated for them:
// both at least 1, at most kMaxImageTexels together, and no more raw sample
// bytes than the file's compression could make of fileSize bytes
// (maxExpansion bytes out per byte in). False after an Error naming the
// file otherwise.
bool imageSizeUsable(const char *format, const char *name, uint64_t width, uint64_t height,
                     uint64_t rawBytes, uint64_t fileSize, uint64_t maxExpansion);

// Sets the sides and sizes the sample storage (bytes or floats, zeroed).
void allocateRaster(Raster &raster, int width, int height, bool eightBit);

// Reverses the row order in place (files that store the top row first).
void flipRows(Raster &raster);
