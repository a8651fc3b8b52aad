// Readers of the shader nodes LAMBERT, AISTANDARD and BLINN.
#include <string>

#include "material.h"
#include "node_block.h"
#include "text_parser.h"
#include "world.h"

namespace {

// A colour parameter as read: three numbers, or the name of an image file
// node. Once a texture name has been read it sticks, whatever follows.
struct ColorValue {
    Vec3f rgb;
    std::string textureName;

    explicit ColorValue(const Vec3f &initial) : rgb(initial) {}

    // A value that does not start with a digit is a texture name (so ".5" or
    // "-1" name a texture).
    void read(TextParser &parser) {
        if (parser.isDigitNext())
            parser.read3Floats(rgb.x, rgb.y, rgb.z);
        else
            parser.readToken(textureName, true);
    }

    // Texture tinted by the coefficient, or the colour as read.
    ColorChannel channel(float k) const {
        if (!textureName.empty()) return ColorChannel(textureName, Vec3f(k, k, k));
        return ColorChannel(rgb);
    }
    // Texture tinted by the coefficient, or the colour scaled by it.
    ColorChannel scaledChannel(float k) const {
        if (!textureName.empty()) return ColorChannel(textureName, Vec3f(k, k, k));
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
};

enum NodeParams : unsigned {
    kSpecular = 1u,   // KS, KS_COLOR
    kMirror = 2u,     // KR, KR_COLOR, KT, KT_COLOR, KSHI
    kPower = 4u,      // POWER
};

// Reads a shader node block; `params` says which keywords beyond the
// diffuse and ambient ones this node type knows.
ShaderNode readShaderNode(TextParser &parser, unsigned params) {
    ShaderNode n;
    readNodeBlock(parser, [&](const std::string &key) {
        if (key == "NAME") {
            parser.readToken(n.mat_name, true);
        } else if (key == "KD") {
            n.kd = parser.readFloat();
        } else if (key == "KD_COLOR") {
            n.Kd.read(parser);
        } else if (key == "KA") {
            n.ka = parser.readFloat();
        } else if (key == "KA_COLOR") {
            n.Ka.read(parser);
        } else if ((params & kSpecular) && key == "KS") {
            n.ks = parser.readFloat();
        } else if ((params & kSpecular) && key == "KS_COLOR") {
            n.Ks.read(parser);
        } else if ((params & kMirror) && key == "KR") {
            n.kr = parser.readFloat();
        } else if ((params & kMirror) && key == "KR_COLOR") {
            n.Kr.read(parser);
        } else if ((params & kMirror) && key == "KT") {
            n.kt = parser.readFloat();
        } else if ((params & kMirror) && key == "KT_COLOR") {
            n.Kt.read(parser);
        } else if ((params & kMirror) && key == "KSHI") {
            n.kshi = parser.readFloat();
        } else if ((params & kPower) && key == "POWER") {
            n.power = parser.readFloat();
        } else {
            return false;
        }
        return true;
    });
    return n;
}

} // namespace

void parseLambert(TextParser &parser, World &world) {
    ShaderNode n = readShaderNode(parser, 0);
    // The ambient values are read but a Lambert material keeps its defaults.
    world.addMaterial(new Lambert(n.mat_name.c_str(), n.kd, n.Kd.channel(n.kd)));
}

void parseStandard(TextParser &parser, World &world) {
    ShaderNode n = readShaderNode(parser, kSpecular | kMirror);
    Standard *mat = new Standard(n.mat_name.c_str());
    mat->Kd = n.Kd.scaledChannel(n.kd);
    mat->ka = n.ka;
    mat->Ka = n.Ka.channel(n.ka);
    mat->Ks = n.Ks.scaledChannel(n.ks);
    mat->Kr = n.Kr.scaledChannel(n.kr);
    mat->Kt = n.Kt.scaledChannel(n.kt);
    mat->shininess = n.kshi;
    world.addMaterial(mat);
}

void parseBlinn(TextParser &parser, World &world) {
    ShaderNode n = readShaderNode(parser, kSpecular | kPower);
    world.addMaterial(new BlinnPhong(n.mat_name.c_str(), n.kd, n.Kd.channel(n.kd), n.ks,
                                     n.Ks.channel(n.ks), n.power));
}

bool parseMaterialNode(const std::string &keyword, TextParser &parser, World &world) {
    if (keyword == "LAMBERT")
        parseLambert(parser, world);
    else if (keyword == "AISTANDARD")
        parseStandard(parser, world);
    else if (keyword == "BLINN")
        parseBlinn(parser, world);
    else
        return false;
    return true;
}
