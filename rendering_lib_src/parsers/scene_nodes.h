// Readers of the non-geometric nodes: options, cameras, output drivers,
// shading engines and image file nodes, and the process-wide settings the
// options and driver nodes write.
#pragma once

#include <cstdint>
#include <string>

#include "parsers/node_reader.h"

// Process-wide settings written by the OPTIONS and driver nodes. They are
// not reset between two loads in one process.
struct SceneFileSettings {
    uint32_t xResolution = 600;
    uint32_t yResolution = 600;
    std::string selectedCamera; // camera node name to use (case-sensitive)
    std::string selectedDriver; // driver node name to use (upper-cased)
    std::string outputFile;     // FILENAME of the selected driver
    bool hasFrame = false;      // the options gave a FRAME
    float frame = 0.0f;
};
SceneFileSettings &sceneFileSettings();
// Back to the start-up values; for hosts and tests that load unrelated scenes.
void resetSceneFileSettings();

// The default output path used when no driver chose one.
extern const char kDefaultOutputFile[];

NodeResult readOptions(const std::string &keyword, TextParser &parser, LoadState &state);
// PERSP_CAMERA and ORTHO_CAMERA. Every camera node is kept; selectCamera
// picks one at the end.
NodeResult readCameraNode(const std::string &keyword, TextParser &parser, LoadState &state);
// Makes the camera the options named (the last node of that name) the
// world's camera, or else the first camera node of the file.
void selectCamera(LoadState &state);
NodeResult readDriver(const std::string &keyword, TextParser &parser, LoadState &state);
NodeResult readShadingEngine(const std::string &keyword, TextParser &parser, LoadState &state);
// MAYAFILE: an image file node, its TGA read at once.
NodeResult readFileNode(const std::string &keyword, TextParser &parser, LoadState &state);
// "image" nodes: a texture file like MAYAFILE's, used when it is a TGA image.
NodeResult readImageNode(const std::string &keyword, TextParser &parser, LoadState &state);
// Passes a node's whole block, nested blocks included, and returns the
// value of its NAME parameter (case kept) when it has one in the first 64 KB
// of the block before any nested block.
std::string skipNodeKeepingName(TextParser &parser);
// Geometry node types this renderer cannot draw: one Warning naming the
// node, then its block is passed.
NodeResult readUndrawnNode(const std::string &keyword, TextParser &parser, LoadState &state);
