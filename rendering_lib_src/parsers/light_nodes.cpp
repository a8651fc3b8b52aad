#include "parsers/light_nodes.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lights/light.h"
#include "parsers/array_reader.h"
#include "parsers/value_reader.h"
#include "parsers/load_state.h"
#include "parsers/node_reader.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "util/error.h"

namespace {

struct LightNode {
    std::string light_name;
    Transform light2world;
    float intensity = 10.0f;
    Vec3f light_color{1.0f, 1.0f, 1.0f};
    float exposure = 0.0f;
    float coneAngle = 65.0f;    // spot lights, degrees
    float penumbraAngle = 0.0f; // spot lights, degrees
    // The format's conventions: every motion key, the light filters and
    // the visibility of the light to camera, diffuse and specular rays.
    bool format = false;
    std::vector<Transform> matrixKeys;
    std::vector<std::string> filters; // node names, upper-cased
    float camera = 1.0f, diffuse = 1.0f, specular = 1.0f;
    bool cameraGiven = false;
    // Lights with an area: shadow samples (squared), radiance divided by the
    // area, and their shape's parameters.
    int samples = 1;
    bool normalize = true;
    float radius = -1.0f; // -1: not given
    std::vector<Point3f> vertices;
    Vec3f bottom{0.0f, 0.0f, 0.0f}, top{0.0f, 1.0f, 0.0f};
    std::string mesh; // mesh lights: the node name, upper-cased

    LightNode() = default;
    explicit LightNode(const LoadState &state) : format(!state.world.classic()) {
        // The format's lights all default to an intensity of 1.
        if (format) intensity = 1.0f;
    }
};

// A colour written as a node name (a texture network) cannot light
// anything here: the colour stays white, with a word.
bool readLightColor(TextParser &parser, const NodeRef &node, Vec3f &color) {
    const TextParser::Position start = parser.position();
    std::string word;
    ArrayHeader header;
    const bool array = readArrayHeader(parser, header);
    parser.restore(start);
    if (array && header.textual()) {
        if (!readStringValue(parser, node, "color", word, false)) return false;
    } else if (array || !parser.readString(word, false) || looksNumeric(word)) {
        parser.restore(start);
        return readVec3Value(parser, node, "color", color);
    }
    Warning("Light %s: color names \"%s\", which cannot be evaluated; using white",
            node.name.c_str(), word.c_str());
    return true;
}

// Reads the block of a light node; the ambient light has no MATRIX.
bool readLightNode(TextParser &parser, bool withMatrix, LightNode &n) {
    const NodeRef node{"Light", n.light_name};
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME") {
            ok = readStringValue(parser, node, "name", n.light_name, true);
        } else if (withMatrix && key == "MATRIX") {
            if (n.format) {
                ok = readMatrixKeys(parser, node, "matrix", n.matrixKeys);
                if (!n.matrixKeys.empty()) n.light2world = n.matrixKeys.front();
            } else {
                ok = readMatrixValue(parser, node, "matrix", n.light2world);
            }
        } else if (n.format && key == "FILTERS") {
            ok = readStringList(parser, node, "filters", n.filters, true);
        } else if (n.format && key == "CAMERA") {
            ok = readFloatValue(parser, node, "camera", n.camera);
            n.cameraGiven = true;
        } else if (n.format && key == "SAMPLES") {
            ok = readIntValue(parser, node, "samples", n.samples);
        } else if (n.format && key == "NORMALIZE") {
            ok = readBoolValue(parser, node, "normalize", n.normalize);
        } else if (n.format && key == "RADIUS") {
            ok = readFloatValue(parser, node, "radius", n.radius);
        } else if (n.format && key == "BOTTOM") {
            ok = readVec3Value(parser, node, "bottom", n.bottom);
        } else if (n.format && key == "TOP") {
            ok = readVec3Value(parser, node, "top", n.top);
        } else if (n.format && key == "MESH") {
            ok = readStringValue(parser, node, "mesh", n.mesh, true);
        } else if (n.format && key == "VERTICES") {
            ArrayHeader header;
            if (readArrayHeader(parser, header)) {
                ok = readVectorArray(parser, header, node, "vertices", n.vertices);
            } else {
                n.vertices.assign(4, Point3f());
                for (Point3f &v : n.vertices) parser.read3Floats(v.x, v.y, v.z);
            }
        } else if (n.format && key == "DIFFUSE") {
            ok = readFloatValue(parser, node, "diffuse", n.diffuse);
        } else if (n.format && key == "SPECULAR") {
            ok = readFloatValue(parser, node, "specular", n.specular);
        } else if (key == "INTENSITY") {
            ok = readFloatValue(parser, node, "intensity", n.intensity);
        } else if (key == "COLOR") {
            ok = readLightColor(parser, node, n.light_color);
        } else if (key == "EXPOSURE") {
            ok = readFloatValue(parser, node, "exposure", n.exposure);
        } else if (key == "CONE_ANGLE") {
            ok = readFloatValue(parser, node, "cone_angle", n.coneAngle);
        } else if (key == "PENUMBRA_ANGLE") {
            ok = readFloatValue(parser, node, "penumbra_angle", n.penumbraAngle);
        } else {
            return false;
        }
        return true;
    });
    return ok;
}

