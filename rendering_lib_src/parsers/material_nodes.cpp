#include "parsers/material_nodes.h"

#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "materials/material.h"
#include "parsers/array_reader.h"
#include "parsers/value_reader.h"
#include "parsers/load_state.h"
#include "parsers/node_reader.h"
#include "parsers/text_parser.h"

namespace {

// A colour parameter as read: three numbers, or the name of an image file
// node. Once a texture name has been read it sticks, whatever follows.
struct ColorValue {
    Vec3f rgb;
    std::string textureName;

    explicit ColorValue(const Vec3f &initial) : rgb(initial) {}

    // An array ("1 1 RGB ..." or "1 1 NODE name"), three numbers, or a
    // texture name: a plain value that does not start with a digit names a
    // texture (so ".5" or "-1" name a texture).
    bool read(TextParser &parser, const NodeRef &node, const char *param) {
        ArrayHeader header;
        const TextParser::Position start = parser.position();
        if (readArrayHeader(parser, header)) {
            parser.restore(start);
            if (header.textual()) return readStringValue(parser, node, param, textureName, true);
            return readVec3Value(parser, node, param, rgb);
        }
        if (parser.isDigitNext())
            parser.read3Floats(rgb.x, rgb.y, rgb.z);
        else
            parser.readString(textureName, true);
        return true;
    }


    // The tint of a texture bound later (the coefficient), or the colour
    // as read.
    ColorChannel channel(float k) const {
        if (!textureName.empty()) return ColorChannel(Vec3f(k, k, k));
        return ColorChannel(rgb);
    }
    // The tint of a texture bound later, or the colour scaled by the
    // coefficient.
    ColorChannel scaledChannel(float k) const {
        if (!textureName.empty()) return ColorChannel(Vec3f(k, k, k));
        return ColorChannel(Vec3f(k * rgb.x, k * rgb.y, k * rgb.z));
    }
};

// Every parameter any shader node understands, with its default.
struct ShaderNode {
    std::string mat_name;
    float kd = 1.0f, ka = 1.0f, ks = 1.0f, kr = 1.0f, kt = 1.0f;
    ColorValue Kd{Vec3f(0.5f, 0.5f, 0.5f)};
    ColorValue Ka{Vec3f(0.5f, 0.5f, 0.5f)};
    ColorValue Ks{Vec3f(0.0f, 0.0f, 0.0f)};
    ColorValue Kr{Vec3f(0.0f, 0.0f, 0.0f)};
    ColorValue Kt{Vec3f(0.0f, 0.0f, 0.0f)};
    float kshi = 20.0f;
    float power = 16.0f;
    float ior = 1.52f;

    ShaderNode() = default;
    // The format's defaults for lambert and standard: Kd 0.7 of white, no
    // specular, mirror or transmission (each of white), index 1.
    static ShaderNode formatDefaults() {
        ShaderNode n;
        n.kd = 0.7f;
        n.Kd = ColorValue(Vec3f(1.0f, 1.0f, 1.0f));
        n.ks = n.kr = n.kt = 0.0f;
        n.Ks = n.Kr = n.Kt = ColorValue(Vec3f(1.0f, 1.0f, 1.0f));
        n.ior = 1.0f;
        return n;
    }
    static ShaderNode defaultsFor(const LoadState &state) {
        return state.world.classic() ? ShaderNode() : formatDefaults();
    }
};

enum NodeParams : unsigned {
    kSpecular = 1u,   // KS, KS_COLOR
    kMirror = 2u,     // KR, KR_COLOR, KT, KT_COLOR, KSHI
    kPower = 4u,      // POWER
    kIndex = 8u,      // IOR (the newer node of the same parameters)
};

// Reads a shader node block; `params` says which keywords beyond the
// diffuse and ambient ones this node type knows.
bool readShaderNode(TextParser &parser, unsigned params, ShaderNode &n) {
    const NodeRef node{"Shader", n.mat_name};
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME") {
            ok = readStringValue(parser, node, "name", n.mat_name, true);
        } else if (key == "KD") {
            ok = readFloatValue(parser, node, "Kd", n.kd);
        } else if (key == "KD_COLOR") {
            ok = n.Kd.read(parser, node, "Kd_color");
        } else if (key == "KA") {
            ok = readFloatValue(parser, node, "Ka", n.ka);
        } else if (key == "KA_COLOR") {
            ok = n.Ka.read(parser, node, "Ka_color");
        } else if ((params & kSpecular) && key == "KS") {
            ok = readFloatValue(parser, node, "Ks", n.ks);
        } else if ((params & kSpecular) && key == "KS_COLOR") {
            ok = n.Ks.read(parser, node, "Ks_color");
        } else if ((params & kMirror) && key == "KR") {
            ok = readFloatValue(parser, node, "Kr", n.kr);
        } else if ((params & kMirror) && key == "KR_COLOR") {
            ok = n.Kr.read(parser, node, "Kr_color");
        } else if ((params & kMirror) && key == "KT") {
            ok = readFloatValue(parser, node, "Kt", n.kt);
        } else if ((params & kMirror) && key == "KT_COLOR") {
            ok = n.Kt.read(parser, node, "Kt_color");
        } else if ((params & kMirror) && key == "KSHI") {
            ok = readFloatValue(parser, node, "Kshi", n.kshi);
        } else if ((params & kPower) && key == "POWER") {
            ok = readFloatValue(parser, node, "power", n.power);
        } else if ((params & kIndex) && key == "IOR") {
            ok = readFloatValue(parser, node, "IOR", n.ior);
        } else {
            return false;
        }
        return true;
    });
    return ok;
}

} // namespace

