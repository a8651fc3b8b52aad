// Readers of the non-geometric nodes: options, cameras, lights, output
// drivers, shading engines and image file nodes.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "parsers/scene_nodes.h"

#include "parsers/array_reader.h"
#include "parsers/value_reader.h"
#include "parsers/load_state.h"
#include "parsers/node_reader.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "util/error.h"

const char kDefaultOutputFile[] = "image.tga";

namespace {

SceneFileSettings g_settings;

// The options' OUTPUTS entries are "<aov> <type> <filter> <driver>", or
// "<camera> <aov> <type> <filter> <driver>" for one camera: the driver and
// filter names are used (and the camera's, when given). Empty when the
// entry has fewer than four words.
std::string driverOfOutput(const std::string &entry, std::string *camera,
                           std::string *filter) {
    // Words are split at blanks only: driver names keep ":" and "/".
    std::vector<std::string> words;
    size_t i = 0;
    while (words.size() < 5) {
        while (i < entry.size() && (entry[i] == ' ' || entry[i] == '\t')) ++i;
        if (i == entry.size()) break;
        const size_t start = i;
        while (i < entry.size() && entry[i] != ' ' && entry[i] != '\t') ++i;
        words.push_back(entry.substr(start, i - start));
    }
    if (words.size() < 4) return std::string();
    if (words.size() == 5) *camera = words[0];
    *filter = words[words.size() - 2];
    TextParser::toUpper(*filter);
    std::string driver = words.back();
    TextParser::toUpper(driver);
    return driver;
}

} // namespace

SceneFileSettings &sceneFileSettings() { return g_settings; }

void resetSceneFileSettings() { g_settings = SceneFileSettings(); }

namespace {

// The settings of an included file count only where no file that includes
// it has given its own: its options node is passed over once a shallower
// file's options were read.
bool passedInInclude(TextParser &parser, LoadState &state) {
    if (state.optionsDepth < 0 || state.includeDepth() <= state.optionsDepth) {
        state.optionsDepth = state.includeDepth();
        return false;
    }
    parser.skipBlock(false);
    INFO_LOG << "Options of the included file " << state.files().back().path
             << " passed over: the including scene's options are used";
    return true;
}

} // namespace