// Checks the numbers of a light node once read. A light whose strength is
// not a finite number (intensity, exposure or a colour channel NaN or
// infinite) cannot light anything sensibly: it is not used (false). A spot
// light's angles that are not finite take their defaults, as when they are
// left out: the light itself is sound. Negative colour channels, which
// would take light away, are taken as 0. Each is said with a Warning that
// names the light and the parameter.
bool checkLightNode(LightNode &n) {
    const char *name = n.light_name.c_str();
    const struct {
        const char *param;
        float value;
    } strength[] = {{"intensity", n.intensity},
                    {"exposure", n.exposure},
                    {"color", n.light_color.x},
                    {"color", n.light_color.y},
                    {"color", n.light_color.z}};
    for (const auto &p : strength) {
        if (!std::isfinite(p.value)) {
            Warning("Light %s: %s is not a finite number; the light is not used", name, p.param);
            return false;
        }
    }
    const LightNode defaults;
    const struct {
        const char *param;
        float &value;
        float fallback;
    } angles[] = {{"cone_angle", n.coneAngle, defaults.coneAngle},
                  {"penumbra_angle", n.penumbraAngle, defaults.penumbraAngle},
                  {"radius", n.radius, defaults.radius}};
    for (const auto &a : angles) {
        if (std::isfinite(a.value)) continue;
        Warning("Light %s: %s is not a finite number; using %g", name, a.param,
                static_cast<double>(a.fallback));
        a.value = a.fallback;
    }
    if (n.light_color.x < 0.0f || n.light_color.y < 0.0f || n.light_color.z < 0.0f) {
        Warning("Light %s: color has a negative channel; taken as 0", name);
        for (int c = 0; c < 3; ++c) n.light_color[c] = std::max(n.light_color[c], 0.0f);
    }
    return true;
}

template <typename T> std::unique_ptr<T> makeLight(const LightNode &n) {
    const Point3f pos(0.0f, 0.0f, 0.0f);
    auto light = std::make_unique<T>(n.light2world, n.light_color, n.intensity, pos);
    light->setName(n.light_name);
    light->setExposure(n.exposure);
    return light;
}

// Hands a light to the World; a moving light is placed at the picture's
// time, and its filters are bound once every node is read. A light with an
// area gets its surface then too.
void addLight(LoadState &state, const LightNode &n, std::unique_ptr<LocalLight> light,
              LightSurface::Kind kind = LightSurface::Kind::Sphere, bool area = false) {
    LocalLight *placed = light.get();
    state.world.addLight(std::move(light));
    state.moveLater(n.matrixKeys, [placed](const Transform &t) { placed->place(t); });
    if (!n.filters.empty()) state.filterLight(placed, n.filters);
    if (!area) return;
    LoadState::AreaLight a;
    a.kind = kind;
    a.radius = n.radius;
    a.normalize = n.normalize;
    // Camera rays see a quad, disk, cylinder or mesh light only when asked.
    a.camera = n.cameraGiven ? n.camera : 0.0f;
    a.mesh = n.mesh;
    a.bottom = Point3f(n.bottom.x, n.bottom.y, n.bottom.z);
    a.top = Point3f(n.top.x, n.top.y, n.top.z);
    if (n.vertices.size() >= 4)
        for (int i = 0; i < 4; ++i) a.corners[i] = n.vertices[static_cast<size_t>(i)];
    placed->samples = n.samples < 1 ? 1 : (n.samples > 16 ? 16 : n.samples);
    state.shapeLightLater(placed, a);
}

// A light placed by a matrix that is not finite lights nothing sensible:
// it is kept out of the render, with a word.
bool placeable(const LightNode &n) {
    if (isFiniteInvertible(n.light2world)) return true;
    Warning("Light %s: matrix is not finite or not invertible; it is not used",
            n.light_name.c_str());
    return false;
}

// A light of an included file is placed as the file is.
bool readPlacedNode(TextParser &parser, const LoadState &state, LightNode &n) {
    if (!readLightNode(parser, true, n)) return false;
    n.light2world = state.placed(n.light2world);
    for (Transform &key : n.matrixKeys) key = state.placed(key);
    return true;
}

