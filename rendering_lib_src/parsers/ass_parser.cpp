#include "parsers/ass_parser.h"

#include <glog/logging.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "materials/material.h"
#include "parsers/include_nodes.h"
#include "parsers/instance_nodes.h"
#include "parsers/light_nodes.h"
#include "parsers/load_state.h"
#include "parsers/material_nodes.h"
#include "parsers/scene_nodes.h"
#include "parsers/scene_overrides.h"
#include "parsers/shape_nodes.h"
#include "parsers/solid_nodes.h"
#include "parsers/surface_nodes.h"
#include "parsers/texture_nodes.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "util/conventions.h"
#include "util/error.h"

namespace {

// Largest film side an image file can hold.
constexpr uint32_t kMaxResolution = 65535;

const char *printable(const char *path) { return path != nullptr ? path : "(null)"; }

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

// The screen window as the format means it: the camera's window spans the
// frame's width (for a perspective camera the default window makes the field
// of view horizontal), and its height follows the frame's aspect ratio,
// pixel shape included. False, after an Error, for an aspect that is no
// number.
bool formatScreenWindow(const Camera &camera, const SceneFileSettings &s, float window[4]) {
    const float par = s.pixelAspectRatio;
    if (!(par > 0.0f) || !std::isfinite(par)) {
        Error("Invalid pixel_aspect_ratio %g", static_cast<double>(par));
        return false;
    }
    // Height over width of the frame as shown.
    const float heightPerWidth =
        static_cast<float>(s.yResolution) / (static_cast<float>(s.xResolution) * par);
    window[0] = camera.windowMin.x;
    window[1] = camera.windowMax.x;
    window[2] = camera.windowMin.y * heightPerWidth;
    window[3] = camera.windowMax.y * heightPerWidth;
    return true;
}

// A whole number from an environment variable; false when it is unset,
// and (after a Warning) when it is no whole number.
bool wholeNumbersFromEnvironment(const char *variable, int count, int *out) {
    const char *text = std::getenv(variable);
    if (text == nullptr || text[0] == '\0') return false;
    const char *p = text;
    for (int i = 0; i < count; ++i) {
        char *end = nullptr;
        const long v = std::strtol(p, &end, 10);
        if (end == p || v < -1 || v > 1000000) {
            Warning("%s \"%s\" is not %d whole numbers; it is not used", variable, text, count);
            return false;
        }
        out[i] = static_cast<int>(v);
        p = end;
    }
    return true;
}

// Samples, pixel filter and region of a sampled render: the options', or
// VORTAN_SAMPLES and VORTAN_REGION (x0 y0 x1 y1, inclusive) in their place.
// False, after an Error, for a region outside the frame.
bool setUpFilm(const LoadState &state, const SceneFileSettings &s, FilmSettings &film) {
    film.aaSamples = s.aaSamples;
    wholeNumbersFromEnvironment("VORTAN_SAMPLES", 1, &film.aaSamples);
    // Fewer than one sample is one; more than 64 x 64 is beyond any use.
    if (film.aaSamples < 1) film.aaSamples = 1;
    if (film.aaSamples > 64) {
        Warning("AA_samples %d is more than 64; using 64", film.aaSamples);
        film.aaSamples = 64;
    }
    state.choosePixelFilter(s.selectedFilter, film);
    int region[4] = {s.region[0], s.region[1], s.region[2], s.region[3]};
    wholeNumbersFromEnvironment("VORTAN_REGION", 4, region);
    const int w = static_cast<int>(s.xResolution), h = static_cast<int>(s.yResolution);
    if (region[0] < 0) region[0] = 0;
    if (region[1] < 0) region[1] = 0;
    if (region[2] < 0 || region[2] >= w) region[2] = w - 1;
    if (region[3] < 0 || region[3] >= h) region[3] = h - 1;
    if (region[0] > region[2] || region[1] > region[3]) {
        Error("The region %d %d %d %d holds no pixel of the %d x %d frame", region[0], region[1],
              region[2], region[3], w, h);
        return false;
    }
    film.regionMinX = region[0];
    film.regionMinY = region[1];
    film.regionMaxX = region[2];
    film.regionMaxY = region[3];
    return true;
}

struct KeywordReader {
    const char *keyword;
    NodeReader read;
    // Read under the format's conventions only; skipped like any unknown
    // node under the classic ones.
    bool formatOnly = false;
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
    {"IMAGE", readImageTexture},
    {"CHECKERBOARD", readCheckerboard},
    {"RAMP_RGB", readRamp},
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
    {"LIGHT_DECAY", readLightDecay, true},
    {"GAUSSIAN_FILTER", readFilterNode, true},
    {"BOX_FILTER", readFilterNode, true},
    {"INCLUDE", readInclude},
    {"ALEMBIC", readUndrawnNode},
    {"BOX", readBox},
    {"CONE", readConeNode},
    {"CURVES", readUndrawnNode},
    {"CYLINDER", readConeNode},
    {"DISK", readDisk},
    {"IMPLICIT", readUndrawnNode},
    {"NURBS", readUndrawnNode},
    {"POINTS", readUndrawnNode},
    {"PROCEDURAL", readProcedural},
    {"USD", readUndrawnNode},
    {"VOLUME", readUndrawnNode},
    {"VOLUME_IMPLICIT", readUndrawnNode},
};

// Readers asked in turn for keywords of no entry.
constexpr NodeReader kFallbackReaders[] = {readUnsupportedLight};

} // namespace