NodeResult readOptions(const std::string &, TextParser &parser, LoadState &state) {
    if (passedInInclude(parser, state)) return NodeResult::Read;
    const bool format = !state.world.classic();
    SceneFileSettings &s = sceneFileSettings();
    s.xResolution = 600;
    s.yResolution = 600;
    s.pixelAspectRatio = 1.0f;
    s.motionStart = 0.0f;
    s.motionEnd = 1.0f;
    s.aaSamples = 1;
    for (int &r : s.region) r = -1;
    std::string name;
    const NodeRef node{"Options", name};
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        int32_t i = 0;
        float f = 0.0f;
        if (key == "NAME") {
            ok = readStringValue(parser, node, "name", name, true);
        } else if (key == "AA_SAMPLES") {
            ok = readIntValue(parser, node, "AA_samples", i);
            if (format) s.aaSamples = i;
        } else if (format && (key == "REGION_MIN_X" || key == "REGION_MIN_Y" ||
                              key == "REGION_MAX_X" || key == "REGION_MAX_Y")) {
            const int k = (key[8] == 'A' ? 2 : 0) + (key[11] == 'Y' ? 1 : 0);
            ok = readIntValue(parser, node, "region", s.region[k]);
        } else if (key == "OUTPUTS") {
            std::vector<std::string> entries;
            ok = readStringList(parser, node, "outputs", entries, false);
            // The first entry for every camera, or for the selected one,
            // names the driver; else the first entry that names one.
            std::string fallback, fallbackFilter;
            for (const std::string &entry : entries) {
                std::string camera, filter;
                const std::string driver = driverOfOutput(entry, &camera, &filter);
                if (driver.empty()) continue;
                if (camera.empty() || camera == s.selectedCamera) {
                    fallback.clear();
                    s.selectedDriver = driver;
                    s.selectedFilter = filter;
                    break;
                }
                if (fallback.empty()) {
                    fallback = driver;
                    fallbackFilter = filter;
                }
            }
            if (!fallback.empty()) {
                s.selectedDriver = fallback;
                s.selectedFilter = fallbackFilter;
            }
            INFO_LOG << "Driver selected " << shownName(s.selectedDriver);
        } else if (key == "XRES") {
            i = static_cast<int32_t>(s.xResolution);
            ok = readIntValue(parser, node, "xres", i);
            s.xResolution = static_cast<uint32_t>(i);
            INFO_LOG << "xResolution " << s.xResolution;
        } else if (key == "YRES") {
            i = static_cast<int32_t>(s.yResolution);
            ok = readIntValue(parser, node, "yres", i);
            s.yResolution = static_cast<uint32_t>(i);
            INFO_LOG << "yResolution " << s.yResolution;
        } else if (key == "ASPECT_RATIO") {
            ok = readFloatValue(parser, node, "aspect_ratio", f);
        } else if (format && key == "PIXEL_ASPECT_RATIO") {
            ok = readFloatValue(parser, node, "pixel_aspect_ratio", s.pixelAspectRatio);
        } else if (format && key == "MOTION_START") {
            ok = readFloatValue(parser, node, "motion_start", s.motionStart);
        } else if (format && key == "MOTION_END") {
            ok = readFloatValue(parser, node, "motion_end", s.motionEnd);
        } else if (key == "CAMERA") {
            ok = readStringValue(parser, node, "camera", s.selectedCamera, false);
            INFO_LOG << "Selected camera " << shownName(s.selectedCamera);
        } else if (key == "TEXTURE_GAMMA" || key == "LIGHT_GAMMA" || key == "SHADER_GAMMA") {
            ok = readFloatValue(parser, node, "gamma", f);
        } else if (key == "GI_DIFFUSE_DEPTH" || key == "GI_GLOSSY_DEPTH" ||
                   key == "GI_TOTAL_DEPTH") {
            ok = readIntValue(parser, node, "depth", i);
        } else if (key == "FRAME") {
            ok = readFloatValue(parser, node, "frame", s.frame);
            s.hasFrame = true;
        } else if (key == "BINARY_ASS") {
            bool b = false;
            ok = readBoolValue(parser, node, "binary_ass", b);
        } else if (key == "TEXTURE_SEARCHPATH") {
            ok = readStringValue(parser, node, "texture_searchpath", state.textureSearchPath,
                                 false);
        } else if (key == "PROCEDURAL_SEARCHPATH") {
            ok = readStringValue(parser, node, "procedural_searchpath",
                                 state.proceduralSearchPath, false);
        } else {
            return false;
        }
        return true;
    });
    return readOrRefused(ok);
}