namespace {

// A colour that names a node is settled once every node is read: the
// texture of an image file node, or else `fallback` (the channel the
// parameter's default gives) with a Warning.
void settleLater(LoadState &state, const ColorValue &value, ColorChannel *at,
                 const Vec3f &fallback, const std::string &material, const char *param) {
    if (!value.textureName.empty())
        state.colorNamesNode({at, value.textureName, fallback, material, param, true});
}

Vec3f scaled(float k, const Vec3f &c) { return Vec3f(k * c.x, k * c.y, k * c.z); }

NodeResult readStandardNode(TextParser &parser, LoadState &state, unsigned params) {
    const ShaderNode defaults = ShaderNode::defaultsFor(state);
    ShaderNode n = defaults;
    if (!readShaderNode(parser, params, n)) return NodeResult::Refused;
    auto mat = std::make_unique<Standard>(n.mat_name.c_str());
    mat->Kd = n.Kd.scaledChannel(n.kd);
    mat->ka = n.ka;
    mat->Ka = n.Ka.channel(n.ka);
    mat->Ks = n.Ks.scaledChannel(n.ks);
    mat->Kr = n.Kr.scaledChannel(n.kr);
    mat->Kt = n.Kt.scaledChannel(n.kt);
    mat->shininess = n.kshi;
    if ((params & kIndex) && n.ior > 0.0f && std::isfinite(n.ior)) mat->refractionIndex = n.ior;
    settleLater(state, n.Kd, &mat->Kd, scaled(n.kd, defaults.Kd.rgb), n.mat_name, "Kd_color");
    settleLater(state, n.Ka, &mat->Ka, defaults.Ka.rgb, n.mat_name, "Ka_color");
    settleLater(state, n.Ks, &mat->Ks, scaled(n.ks, defaults.Ks.rgb), n.mat_name, "Ks_color");
    settleLater(state, n.Kr, &mat->Kr, scaled(n.kr, defaults.Kr.rgb), n.mat_name, "Kr_color");
    settleLater(state, n.Kt, &mat->Kt, scaled(n.kt, defaults.Kt.rgb), n.mat_name, "Kt_color");
    state.addMaterial(std::move(mat));
    return NodeResult::Read;
}

} // namespace

NodeResult readLambert(const std::string &, TextParser &parser, LoadState &state) {
    const ShaderNode defaults = ShaderNode::defaultsFor(state);
    ShaderNode n = defaults;
    if (!readShaderNode(parser, 0, n)) return NodeResult::Refused;
    // The ambient values are read but a Lambert material keeps its defaults.
    // The classic Lambert shows Kd_color as it is; the format's weighs it by Kd.
    const bool classic = state.world.classic();
    auto mat = std::make_unique<Lambert>(n.mat_name.c_str(), n.kd,
                                         classic ? n.Kd.channel(n.kd) : n.Kd.scaledChannel(n.kd));
    settleLater(state, n.Kd, &mat->Kd, classic ? defaults.Kd.rgb : scaled(n.kd, defaults.Kd.rgb),
                n.mat_name, "Kd_color");
    state.addMaterial(std::move(mat));
    return NodeResult::Read;
}

NodeResult readAiStandard(const std::string &, TextParser &parser, LoadState &state) {
    return readStandardNode(parser, state, kSpecular | kMirror);
}

NodeResult readStandard(const std::string &, TextParser &parser, LoadState &state) {
    return readStandardNode(parser, state, kSpecular | kMirror | kIndex);
}

NodeResult readBlinn(const std::string &, TextParser &parser, LoadState &state) {
    ShaderNode n;
    if (!readShaderNode(parser, kSpecular | kPower, n)) return NodeResult::Refused;
    auto mat = std::make_unique<BlinnPhong>(n.mat_name.c_str(), n.kd, n.Kd.channel(n.kd), n.ks,
                                     n.Ks.channel(n.ks), n.power);
    const ShaderNode defaults;
    settleLater(state, n.Kd, &mat->diffuse.Kd, defaults.Kd.rgb, n.mat_name, "Kd_color");
    settleLater(state, n.Ks, &mat->Ks, defaults.Ks.rgb, n.mat_name, "Ks_color");
    state.addMaterial(std::move(mat));
    return NodeResult::Read;
}
