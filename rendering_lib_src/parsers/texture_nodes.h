// Readers of the texture nodes that colour parameters may name: IMAGE (an
// image file with its wrap modes, scale, flip, colour space and filter),
// CHECKERBOARD and RAMP_RGB.
#pragma once

#include <string>

#include "parsers/node_reader.h"

NodeResult readImageTexture(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readCheckerboard(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readRamp(const std::string &keyword, TextParser &parser, LoadState &state);