NodeResult readCameraNode(const std::string &keyword, TextParser &parser, LoadState &state) {
    const bool orthographic = keyword == "ORTHO_CAMERA";
    std::string sCameraName;
    const NodeRef node{"Camera", sCameraName};
    const bool format = !state.world.classic();
    // The format's default field of view is the horizontal 54.43 degrees.
    float fov = format ? 54.43f : 45.0f, clip = 0.0f, nearClip = 0.0f;
    float shutter[2] = {0.0f, 1.0f};
    bool shutterGiven = false;
    float aperture = 0.0f, focus = 1.0f, rotation = 0.0f;
    int32_t blades = 0;
    Transform cam2world;
    std::vector<Transform> matrixKeys;
    Point2f windowMin(-1.0f, -1.0f), windowMax(1.0f, 1.0f);
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME") {
            // Camera names keep their case.
            ok = readStringValue(parser, node, "name", sCameraName, false);
        } else if (key == "FOV") {
            ok = readFloatValue(parser, node, "fov", fov);
        } else if (key == "MATRIX") {
            if (format) {
                ok = readMatrixKeys(parser, node, "matrix", matrixKeys);
                if (!matrixKeys.empty()) cam2world = matrixKeys.front();
            } else {
                ok = readMatrixValue(parser, node, "matrix", cam2world);
            }
        } else if (format && key == "APERTURE_SIZE") {
            ok = readFloatValue(parser, node, "aperture_size", aperture);
        } else if (format && key == "FOCUS_DISTANCE") {
            ok = readFloatValue(parser, node, "focus_distance", focus);
        } else if (format && key == "APERTURE_BLADES") {
            ok = readIntValue(parser, node, "aperture_blades", blades);
        } else if (format && key == "APERTURE_ROTATION") {
            ok = readFloatValue(parser, node, "aperture_rotation", rotation);
        } else if (format && key == "NEAR_CLIP") {
            ok = readFloatValue(parser, node, "near_clip", nearClip);
        } else if (format && (key == "SHUTTER_START" || key == "SHUTTER_END")) {
            ok = readFloatValue(parser, node, key == "SHUTTER_START" ? "shutter_start"
                                                                     : "shutter_end",
                                shutter[key == "SHUTTER_END"]);
            shutterGiven = true;
        } else if (key == "NEAR_CLIP" || key == "FAR_CLIP") {
            ok = readFloatValue(parser, node, "clip", clip);
        } else if (key == "SCREEN_WINDOW_MIN") {
            ok = readVec2Value(parser, node, "screen_window_min", windowMin);
        } else if (key == "SCREEN_WINDOW_MAX") {
            ok = readVec2Value(parser, node, "screen_window_max", windowMax);
        } else {
            return false;
        }
        return true;
    });
    if (!ok) return NodeResult::Refused;

    // Numbers that cannot give rays: said here, refused when the camera is
    // the one selected.
    bool usable = true;
    if (!isFiniteInvertible(cam2world)) {
        Warning("Camera %s: matrix is not finite or not invertible", sCameraName.c_str());
        usable = false;
    }
    if (!orthographic && !(fov > 0.0f && fov < 180.0f)) {
        Warning("Camera %s: fov %g is outside (0, 180)", sCameraName.c_str(),
                static_cast<double>(fov));
        usable = false;
    }
    if ((orthographic || format) && !(windowMax.x > windowMin.x && windowMax.y > windowMin.y &&
                          std::isfinite(windowMax.x - windowMin.x) &&
                          std::isfinite(windowMax.y - windowMin.y))) {
        Warning("Camera %s: screen_window_min and screen_window_max enclose no window",
                sCameraName.c_str());
        usable = false;
    }
    Camera *camera = state.addCamera(orthographic ? Camera::makeOrthographic()
                                                      : std::make_unique<Camera>(fov));
    camera->usable = usable;
    // The file's cameras look along -z; camera space looks along +z.
    const Matrix4x4 refl_mat(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1);
    const Transform refl_tm(refl_mat);
    camera->setCam2World(state.placed(cam2world) * refl_tm);
    camera->setName(sCameraName);
    camera->windowMin = windowMin;
    camera->windowMax = windowMax;
    // Nothing nearer than the near plane is hit; a plane behind the eye is
    // no plane.
    if (nearClip > 0.0f && std::isfinite(nearClip)) camera->nearClip = nearClip;
    if (std::isfinite(aperture) && aperture > 0.0f && std::isfinite(focus) && focus > 0.0f) {
        camera->apertureSize = aperture;
        camera->focusDistance = focus;
        camera->apertureBlades = blades;
        camera->apertureRotation = std::isfinite(rotation) ? rotation : 0.0f;
    }
    camera->shutterStart = shutter[0];
    camera->shutterEnd = shutter[1];
    camera->shutterGiven = shutterGiven;
    for (Transform &key : matrixKeys) key = state.placed(key);
    state.moveLater(std::move(matrixKeys), [camera, refl_tm](const Transform &t) {
        camera->setCam2World(t * refl_tm);
    });
    return NodeResult::Read;
}

std::string skipNodeKeepingName(TextParser &parser) {
    const TextParser::Position start = parser.position();
    parser.skipBlock(false);
    const TextParser::Position end = parser.position();
    if (start.cursor == nullptr) return std::string();
    // The name is looked for in the head of the block only, in a parser of
    // its own: nothing outside the block (a comment running past it) is
    // ever scanned again, and a long block costs one copy of its head.
    constexpr size_t kHead = size_t{64} << 10;
    const size_t length = end.cursor != nullptr ? static_cast<size_t>(end.cursor - start.cursor)
                                                : std::strlen(start.cursor);
    TextParser head;
    head.loadMemory(start.cursor, length < kHead ? length : kHead, nullptr);
    std::string name, token;
    bool opened = false;
    while (head.readToken(token, true)) {
        if (token == "}" || (token == "{" && opened)) break;
        opened = true;
        if (token == "NAME") {
            head.readString(name, false);
            break;
        }
        head.nextLine();
    }
    return name;
}

