#include "parsers/texture_nodes.h"

#include <strings.h>

#include <cstdlib>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "image/image_files.h"
#include "parsers/load_state.h"
#include "parsers/value_reader.h"
#include "textures/image_texture.h"
#include "textures/pattern_textures.h"
#include "util/error.h"

namespace {

bool same(const std::string &word, const char *name) {
    return strcasecmp(word.c_str(), name) == 0;
}

// A colour of a pattern: numbers, or the name of another node, which is not
// evaluated (a pattern of patterns): the colour keeps its default, with a word.
bool readPatternColor(TextParser &parser, const NodeRef &node, const char *param, Vec3f &out) {
    const TextParser::Position start = parser.position();
    ArrayHeader header;
    std::string word;
    bool namesNode = false;
    if (readArrayHeader(parser, header)) {
        parser.restore(start);
        if (!header.textual()) return readVec3Value(parser, node, param, out);
        if (!readStringValue(parser, node, param, word, true)) return false;
        namesNode = true;
    } else if (parser.readString(word, true) && !looksNumeric(word)) {
        namesNode = true;
    }
    if (namesNode) {
        Warning("%s %s: %s names \"%s\"; a pattern's colours are numbers, so the default is used",
                node.type, node.name.c_str(), param, word.c_str());
        return true;
    }
    parser.restore(start);
    return readVec3Value(parser, node, param, out);
}

// A wrap mode word; an unknown one is said and read as periodic.
bool readWrap(TextParser &parser, const NodeRef &node, const char *param, WrapMode &out) {
    std::string word;
    if (!readStringValue(parser, node, param, word, false)) return false;
    if (!wrapModeOfName(word.c_str(), out)) {
        Warning("%s %s: %s \"%s\" is no wrap mode; periodic is used", node.type,
                node.name.c_str(), param, word.c_str());
        out = WrapMode::Periodic;
    }
    return true;
}

// "auto" (or nothing) decodes 8- and 16-bit images as sRGB and keeps float
// images linear; a name with "sRGB" in it decodes, any other name
// ("linear", "raw", a working space) keeps the samples as they are.
bool decodesSrgb(const std::string &colorSpace, const Raster &image) {
    if (colorSpace.empty() || same(colorSpace, "auto")) return !image.floatingPoint;
    for (size_t i = 0; i + 4 <= colorSpace.size(); ++i)
        if (strncasecmp(colorSpace.c_str() + i, "srgb", 4) == 0) return true;
    return false;
}

// A list of floats, colours or integers: an array, or one plain value.
template <typename T, typename ReadOne>
bool readList(TextParser &parser, const NodeRef &node, const char *param, std::vector<T> &out,
              ReadOne readOne) {
    ArrayHeader header;
    if (readArrayHeader(parser, header)) {
        if constexpr (std::is_same_v<T, int32_t>)
            return readIntArray(parser, header, node, param, out);
        else
            return readVectorArray(parser, header, node, param, out);
    }
    T value{};
    if (!readOne(value)) return false;
    out.assign(1, value);
    return true;
}

RampInterpolation interpolationOf(int32_t code) {
    // 0 none, 1 linear; the curved kinds (2 and up) are eased.
    if (code == 0) return RampInterpolation::None;
    if (code == 1) return RampInterpolation::Linear;
    return RampInterpolation::Smooth;
}

// The per-key interpolations: numbers, or one word for all keys.
bool readInterpolation(TextParser &parser, const NodeRef &node,
                       std::vector<RampInterpolation> &out) {
    const TextParser::Position start = parser.position();
    std::string word;
    ArrayHeader header;
    if (!readArrayHeader(parser, header) && parser.readString(word, false) &&
        !looksNumeric(word)) {
        RampInterpolation mode = RampInterpolation::Linear;
        if (same(word, "none") || same(word, "constant") || same(word, "step"))
            mode = RampInterpolation::None;
        else if (!same(word, "linear"))
            mode = RampInterpolation::Smooth;
        out.assign(1, mode);
        return true;
    }
    parser.restore(start);
    std::vector<int32_t> codes;
    if (!readList(parser, node, "interpolation", codes,
                  [&](int32_t &v) { return readIntValue(parser, node, "interpolation", v); }))
        return false;
    out.clear();
    for (int32_t code : codes) out.push_back(interpolationOf(code));
    return true;
}

bool rampTypeOf(const std::string &word, RampType &out) {
    static const struct {
        const char *name;
        RampType type;
    } kTypes[] = {{"u", RampType::U},           {"v", RampType::V},
                  {"diagonal", RampType::Diagonal}, {"radial", RampType::Radial},
                  {"circular", RampType::Circular}, {"box", RampType::Box}};
    char *end = nullptr;
    const long index = std::strtol(word.c_str(), &end, 10);
    // Files write the name, or its place in this list.
    if (!word.empty() && *end == '\0') {
        if (index < 0 || index >= 6) return false;
        out = kTypes[index].type;
        return true;
    }
    for (const auto &entry : kTypes) {
        if (same(word, entry.name)) {
            out = entry.type;
            return true;
        }
    }
    return false;
}

} // namespace

