// Readers of the non-geometric nodes: options, cameras, lights, output
// drivers, shading engines and image file nodes.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "parsers/scene_nodes.h"

#include "parsers/array_reader.h"
#include "parsers/load_state.h"
#include "parsers/node_reader.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "util/error.h"

const char kDefaultOutputFile[] = "image.tga";

namespace {

SceneFileSettings g_settings;

// The options' OUTPUTS entries are "<aov> <type> <filter> <driver>", or
// "<camera> <aov> <type> <filter> <driver>" for one camera: only the driver
// name is used (and the camera's, when given). Empty when the entry has
// fewer than four words.
std::string driverOfOutput(const std::string &entry, std::string *camera) {
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
    std::string driver = words.back();
    TextParser::toUpper(driver);
    return driver;
}

} // namespace

SceneFileSettings &sceneFileSettings() { return g_settings; }

void resetSceneFileSettings() { g_settings = SceneFileSettings(); }

NodeResult readOptions(const std::string &, TextParser &parser, LoadState &) {
    SceneFileSettings &s = sceneFileSettings();
    s.xResolution = 600;
    s.yResolution = 600;
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
        } else if (key == "OUTPUTS") {
            std::vector<std::string> entries;
            ok = readStringList(parser, node, "outputs", entries, false);
            // The first entry for every camera, or for the selected one,
            // names the driver; else the first entry that names one.
            std::string fallback;
            for (const std::string &entry : entries) {
                std::string camera;
                const std::string driver = driverOfOutput(entry, &camera);
                if (driver.empty()) continue;
                if (camera.empty() || camera == s.selectedCamera) {
                    fallback.clear();
                    s.selectedDriver = driver;
                    break;
                }
                if (fallback.empty()) fallback = driver;
            }
            if (!fallback.empty()) s.selectedDriver = fallback;
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
        } else if (key == "CAMERA") {
            ok = readStringValue(parser, node, "camera", s.selectedCamera, false);
            INFO_LOG << "Selected camera " << shownName(s.selectedCamera);
        } else if (key == "TEXTURE_GAMMA" || key == "LIGHT_GAMMA" || key == "SHADER_GAMMA") {
            ok = readFloatValue(parser, node, "gamma", f);
        } else if (key == "GI_DIFFUSE_DEPTH" || key == "GI_GLOSSY_DEPTH" ||
                   key == "GI_TOTAL_DEPTH") {
            ok = readIntValue(parser, node, "depth", i);
        } else if (key == "BINARY_ASS") {
            bool b = false;
            ok = readBoolValue(parser, node, "binary_ass", b);
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
    float fov = 45.0f, clip = 0.0f;
    Transform cam2world;
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
            ok = readMatrixValue(parser, node, "matrix", cam2world);
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
    if (orthographic && !(windowMax.x > windowMin.x && windowMax.y > windowMin.y &&
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
    camera->setCam2World(cam2world * refl_tm);
    camera->setName(sCameraName);
    camera->windowMin = windowMin;
    camera->windowMax = windowMax;
    return NodeResult::Read;
}

namespace {

// Passes a node's whole block, nested blocks included, and returns the
// value of its NAME parameter when it has one before any nested block.
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

} // namespace

void selectCamera(LoadState &state) {
    const std::string &wanted = sceneFileSettings().selectedCamera;
    // A later camera of the selected name replaces an earlier one.
    Camera *chosen = nullptr;
    for (Camera *camera : state.cameraNodes)
        if (camera->getName() == wanted) chosen = camera;
    if (chosen == nullptr && !state.cameraNodes.empty()) {
        // Files made for several cameras may name none: take the first.
        chosen = state.cameraNodes.front();
        if (wanted.empty())
            INFO_LOG << "No camera selected, using the first camera \""
                     << shownName(chosen->getName()) << "\"";
        else
            INFO_LOG << "No camera named \"" << shownName(wanted)
                     << "\", using the first camera \"" << shownName(chosen->getName()) << "\"";
    }
    if (chosen != nullptr) state.world.setCamera(chosen);
}

NodeResult readDriver(const std::string &, TextParser &parser, LoadState &) {
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
    if (ok && !s.selectedDriver.empty() && s.selectedDriver == driverName)
        s.outputFile = outputPath;
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
    state.world.addTexture(filename);
    state.addFileNode(mayafile_name, filename);
    return NodeResult::Read;
}

NodeResult readImageNode(const std::string &, TextParser &parser, LoadState &state) {
    std::string name, filename;
    if (!readNameAndString(parser, "Image", "FILENAME", "filename", false, name, filename))
        return NodeResult::Refused;
    // Only an image this renderer reads becomes a texture; colours naming
    // any other image node take their default when the scene is complete.
    // Files of other formats are not even opened (no error about them).
    std::string ending = filename.size() >= 4 ? filename.substr(filename.size() - 4) : "";
    TextParser::toLower(ending);
    if (ending == ".tga" && state.world.addTexture(filename)) state.addFileNode(name, filename);
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
