// Instance nodes: a node that draws another shape again, placed by its own
// matrix. They are read as they come and expanded into shapes after the
// whole file is read, so an instance may name a shape defined after it.
#pragma once

#include <cstddef>
#include <string>

#include "parsers/node_reader.h"

NodeResult readInstance(const std::string &keyword, TextParser &parser, LoadState &state);
// Draws every visible instance read. The triangles instances add are
// bounded in proportion to the size of the file (fileBytes), up to a fixed
// ceiling.
void expandInstances(LoadState &state, size_t fileBytes);
