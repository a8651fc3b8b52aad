// Scene file loader: reads a scene text (nodes of a keyword and a brace
// block of parameters) into a World, node by node, then completes the scene:
// camera check, screen window, output file, material binding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/transform.h"
#include "util/vecmath.h"

class TextParser;
class World;

// Process-wide settings written by the OPTIONS and driver nodes. They are
// not reset between two loads in one process.
struct SceneFileSettings {
    uint32_t xResolution = 600;
    uint32_t yResolution = 600;
    std::string selectedCamera; // camera node name to use (case-sensitive)
    std::string selectedDriver; // driver node name to use (upper-cased)
    std::string outputFile;     // FILENAME of the selected driver
};
SceneFileSettings &sceneFileSettings();
// Back to the start-up values; for hosts and tests that load unrelated scenes.
void resetSceneFileSettings();

// The default output path used when no driver chose one.
extern const char kDefaultOutputFile[];

// Creates a new World in `world` at once and fills it from the file. False,
// after an Error, when the file cannot be read, a mesh is refused, there is
// no camera or the resolution is unusable.
bool loadScene(const char *path, World *&world);
// Dispatches one node by its upper-cased keyword. False when the node is refused.
bool parseNode(const std::string &keyword, TextParser &parser, World &world);

// Node readers. Each returns false, after an Error, when the node is
// refused (a damaged value, a mesh whose lists do not fit); the load ends.

// Shape nodes.
bool parseMesh(TextParser &parser, World &world);
bool parsePlane(TextParser &parser, World &world);
bool parseSphere(TextParser &parser, World &world);
// Instances: recorded while reading, expanded by expandInstances after the
// last node. The triangles instances add are bounded in proportion to the
// size of the file (fileBytes), up to a fixed ceiling.
bool parseInstance(TextParser &parser, World &world);
void expandInstances(World &world, size_t fileBytes);

// Scene nodes.
bool parseOptions(TextParser &parser, World &world);
bool parseCamera(TextParser &parser, World &world);
bool parseOrthoCamera(TextParser &parser, World &world);
// Makes the camera the options named (the last node of that name) the
// world's camera, or else the first camera node of the file.
void selectCamera(World &world);
bool parsePointLight(TextParser &parser, World &world);
bool parseAreaLight(TextParser &parser, World &world);
bool parseAmbientLight(TextParser &parser, World &world);
// Light types beyond point, area and ambient. False, reading nothing, when
// the keyword is no light type; *refused is set when the node had a damaged
// value. Unsupported "..._light" types are skipped with a Warning.
bool parseOtherLight(const std::string &keyword, TextParser &parser, World &world,
                     bool *refused);
bool parseDriver(TextParser &parser, World &world);
bool parseShadingEngine(TextParser &parser, World &world);
bool parseFileNode(TextParser &parser, World &world);
// "image" nodes: a texture file like MAYAFILE's, used when it is a TGA image.
bool parseImageNode(TextParser &parser, World &world);
// Geometry node types this renderer cannot draw: one Warning naming the
// node, then its block is passed.
void warnUndrawnNode(const std::string &keyword, TextParser &parser);