NodeResult dispatchNode(const std::string &keyword, TextParser &parser, LoadState &state) {
    for (const KeywordReader &entry : kReaders)
        if (keyword == entry.keyword && (!entry.formatOnly || !state.world.classic()))
            return entry.read(keyword, parser, state);
    for (NodeReader read : kFallbackReaders) {
        const NodeResult result = read(keyword, parser, state);
        if (result != NodeResult::NotMine) return result;
    }
    // Nodes of other types are skipped with their whole block; their names
    // are kept, so that a shape naming one as its shader can be told why it
    // is grey.
    std::string name = skipNodeKeepingName(parser);
    TextParser::toUpper(name);
    if (!name.empty()) state.noteSkippedNode(name, keyword);
    return NodeResult::Read;
}

bool loadScene(const char *path, World *&world, const LoadRequest &request) {
    world = new World();
    world->conventions = conventionsFromEnvironment();
    LoadState state(*world);
    // Settings from outside the file go into the nodes they name, in the
    // scene file and in the files it includes.
    state.overrides = request.overrides;
    state.readNode = [](const std::string &keyword, TextParser &p, LoadState &s) {
        const NodeResult result = s.overrides != nullptr
                                      ? s.overrides->readNode(keyword, p, s, dispatchNode)
                                      : dispatchNode(keyword, p, s);
        return result != NodeResult::Refused;
    };
    TextParser parser;
    if (!TextParser::isRegularFile(path)) {
        Error("The scene %s is not a regular file", printable(path));
        return false;
    }
    if (path == nullptr) {
        Error("Could not find file %s", printable(path));
        return false;
    }
    switch (openSceneText(path, parser)) {
    case SceneText::Loaded:
        break;
    case SceneText::Unreadable:
        Error("Could not find file %s", printable(path));
        return false;
    case SceneText::Damaged:
        return false;
    }

    // The scene file is the first of the files read: the files it names
    // are looked for beside it.
    LoadState::SourceFile file;
    file.path = path;
    file.identity = fileIdentity(path);
    state.distinctBytes = parser.size();
    state.filesRead.push_back({file.identity, state.distinctBytes});
    state.enterFile(std::move(file));
    if (!readSceneNodes(parser, state)) return false;
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

    float screenWindow[4];
    if (world->classic()) {
        // The window spans the height: the field of view is vertical.
        const float a = static_cast<float>(s.xResolution) / static_cast<float>(s.yResolution);
        screenWindow[0] = -a;
        screenWindow[1] = a;
        screenWindow[2] = -1.0f;
        screenWindow[3] = 1.0f;
        if (camera->isOrthographic()) {
            // The window is the visible extent, as given.
            screenWindow[0] = camera->windowMin.x;
            screenWindow[1] = camera->windowMax.x;
            screenWindow[2] = camera->windowMin.y;
            screenWindow[3] = camera->windowMax.y;
        }
    } else if (!formatScreenWindow(*camera, s, screenWindow)) {
        return false;
    }
    const unsigned resolution[2] = {s.xResolution, s.yResolution};
    if (s.outputFile.empty()) {
        if (!request.outputNamedByHost)
            Warning("Output file not found, using %s", kDefaultOutputFile);
        s.outputFile = kDefaultOutputFile;
    }
    camera->setScreenWindow(screenWindow, resolution);
    camera->setOutputFileName(s.outputFile);

    if (!world->classic() && !setUpFilm(state, s, world->film)) return false;
    if (!world->classic()) {
        // Moving nodes show the middle of the shutter (by default the middle
        // of the time their keys span).
        const float time = camera->shutterGiven
                               ? 0.5f * (camera->shutterStart + camera->shutterEnd)
                               : 0.5f * (s.motionStart + s.motionEnd);
        state.placeMovingNodes(time, s.motionStart, s.motionEnd);
        state.buildLightSurfaces();
    }
    expandInstances(state, static_cast<size_t>(state.distinctBytes));
    if (world->drawsNothing())
        Warning("Nothing in %s is drawn: it has no shape this renderer draws", printable(path));
    state.bindColorNodes();
    state.bindMaterials();
    state.bindLightLinks();
    state.bindLightFilters();
    warnUntexturableMeshes(*world);
    return true;
}
