// The picture formats the program writes itself: PNG (8-bit, the display
// gamma of the TGA writer, said so by a gAMA chunk of 1/2.3) and OpenEXR
// (32-bit float, linear RGB). Frames are width x height x 3 floats, row 0 at
// the top.
#pragma once

#include <string>

// Each returns true when the file was written whole; otherwise false, with
// the reason in *error.
bool writePng(const std::string &fileName, const float *rgb, int width, int height,
              std::string *error);
// The pixels of a frame an EXR file holds: columns x0 to x1 and rows y0 to
// y1, inclusive (row 0 at the top).
struct PixelWindow {
    int x0, y0, x1, y1;
};

// With `window`, the file holds those pixels alone as its data window, in a
// display window of the whole frame; `rgb` is still the whole frame.
bool writeExr(const std::string &fileName, const float *rgb, int width, int height,
              std::string *error, const PixelWindow *window = nullptr);
