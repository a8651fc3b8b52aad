#include "parsers/light_nodes.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "lights/light.h"
#include "parsers/array_reader.h"
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
            ok = readMatrixValue(parser, node, "matrix", n.light2world);
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
                  {"penumbra_angle", n.penumbraAngle, defaults.penumbraAngle}};
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

// A light placed by a matrix that is not finite lights nothing sensible:
// it is kept out of the render, with a word.
bool placeable(const LightNode &n) {
    if (isFiniteInvertible(n.light2world)) return true;
    Warning("Light %s: matrix is not finite or not invertible; it is not used",
            n.light_name.c_str());
    return false;
}

// Point and area lights: read, checked and added alike.
template <typename T> NodeResult readPositionedLight(TextParser &parser, World &world) {
    LightNode n;
    if (!readLightNode(parser, true, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    if (placeable(n)) world.addLight(makeLight<T>(n));
    return NodeResult::Read;
}

// The light types newer exporters write default to an intensity of 1.
bool readNewerLightNode(TextParser &parser, LightNode &n) {
    n.intensity = 1.0f;
    return readLightNode(parser, true, n);
}

} // namespace

NodeResult readPointLight(const std::string &, TextParser &parser, LoadState &state) {
    return readPositionedLight<PointLight>(parser, state.world);
}

NodeResult readAreaLight(const std::string &, TextParser &parser, LoadState &state) {
    return readPositionedLight<AreaLight>(parser, state.world);
}

NodeResult readAmbientLight(const std::string &, TextParser &parser, LoadState &state) {
    LightNode n;
    if (!readLightNode(parser, false, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    auto light = std::make_unique<AmbientLight>(n.light_color, n.intensity);
    light->setName(n.light_name);
    light->exposure = n.exposure;
    state.world.setAmbientLight(std::move(light));
    return NodeResult::Read;
}

NodeResult readPlacedLight(const std::string &keyword, TextParser &parser, LoadState &state) {
    LightNode n;
    if (!readNewerLightNode(parser, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    if (!placeable(n)) return NodeResult::Read;
    std::unique_ptr<PointLight> light = makeLight<PointLight>(n);
    if (keyword == "SPOT_LIGHT")
        light->makeSpot(n.coneAngle, n.penumbraAngle);
    else
        light->makeDistant();
    state.world.addLight(std::move(light));
    return NodeResult::Read;
}

NodeResult readSkyLight(const std::string &, TextParser &parser, LoadState &state) {
    LightNode n;
    if (!readNewerLightNode(parser, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    state.world.hasSky = true;
    state.world.sky = Light::strengthOf(n.light_color, n.intensity, n.exposure);
    return NodeResult::Read;
}

NodeResult readPointLikeLight(const std::string &keyword, TextParser &parser,
                              LoadState &state) {
    LightNode n;
    if (!readNewerLightNode(parser, n)) return NodeResult::Refused;
    if (!checkLightNode(n)) return NodeResult::Read;
    if (!placeable(n)) return NodeResult::Read;
    if (state.notePointLikeLight(keyword)) {
        std::string type = keyword;
        TextParser::toLower(type);
        INFO_LOG << type << " nodes are lit as a point light at their centre";
    }
    state.world.addLight(makeLight<PointLight>(n));
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
