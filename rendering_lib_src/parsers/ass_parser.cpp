#include "parsers/ass_parser.h"

#include <glog/logging.h>

#include <cstdint>

#include "materials/material.h"
#include "parsers/instance_nodes.h"
#include "parsers/light_nodes.h"
#include "parsers/load_state.h"
#include "parsers/material_nodes.h"
#include "parsers/scene_nodes.h"
#include "parsers/scene_overrides.h"
#include "parsers/shape_nodes.h"
#include "parsers/surface_nodes.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "util/conventions.h"
#include "util/error.h"

namespace {

// Largest film side an image file can hold.
constexpr uint32_t kMaxResolution = 65535;

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

// "include <file>" has no block: the name of the file follows.
NodeResult readInclude(const std::string &, TextParser &parser, LoadState &) {
    std::string file;
    parser.readString(file, false);
    Warning("include \"%s\" is not read: scenes are read from one file", file.c_str());
    return NodeResult::Read;
}

struct KeywordReader {
    const char *keyword;
    NodeReader read;
};

// The reader of every node keyword this loader knows. Geometry types it
// cannot draw are named too: a file whose geometry is all in such nodes
// would otherwise render an empty frame without a word.
constexpr KeywordReader kReaders[] = {
    {"PERSP_CAMERA", readCameraNode},
    {"ORTHO_CAMERA", readCameraNode},
    {"POINT_LIGHT", readPointLight},
    {"AMBIENT_LIGHT", readAmbientLight},
    {"AREA_LIGHT", readAreaLight},
    {"POLYMESH", readPolymesh},
    {"OPTIONS", readOptions},
    {"DRIVER_TIFF", readDriver},
    {"DRIVER_EXR", readDriver},
    {"MAYASHADINGENGINE", readShadingEngine},
    {"SPHERE", readSphere},
    {"PLANE", readPlane},
    {"MAYAFILE", readFileNode},
    {"GINSTANCE", readInstance},
    {"IMAGE", readImageNode},
    {"LAMBERT", readLambert},
    {"AISTANDARD", readAiStandard},
    {"STANDARD", readStandard},
    {"BLINN", readBlinn},
    {"STANDARD_SURFACE", readStandardSurface},
    {"FLAT", readFlat},
    {"UTILITY", readFlat},
    {"SPOT_LIGHT", readPlacedLight},
    {"DISTANT_LIGHT", readPlacedLight},
    {"SKYDOME_LIGHT", readSkyLight},
    {"QUAD_LIGHT", readPointLikeLight},
    {"DISK_LIGHT", readPointLikeLight},
    {"CYLINDER_LIGHT", readPointLikeLight},
    {"PHOTOMETRIC_LIGHT", readPointLikeLight},
    {"MESH_LIGHT", readPointLikeLight},
    {"INCLUDE", readInclude},
    {"ALEMBIC", readUndrawnNode},
    {"BOX", readUndrawnNode},
    {"CONE", readUndrawnNode},
    {"CURVES", readUndrawnNode},
    {"CYLINDER", readUndrawnNode},
    {"DISK", readUndrawnNode},
    {"IMPLICIT", readUndrawnNode},
    {"NURBS", readUndrawnNode},
    {"POINTS", readUndrawnNode},
    {"PROCEDURAL", readUndrawnNode},
    {"USD", readUndrawnNode},
    {"VOLUME", readUndrawnNode},
    {"VOLUME_IMPLICIT", readUndrawnNode},
};

// Readers asked in turn for keywords of no entry.
constexpr NodeReader kFallbackReaders[] = {readUnsupportedLight};

} // namespace

NodeResult dispatchNode(const std::string &keyword, TextParser &parser, LoadState &state) {
    for (const KeywordReader &entry : kReaders)
        if (keyword == entry.keyword) return entry.read(keyword, parser, state);
    for (NodeReader read : kFallbackReaders) {
        const NodeResult result = read(keyword, parser, state);
        if (result != NodeResult::NotMine) return result;
    }
    // Nodes of other types are skipped with their whole block.
    parser.skipBlock(false);
    return NodeResult::Read;
}

bool loadScene(const char *path, World *&world, const LoadRequest &request) {
    world = new World();
    world->conventions = conventionsFromEnvironment();
    LoadState state(*world);
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
        const NodeResult result =
            request.overrides != nullptr
                ? request.overrides->readNode(sToken, parser, state, dispatchNode)
                : dispatchNode(sToken, parser, state);
        if (result == NodeResult::Refused) return false;
    }
    if (request.overrides != nullptr && !request.overrides->finish(state, dispatchNode))
        return false;

    selectCamera(state);
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
    SceneFileSettings &s = sceneFileSettings();
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
        if (!request.outputNamedByHost)
            Warning("Output file not found, using %s", kDefaultOutputFile);
        s.outputFile = kDefaultOutputFile;
    }
    camera->setScreenWindow(screenWindow, resolution);
    camera->setOutputFileName(s.outputFile);

    expandInstances(state, parser.size());
    if (world->drawsNothing())
        Warning("Nothing in %s is drawn: it has no shape this renderer draws", printable(path));
    state.bindColorNodes();
    state.bindMaterials();
    warnUntexturableMeshes(*world);
    return true;
}
