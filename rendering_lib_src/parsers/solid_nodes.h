// Readers of the analytic solid nodes: BOX (min, max), DISK (radius,
// hole), CYLINDER (bottom, top, radius) and CONE (bottom, top,
// bottom_radius, top_radius), each placed by its matrix.
#pragma once

#include <string>

#include "parsers/node_reader.h"

NodeResult readBox(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readDisk(const std::string &keyword, TextParser &parser, LoadState &state);
// CYLINDER and CONE.
NodeResult readConeNode(const std::string &keyword, TextParser &parser, LoadState &state);
