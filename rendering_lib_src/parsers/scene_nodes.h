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
    // Read by the format's conventions only.
    int aaSamples = 1;
    std::string selectedFilter;    // the filter node of the selected output (upper-cased)
    int region[4] = {-1, -1, -1, -1}; // region_min_x, region_min_y, region_max_x, region_max_y
    float pixelAspectRatio = 1.0f; // a pixel's width over its height
    float motionStart = 0.0f, motionEnd = 1.0f; // the time the motion keys span
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
// MAYAFILE: an image file node, its image read at once (nearest-texel lookups).
NodeResult readFileNode(const std::string &keyword, TextParser &parser, LoadState &state);
// Passes a node's whole block, nested blocks included, and returns the
// value of its NAME parameter (case kept) when it has one in the first 64 KB
// of the block before any nested block.
std::string skipNodeKeepingName(TextParser &parser);
// GAUSSIAN_FILTER and BOX_FILTER: the pixel filter an output names.
NodeResult readFilterNode(const std::string &keyword, TextParser &parser, LoadState &state);
// Geometry node types this renderer cannot draw: one Warning naming the
// node, then its block is passed.
NodeResult readUndrawnNode(const std::string &keyword, TextParser &parser, LoadState &state);
