// Scene file loader: reads a scene text (nodes of a keyword and a brace
// block of parameters) into a World, node by node, then completes the scene:
// camera check, screen window, output file, material binding.
#pragma once

#include <cstdint>
#include <string>

#include "transform.h"
#include "vecmath.h"

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
// Dispatches one node by its upper-cased keyword. False only when a mesh is refused.
bool parseNode(const std::string &keyword, TextParser &parser, World &world);

// Sixteen numbers; the k-th becomes row k mod 4, column k div 4.
void readMatrix(TextParser &parser, Transform &out);
Vec3f readVector(TextParser &parser);
Point3f readPoint(TextParser &parser);
Point2f readPoint2(TextParser &parser);

// Shape nodes.
bool parseMesh(TextParser &parser, World &world);
void parsePlane(TextParser &parser, World &world);
void parseSphere(TextParser &parser, World &world);

// Scene nodes.
void parseOptions(TextParser &parser, World &world);
void parseCamera(TextParser &parser, World &world);
void parsePointLight(TextParser &parser, World &world);
void parseAreaLight(TextParser &parser, World &world);
void parseAmbientLight(TextParser &parser, World &world);
void parseDriver(TextParser &parser, World &world);
void parseShadingEngine(TextParser &parser, World &world);
void parseFileNode(TextParser &parser, World &world);
