// Readers of the geometry nodes: POLYMESH (polygons of any corner count,
// split into triangles), PLANE and SPHERE.
#pragma once

#include <string>

#include "parsers/node_reader.h"

NodeResult readPolymesh(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readPlane(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readSphere(const std::string &keyword, TextParser &parser, LoadState &state);
