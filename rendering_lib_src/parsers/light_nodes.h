// Readers of the light nodes. Point, area, spot and distant lights are
// lights of the world; the sky dome is the world's sky; quad, disk,
// cylinder, photometric and mesh lights are drawn as a point light at their
// centre. Every light's strength is its colour x intensity x 2^exposure.
#pragma once

#include <string>

#include "parsers/node_reader.h"

NodeResult readPointLight(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readAreaLight(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readAmbientLight(const std::string &keyword, TextParser &parser, LoadState &state);
// SPOT_LIGHT and DISTANT_LIGHT.
NodeResult readPlacedLight(const std::string &keyword, TextParser &parser, LoadState &state);
// SKYDOME_LIGHT: the world's uniform sky.
NodeResult readSkyLight(const std::string &keyword, TextParser &parser, LoadState &state);
// QUAD_LIGHT, DISK_LIGHT, CYLINDER_LIGHT, PHOTOMETRIC_LIGHT and MESH_LIGHT,
// lit as a point light at their centre.
NodeResult readPointLikeLight(const std::string &keyword, TextParser &parser, LoadState &state);
// LIGHT_DECAY: a filter that fades a light by distance, bound to the lights
// whose `filters` name it.
NodeResult readLightDecay(const std::string &keyword, TextParser &parser, LoadState &state);
// Any other "..._light" type: skipped with a Warning. Not mine for keywords
// that are no light type.
NodeResult readUnsupportedLight(const std::string &keyword, TextParser &parser,
                                LoadState &state);
