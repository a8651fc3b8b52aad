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
bool writeExr(const std::string &fileName, const float *rgb, int width, int height,
              std::string *error);
