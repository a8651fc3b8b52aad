#include "parsers/surface_nodes.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "materials/material.h"
#include "parsers/array_reader.h"
#include "parsers/value_reader.h"
#include "parsers/load_state.h"
#include "parsers/node_reader.h"
#include "parsers/text_parser.h"
#include "util/error.h"

namespace {

// A colour parameter: numbers (plain or an array), or the name of another
// node (a texture network), settled once every node is read.
struct ColorParam {
    Vec3f rgb;
    std::string node; // upper-cased; empty for numbers
    bool m_reported = false;

    explicit ColorParam(const Vec3f &initial) : rgb(initial) {}

    bool read(TextParser &parser, const NodeRef &ref, const char *param) {
        ArrayHeader header;
        const TextParser::Position start = parser.position();
        if (readArrayHeader(parser, header)) {
            parser.restore(start);
            node.clear();
            if (header.textual()) return readStringValue(parser, ref, param, node, true);
            return readVec3Value(parser, ref, param, rgb);
        }
        std::string word;
        if (parser.readString(word, true) && !looksNumeric(word)) {
            node = word;
            return true;
        }
        parser.restore(start);
        node.clear();
        parser.read3Floats(rgb.x, rgb.y, rgb.z);
        return true;
    }

    // The channel weight x colour: a texture tinted by the weight when the
    // parameter names a node (registered with the load state to be bound; the
    // fallback is the weighted default colour), else the weighted numbers.
    ColorChannel channel(float weight, LoadState &state, const std::string &material,
                         const char *param, const Vec3f &defaultColor, ColorChannel *at) {
        // A zero weight is plain black whatever the colour: no texture to
        // look up, and no mirror or refracted ray behind it.
        if (node.empty() || weight == 0.0f)
            return ColorChannel(Vec3f(weight * rgb.x, weight * rgb.y, weight * rgb.z));
        state.colorNamesNode(
            {at, node,
             Vec3f(weight * defaultColor.x, weight * defaultColor.y, weight * defaultColor.z),
             material, param, !m_reported});
        m_reported = true; // one warning however many channels use the parameter
        return ColorChannel(Vec3f(weight, weight, weight));
    }
};

// Weights that blend two behaviours (metal or not, transmissive or not)
// stay within [0, 1].
float unitWeight(float w) { return w > 0.0f ? (w < 1.0f ? w : 1.0f) : 0.0f; }

// Highlight exponent of a roughness: the Phong exponent whose lobe matches a
// microfacet lobe of that roughness (2 / r^4 - 2), kept within [1, 10000].
float shininessOf(float roughness) {
    const float r2 = roughness * roughness;
    if (!(r2 * r2 > 2.0f / 10002.0f)) return 10000.0f;
    const float n = 2.0f / (r2 * r2) - 2.0f;
    return n < 1.0f ? 1.0f : n;
}

} // namespace

NodeResult readStandardSurface(const std::string &, TextParser &parser, LoadState &state) {
    std::string name;
    const NodeRef node{"Shader", name};
    float base = 0.8f, specular = 1.0f, roughness = 0.2f, ior = 1.5f, metalness = 0.0f;
    float transmission = 0.0f, emission = 0.0f;
    const Vec3f white(1.0f, 1.0f, 1.0f);
    ColorParam baseColor(white), specularColor(white), transmissionColor(white),
        emissionColor(white);
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME")
            ok = readStringValue(parser, node, "name", name, true);
        else if (key == "BASE")
            ok = readFloatValue(parser, node, "base", base);
        else if (key == "BASE_COLOR")
            ok = baseColor.read(parser, node, "base_color");
        else if (key == "SPECULAR")
            ok = readFloatValue(parser, node, "specular", specular);
        else if (key == "SPECULAR_COLOR")
            ok = specularColor.read(parser, node, "specular_color");
        else if (key == "SPECULAR_ROUGHNESS")
            ok = readFloatValue(parser, node, "specular_roughness", roughness);
        else if (key == "SPECULAR_IOR")
            ok = readFloatValue(parser, node, "specular_IOR", ior);
        else if (key == "METALNESS")
            ok = readFloatValue(parser, node, "metalness", metalness);
        else if (key == "TRANSMISSION")
            ok = readFloatValue(parser, node, "transmission", transmission);
        else if (key == "TRANSMISSION_COLOR")
            ok = transmissionColor.read(parser, node, "transmission_color");
        else if (key == "EMISSION")
            ok = readFloatValue(parser, node, "emission", emission);
        else if (key == "EMISSION_COLOR")
            ok = emissionColor.read(parser, node, "emission_color");
        else
            return false;
        return true;
    });
    if (!ok) return NodeResult::Refused;

    // The mapping onto the Whitted terms (metalness and transmission kept
    // within [0, 1]):
    //   diffuse      Kd = base x base_color x (1 - metalness) x (1 - transmission)
    //   ambient      Ka = Kd
    //   specular     Ks = specular x specular_color
    //   shininess    2 / roughness^4 - 2, within [1, 10000]
    //   mirror       Kr = metalness x base_color (metals reflect tinted)
    //   transmission Kt = transmission x transmission_color, index specular_IOR
    //   emission     Ke = emission x emission_color, added to the surface's colour
    if (!(ior > 0.0f) || !std::isfinite(ior)) {
        Warning("Shader %s: specular_IOR %g is no refraction index; using 1.5", name.c_str(),
                static_cast<double>(ior));
        ior = 1.5f;
    }
    metalness = unitWeight(metalness);
    transmission = unitWeight(transmission);
    auto mat = std::make_unique<Standard>(name.c_str());
    const float diffuseWeight = base * (1.0f - metalness) * (1.0f - transmission);
    mat->Kd = baseColor.channel(diffuseWeight, state, name, "base_color", white, &mat->Kd);
    mat->Ka = baseColor.channel(diffuseWeight, state, name, "base_color", white, &mat->Ka);
    mat->Ks = specularColor.channel(specular, state, name, "specular_color", white, &mat->Ks);
    mat->shininess = shininessOf(roughness);
    mat->Kr = baseColor.channel(metalness, state, name, "base_color", white, &mat->Kr);
    mat->Kt = transmissionColor.channel(transmission, state, name, "transmission_color", white,
                                        &mat->Kt);
    mat->refractionIndex = ior;
    mat->Ke = emissionColor.channel(emission, state, name, "emission_color", white,
                                    &mat->Ke);
    state.addMaterial(std::move(mat));
    return NodeResult::Read;
}

NodeResult readFlat(const std::string &, TextParser &parser, LoadState &state) {
    std::string name;
    const NodeRef node{"Shader", name};
    ColorParam color(Vec3f(1.0f, 1.0f, 1.0f));
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME")
            ok = readStringValue(parser, node, "name", name, true);
        else if (key == "COLOR")
            ok = color.read(parser, node, "color");
        else
            return false;
        return true;
    });
    if (!ok) return NodeResult::Refused;
    auto mat = std::make_unique<Flat>(name.c_str(), ColorChannel());
    mat->color = color.channel(1.0f, state, name, "color", Vec3f(1.0f, 1.0f, 1.0f),
                               &mat->color);
    state.addMaterial(std::move(mat));
    return NodeResult::Read;
}
