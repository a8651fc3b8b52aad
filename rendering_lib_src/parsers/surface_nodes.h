// Readers of the surface shaders of current exporters: standard_surface,
// and flat and utility (a colour shown unlit). Their parameters are mapped
// onto the Whitted terms in one place (readStandardSurface).
#pragma once

#include <string>

#include "parsers/node_reader.h"

NodeResult readStandardSurface(const std::string &keyword, TextParser &parser,
                               LoadState &state);
// FLAT and UTILITY.
NodeResult readFlat(const std::string &keyword, TextParser &parser, LoadState &state);
