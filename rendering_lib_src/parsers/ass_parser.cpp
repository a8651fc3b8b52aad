#include "parsers/ass_parser.h"

#include <glog/logging.h>

#include "bvh/accelerator_choice.h"
#include "util/error.h"
#include "materials/material.h"
#include "shapes/mesh.h"
#include "parsers/node_block.h"
#include "parsers/text_parser.h"
#include "scene/world.h"

const char kDefaultOutputFile[] = "image.tga";

namespace {

// Largest film side an image file can hold.
constexpr uint32_t kMaxResolution = 65535;

SceneFileSettings g_settings;

const char *printable(const char *path) { return path != nullptr ? path : "(null)"; }

// Lines whose first character after separators is "#" are comments between nodes.
void skipCommentLines(TextParser &parser) {
    while (!parser.eof() && parser.peekChar('#', true, false)) parser.nextLine();
}

bool resolutionUsable(uint32_t w, uint32_t h) {
    if (w == 0 || h == 0 || w > kMaxResolution || h > kMaxResolution) return false;
    // The frame buffer holds w x h x 3 floats, counted in 32 bits.
    return static_cast<uint64_t>(w) * h * 3 <= UINT32_MAX;
}

// A mesh without texture coordinates samples its textures at (0, 0): one
// colour all over. Worth a word when its material is textured.
void warnUntexturableMeshes(const World &world) {
    for (const MeshShape *mesh : world.meshes) {
        const Material *material = mesh->getMaterial();
        if (material != nullptr && !mesh->hasTextureCoordinates() && usesTexture(*material))
            Warning("Mesh %s has no texture coordinates; its textured material %s shows one "
                    "colour",
                    mesh->name.c_str(), material->name.c_str());
    }
}

} // namespace

SceneFileSettings &sceneFileSettings() { return g_settings; }

void resetSceneFileSettings() { g_settings = SceneFileSettings(); }

namespace {

// Geometry node types of the format that this renderer does not draw. A
// file whose geometry is all in such nodes would otherwise render an empty
// frame without a word.
constexpr const char *kUndrawnNodes[] = {
    "ALEMBIC", "BOX", "CONE", "CURVES", "CYLINDER", "DISK", "IMPLICIT", "NURBS",
    "POINTS", "PROCEDURAL", "USD", "VOLUME", "VOLUME_IMPLICIT",
};

bool isUndrawnNode(const std::string &keyword) {
    for (const char *type : kUndrawnNodes)
        if (keyword == type) return true;
    return false;
}

} // namespace

bool parseNode(const std::string &keyword, TextParser &parser, World &world) {
    if (keyword == "PERSP_CAMERA") return parseCamera(parser, world);
    if (keyword == "ORTHO_CAMERA") return parseOrthoCamera(parser, world);
    if (keyword == "POINT_LIGHT") return parsePointLight(parser, world);
    if (keyword == "AMBIENT_LIGHT") return parseAmbientLight(parser, world);
    if (keyword == "AREA_LIGHT") return parseAreaLight(parser, world);
    if (keyword == "POLYMESH") return parseMesh(parser, world);
    if (keyword == "OPTIONS") return parseOptions(parser, world);
    if (keyword == "DRIVER_TIFF" || keyword == "DRIVER_EXR") return parseDriver(parser, world);
    if (keyword == "MAYASHADINGENGINE") return parseShadingEngine(parser, world);
    if (keyword == "SPHERE") return parseSphere(parser, world);
    if (keyword == "PLANE") return parsePlane(parser, world);
    if (keyword == "MAYAFILE") return parseFileNode(parser, world);
    if (keyword == "GINSTANCE") return parseInstance(parser, world);
    if (keyword == "IMAGE") return parseImageNode(parser, world);
    bool refused = false;
    if (parseMaterialNode(keyword, parser, world, &refused)) return !refused;
    if (parseOtherLight(keyword, parser, world, &refused)) return !refused;
    if (keyword == "INCLUDE") {
        // "include <file>" has no block: the name of the file follows.
        std::string file;
        parser.readString(file, false);
        Warning("include \"%s\" is not read: scenes are read from one file", file.c_str());
    } else if (isUndrawnNode(keyword)) {
        warnUndrawnNode(keyword, parser);
    } else {
        // Nodes of other types are skipped with their whole block.
        parser.skipBlock(false);
    }
    return true;
}

bool loadScene(const char *path, World *&world) {
    world = new World();
    TextParser parser;
    if (!TextParser::isRegularFile(path)) {
        Error("The scene %s is not a regular file", printable(path));
        return false;
    }
    if (!parser.loadFile(path)) {
        Error("Could not find file %s", printable(path));
        return false;
    }

    parser.skipByteOrderMark();

    std::string sToken;
    while (!parser.eof()) {
        skipCommentLines(parser);
        if (!parser.readToken(sToken, true)) {
            if (!parser.eof()) parser.readChar(); // always make progress
            continue;
        }
        if (!parseNode(sToken, parser, *world)) return false;
    }

    selectCamera(*world);
    Camera *camera = world->getCamera();
    if (camera == nullptr) {
        // A zero byte near the start (the text ends there): UTF-16 or binary,
        // not a text scene. Said so rather than that it has no camera.
        if (parser.holdsZeroByte(4096))
            Error("The scene %s is not a text file (it holds zero bytes, as UTF-16 and binary "
                  "files do)",
                  printable(path));
        else if (parser.holdsControlByte(4096))
            Error("The scene %s is not a text file (it holds control bytes, as binary files "
                  "do)",
                  printable(path));
        else
            Error("Couldn't find a camera reading file %s", printable(path));
        return false;
    }
    if (!camera->usable) {
        Error("Camera %s cannot produce rays", camera->getName().c_str());
        return false;
    }
    SceneFileSettings &s = g_settings;
    if (!resolutionUsable(s.xResolution, s.yResolution)) {
        Error("Invalid resolution %u x %u", s.xResolution, s.yResolution);
        return false;
    }

    const float a = static_cast<float>(s.xResolution) / static_cast<float>(s.yResolution);
    float screenWindow[4] = {-a, a, -1.0f, 1.0f};
    if (camera->isOrthographic()) {
        // The window is the visible extent, as given.
        screenWindow[0] = camera->windowMin.x;
        screenWindow[1] = camera->windowMax.x;
        screenWindow[2] = camera->windowMin.y;
        screenWindow[3] = camera->windowMax.y;
    }
    const unsigned resolution[2] = {s.xResolution, s.yResolution};
    if (s.outputFile.empty()) {
        Warning("Output file not found, using %s", kDefaultOutputFile);
        s.outputFile = kDefaultOutputFile;
    }
    camera->setScreenWindow(screenWindow, resolution);
    camera->setOutputFileName(s.outputFile);

    expandInstances(*world, parser.size());
    if (world->primitives.empty() && world->pendingTriangles.empty())
        Warning("Nothing in %s is drawn: it has no shape this renderer draws", printable(path));
    world->resolveColorNodes();
    world->bindMaterials();
    warnUntexturableMeshes(*world);
    installAccelerator(*world, acceleratorFromEnvironment());
    return true;
}
