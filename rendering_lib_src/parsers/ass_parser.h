// Scene file loader: reads a scene text (nodes of a keyword and a brace
// block of parameters) into a World, node by node, through the node readers
// of a keyword table, then completes the scene: camera check, screen
// window, output file, instances, material and texture binding.
#pragma once

#include <string>

#include "parsers/node_reader.h"

class LoadState;
class SceneOverrides;
class TextParser;
class World;

// What a load asks beyond the file itself.
struct LoadRequest {
    // Parameters set from outside the file; may be null.
    SceneOverrides *overrides = nullptr;
    // The host names the picture file itself: no warning when no driver of
    // the file names one.
    bool outputNamedByHost = false;
};

// Creates a new World in `world` at once and fills it from the file. False,
// after an Error, when the file cannot be read, a node is refused, a
// setting of the request names no node or parameter of the file, there is
// no camera or the resolution is unusable. Builds no accelerator.
bool loadScene(const char *path, World *&world, const LoadRequest &request = LoadRequest());
// Hands one node to the reader of its upper-cased keyword; nodes of no
// reader are skipped with their block.
NodeResult dispatchNode(const std::string &keyword, TextParser &parser, LoadState &state);
