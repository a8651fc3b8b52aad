// Readers of the classic shader nodes: LAMBERT, AISTANDARD (and STANDARD,
// which has the same parameters and an IOR) and BLINN.
#pragma once

#include <string>

#include "parsers/node_reader.h"

NodeResult readLambert(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readAiStandard(const std::string &keyword, TextParser &parser, LoadState &state);
// STANDARD: AISTANDARD's parameters and the refraction index IOR.
NodeResult readStandard(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readBlinn(const std::string &keyword, TextParser &parser, LoadState &state);