// Point and area lights: read, checked and added alike.
template <typename T> NodeResult readPositionedLight(TextParser &parser, LoadState &state) {
    LightNode n(state);
    if (!readPlacedNode(parser, state, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    // A point light with a radius is a sphere of light.
    if (placeable(n))
        addLight(state, n, makeLight<T>(n), LightSurface::Kind::Sphere, n.radius > 0.0f);
    return NodeResult::Read;
}

// The light types newer exporters write default to an intensity of 1.
bool readNewerLightNode(TextParser &parser, const LoadState &state, LightNode &n) {
    n.intensity = 1.0f;
    return readPlacedNode(parser, state, n);
}

} // namespace

NodeResult readPointLight(const std::string &, TextParser &parser, LoadState &state) {
    return readPositionedLight<PointLight>(parser, state);
}

NodeResult readAreaLight(const std::string &, TextParser &parser, LoadState &state) {
    return readPositionedLight<AreaLight>(parser, state);
}

NodeResult readAmbientLight(const std::string &, TextParser &parser, LoadState &state) {
    LightNode n(state);
    if (!readLightNode(parser, false, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    auto light = std::make_unique<AmbientLight>(n.light_color, n.intensity);
    light->setName(n.light_name);
    light->exposure = n.exposure;
    state.world.setAmbientLight(std::move(light));
    return NodeResult::Read;
}

NodeResult readPlacedLight(const std::string &keyword, TextParser &parser, LoadState &state) {
    LightNode n(state);
    if (!readNewerLightNode(parser, state, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    if (!placeable(n)) return NodeResult::Read;
    std::unique_ptr<PointLight> light = makeLight<PointLight>(n);
    const bool spot = keyword == "SPOT_LIGHT";
    if (spot)
        light->makeSpot(n.coneAngle, n.penumbraAngle);
    else
        light->makeDistant();
    // A spot light with a radius is a disc of light facing along its axis.
    addLight(state, n, std::move(light), LightSurface::Kind::Disc, spot && n.radius > 0.0f);
    return NodeResult::Read;
}

NodeResult readSkyLight(const std::string &, TextParser &parser, LoadState &state) {
    LightNode n(state);
    if (!readNewerLightNode(parser, state, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    World &world = state.world;
    world.hasSky = true;
    world.sky = Light::strengthOf(n.light_color, n.intensity, n.exposure);
    world.skyVisibility = {n.camera, n.diffuse, n.specular};
    world.skySamples = n.samples < 1 ? 1 : (n.samples > 16 ? 16 : n.samples);
    return NodeResult::Read;
}

NodeResult readPointLikeLight(const std::string &keyword, TextParser &parser,
                              LoadState &state) {
    LightNode n(state);
    if (!readNewerLightNode(parser, state, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    if (!placeable(n)) return NodeResult::Read;
    // The format's quad, disk, cylinder and mesh lights have their area.
    if (n.format && keyword != "PHOTOMETRIC_LIGHT") {
        const LightSurface::Kind kind =
            keyword == "QUAD_LIGHT"   ? LightSurface::Kind::Quad
            : keyword == "DISK_LIGHT" ? LightSurface::Kind::Disk
            : keyword == "CYLINDER_LIGHT" ? LightSurface::Kind::Cylinder
                                          : LightSurface::Kind::Mesh;
        addLight(state, n, makeLight<PointLight>(n), kind, true);
        return NodeResult::Read;
    }
    if (state.notePointLikeLight(keyword)) {
        std::string type = keyword;
        TextParser::toLower(type);
        INFO_LOG << type << " nodes are lit as a point light at their centre";
    }
    addLight(state, n, makeLight<PointLight>(n));
    return NodeResult::Read;
}

NodeResult readLightDecay(const std::string &, TextParser &parser, LoadState &state) {
    std::string name;
    const NodeRef node{"Light filter", name};
    LightDecay decay;
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME")
            ok = readStringValue(parser, node, "name", name, true);
        else if (key == "USE_NEAR_ATTEN")
            ok = readBoolValue(parser, node, "use_near_atten", decay.useNear);
        else if (key == "USE_FAR_ATTEN")
            ok = readBoolValue(parser, node, "use_far_atten", decay.useFar);
        else if (key == "NEAR_START")
            ok = readFloatValue(parser, node, "near_start", decay.nearStart);
        else if (key == "NEAR_END")
            ok = readFloatValue(parser, node, "near_end", decay.nearEnd);
        else if (key == "FAR_START")
            ok = readFloatValue(parser, node, "far_start", decay.farStart);
        else if (key == "FAR_END")
            ok = readFloatValue(parser, node, "far_end", decay.farEnd);
        else
            return false;
        return true;
    });
    if (!ok) return NodeResult::Refused;
    state.addLightDecay(name, decay);
    return NodeResult::Read;
}

NodeResult readUnsupportedLight(const std::string &keyword, TextParser &parser, LoadState &) {
    const size_t n = keyword.size();
    if (n < 6 || keyword.compare(n - 6, 6, "_LIGHT") != 0) return NodeResult::NotMine;
    std::string type = keyword;
    TextParser::toLower(type);
    Warning("Light type %s is not supported; its nodes are skipped", type.c_str());
    parser.skipBlock(false);
    return NodeResult::Read;
}