void selectCamera(LoadState &state) {
    const std::string &wanted = sceneFileSettings().selectedCamera;
    // A later camera of the selected name replaces an earlier one; the
    // including scene's cameras come before those of the files it includes.
    const LoadState::CameraNode *chosen = nullptr, *first = nullptr;
    for (const LoadState::CameraNode &node : state.cameraNodes) {
        if (node.camera->getName() == wanted && (chosen == nullptr || node.depth <= chosen->depth))
            chosen = &node;
        if (first == nullptr || node.depth < first->depth) first = &node;
    }
    if (chosen == nullptr && first != nullptr) {
        // Files made for several cameras may name none: take the first.
        chosen = first;
        if (wanted.empty())
            INFO_LOG << "No camera selected, using the first camera \""
                     << shownName(chosen->camera->getName()) << "\"";
        else
            Warning("No camera named \"%s\", using the first camera \"%s\"", wanted.c_str(),
                    chosen->camera->getName().c_str());
    }
    if (chosen != nullptr) state.world.setCamera(chosen->camera);
}

NodeResult readDriver(const std::string &, TextParser &parser, LoadState &state) {
    std::string driverName, outputPath;
    const NodeRef node{"Driver", driverName};
    bool ok = true;
    float gamma = 0.0f;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME") {
            ok = readStringValue(parser, node, "name", driverName, true);
        } else if (key == "FILENAME") {
            ok = readStringValue(parser, node, "filename", outputPath, false);
        } else if (key == "GAMMA") {
            ok = readFloatValue(parser, node, "gamma", gamma);
        } else {
            return false;
        }
        return true;
    });
    SceneFileSettings &s = sceneFileSettings();
    // Exported files share driver names: the selected driver of a file that
    // includes another wins over the included file's.
    if (ok && !s.selectedDriver.empty() && s.selectedDriver == driverName &&
        (state.outputDepth < 0 || state.includeDepth() <= state.outputDepth)) {
        s.outputFile = outputPath;
        state.outputDepth = state.includeDepth();
    }
    return readOrRefused(ok);
}

namespace {

// The block of a node with a name (upper-cased) and one more string
// parameter `key`, upper-cased when asked. False when a value is damaged.
bool readNameAndString(TextParser &parser, const char *type, const char *key,
                       const char *param, bool upperCase, std::string &name,
                       std::string &value) {
    const NodeRef node{type, name};
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &token) {
        if (!ok) return false;
        if (token == "NAME")
            ok = readStringValue(parser, node, "name", name, true);
        else if (token == key)
            ok = readStringValue(parser, node, param, value, upperCase);
        else
            return false;
        return true;
    });
    return ok;
}

} // namespace

NodeResult readShadingEngine(const std::string &, TextParser &parser, LoadState &state) {
    std::string engine_name, mat_name;
    if (!readNameAndString(parser, "Shading engine", "BEAUTY", "beauty", true, engine_name,
                           mat_name))
        return NodeResult::Refused;
    state.addShadingEngine(engine_name, mat_name);
    return NodeResult::Read;
}

NodeResult readFileNode(const std::string &, TextParser &parser, LoadState &state) {
    std::string mayafile_name, filename;
    if (!readNameAndString(parser, "Image file", "FILENAME", "filename", false, mayafile_name,
                           filename))
        return NodeResult::Refused;
    // An unreadable image leaves the node without a texture; colours that
    // name it take their default when the scene is complete.
    filename = state.findFile(filename, LoadState::FileKind::Texture);
    state.world.addTexture(filename);
    state.addFileNode(mayafile_name, filename);
    return NodeResult::Read;
}

NodeResult readFilterNode(const std::string &keyword, TextParser &parser, LoadState &state) {
    std::string name;
    const NodeRef node{"Filter", name};
    const bool box = keyword == "BOX_FILTER";
    float width = box ? 1.0f : 2.0f;
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME")
            ok = readStringValue(parser, node, "name", name, true);
        else if (key == "WIDTH")
            ok = readFloatValue(parser, node, "width", width);
        else
            return false;
        return true;
    });
    if (!ok) return NodeResult::Refused;
    if (!(width > 0.0f) || !(width <= 64.0f)) {
        Warning("Filter %s: width %g is not usable; using %g", name.c_str(),
                static_cast<double>(width), box ? 1.0 : 2.0);
        width = box ? 1.0f : 2.0f;
    }
    state.addPixelFilter(name, box ? FilmSettings::Filter::Box : FilmSettings::Filter::Gaussian,
                         width);
    return NodeResult::Read;
}

NodeResult readUndrawnNode(const std::string &keyword, TextParser &parser, LoadState &) {
    const std::string name = skipNodeKeepingName(parser);
    std::string type = keyword;
    TextParser::toLower(type);
    Warning("Node %s \"%s\" is not drawn: this renderer does not draw %s nodes", type.c_str(),
            name.c_str(), type.c_str());
    return NodeResult::Read;
}