NodeResult readImageTexture(const std::string &, TextParser &parser, LoadState &state) {
    std::string name, filename, colorSpace, filter;
    ImageMapping mapping;
    const NodeRef node{"Image", name};
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME")
            ok = readStringValue(parser, node, "name", name, true);
        else if (key == "FILENAME")
            ok = readStringValue(parser, node, "filename", filename, false);
        else if (key == "SWRAP")
            ok = readWrap(parser, node, "swrap", mapping.swrap);
        else if (key == "TWRAP")
            ok = readWrap(parser, node, "twrap", mapping.twrap);
        else if (key == "SSCALE")
            ok = readFloatValue(parser, node, "sscale", mapping.sscale);
        else if (key == "TSCALE")
            ok = readFloatValue(parser, node, "tscale", mapping.tscale);
        else if (key == "SOFFSET")
            ok = readFloatValue(parser, node, "soffset", mapping.soffset);
        else if (key == "TOFFSET")
            ok = readFloatValue(parser, node, "toffset", mapping.toffset);
        else if (key == "SFLIP")
            ok = readBoolValue(parser, node, "sflip", mapping.sflip);
        else if (key == "TFLIP")
            ok = readBoolValue(parser, node, "tflip", mapping.tflip);
        else if (key == "COLOR_SPACE")
            ok = readStringValue(parser, node, "color_space", colorSpace, false);
        else if (key == "FILTER")
            ok = readStringValue(parser, node, "filter", filter, false);
        else if (key == "MISSING_TEXTURE_COLOR")
            ok = readVec3Value(parser, node, "missing_texture_color", mapping.missingColor);
        else
            return false;
        return true;
    });
    if (!ok) return NodeResult::Refused;
    // An image that cannot be read leaves the node without a texture;
    // colours that name it take their default when the scene is complete.
    if (filename.empty()) {
        Warning("Image %s names no file; colours that use it take their default", name.c_str());
        return NodeResult::Read;
    }
    // Looked for beside the scene file first.
    filename = state.findFile(filename, LoadState::FileKind::Texture);
    // Under the classic conventions a TGA image is looked up as it always
    // was: nearest texel, no wrapping, samples as stored.
    if (state.world.classic() && imageFormatOfName(filename) == ImageFormat::Tga) {
        if (const Texture *texture = state.world.addTexture(filename))
            state.addTextureNode(name, texture);
        return NodeResult::Read;
    }
    const Raster *image = state.world.findImage(filename);
    if (image == nullptr) image = state.world.addImage(filename);
    if (image == nullptr) return NodeResult::Read;
    mapping.srgb = decodesSrgb(colorSpace, *image);
    mapping.filter = same(filter, "closest") ? TextureFilter::Closest : TextureFilter::Bilinear;
    state.addTextureNode(name,
                         state.world.addTexture(std::make_unique<ImageTexture>(image, mapping)));
    return NodeResult::Read;
}

NodeResult readCheckerboard(const std::string &, TextParser &parser, LoadState &state) {
    std::string name;
    auto checker = std::make_unique<CheckerboardTexture>();
    const NodeRef node{"Checkerboard", name};
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME")
            ok = readStringValue(parser, node, "name", name, true);
        else if (key == "COLOR1")
            ok = readPatternColor(parser, node, "color1", checker->color1);
        else if (key == "COLOR2")
            ok = readPatternColor(parser, node, "color2", checker->color2);
        else if (key == "U_FREQUENCY")
            ok = readFloatValue(parser, node, "u_frequency", checker->uFrequency);
        else if (key == "V_FREQUENCY")
            ok = readFloatValue(parser, node, "v_frequency", checker->vFrequency);
        else if (key == "U_OFFSET")
            ok = readFloatValue(parser, node, "u_offset", checker->uOffset);
        else if (key == "V_OFFSET")
            ok = readFloatValue(parser, node, "v_offset", checker->vOffset);
        else
            return false;
        return true;
    });
    if (!ok) return NodeResult::Refused;
    state.addTextureNode(name, state.world.addTexture(std::move(checker)));
    return NodeResult::Read;
}

NodeResult readRamp(const std::string &, TextParser &parser, LoadState &state) {
    std::string name;
    RampType type = RampType::V;
    std::vector<float> positions;
    std::vector<Vec3f> colors;
    std::vector<RampInterpolation> interpolations;
    const NodeRef node{"Ramp", name};
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME") {
            ok = readStringValue(parser, node, "name", name, true);
        } else if (key == "TYPE") {
            std::string word;
            ok = readStringValue(parser, node, "type", word, false);
            if (ok && !rampTypeOf(word, type))
                Warning("Ramp %s: type \"%s\" is unknown; the ramp runs along v", name.c_str(),
                        word.c_str());
        } else if (key == "POSITION") {
            ok = readList(parser, node, "position", positions, [&](float &v) {
                return readFloatValue(parser, node, "position", v);
            });
        } else if (key == "COLOR") {
            ok = readList(parser, node, "color", colors, [&](Vec3f &v) {
                return readVec3Value(parser, node, "color", v);
            });
        } else if (key == "INTERPOLATION") {
            ok = readInterpolation(parser, node, interpolations);
        } else {
            return false;
        }
        return true;
    });
    if (!ok) return NodeResult::Refused;
    if (positions.size() != colors.size())
        Warning("Ramp %s has %zu positions and %zu colours; the extra ones are not used",
                name.c_str(), positions.size(), colors.size());
    std::vector<RampKey> keys(positions.size() < colors.size() ? positions.size() : colors.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        keys[i].position = positions[i];
        keys[i].color = colors[i];
        // One interpolation stands for every key.
        if (!interpolations.empty())
            keys[i].interpolation = interpolations[i < interpolations.size() ? i : 0];
    }
    auto ramp = std::make_unique<RampTexture>(type, std::move(keys));
    state.addTextureNode(name, state.world.addTexture(std::move(ramp)));
    return NodeResult::Read;
}
