// Pictures of one frame rendered in parts (regions, tiles, bands) put back
// together. A part is an EXR file whose data window holds its region, or a
// picture of the whole frame in any format the program writes, black
// outside the region it rendered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Tile {
    std::string name;
    int width = 0, height = 0; // the whole frame
    int x0 = 0, y0 = 0;        // the first column and row of `rgb`
    int columns = 0, rows = 0; // the size of `rgb`
    // True when every pixel of `rgb` was rendered (an EXR data window);
    // false for a whole-frame picture, whose black pixels are not its own.
    bool window = false;
    std::vector<float> rgb; // columns x rows x 3, linear, row 0 at the top
};

// Reads a part by its file name's ending (.exr, .pfm, .png, .tga). 8-bit
// pictures are read as the linear values that the writers store as the same
// bytes, so that a merged 8-bit picture repeats its parts' bytes. False,
// with the reason in *error, for a file that cannot be read or is not one
// of these.
bool readTile(const std::string &fileName, Tile &tile, std::string *error);

// The whole frame from its parts: refused, with the reason in *error, when
// the parts belong to frames of different sizes, when two parts hold the
// same pixel, or when parts that are all data windows leave pixels
// uncovered.
bool mergeTiles(const std::vector<Tile> &tiles, std::vector<float> &frame, int *width,
                int *height, std::string *error);

// The linear value that every 8-bit writer stores as `byte` (0 for 0).
float linearOfDisplayByte(uint8_t byte);
