#include "parsers/value_reader.h"

#include <cstdlib>

#include "util/error.h"
#include "parsers/array_reader.h"
#include "parsers/text_parser.h"

bool readFloatValue(TextParser &parser, const NodeRef &node, const char *param, float &out) {
    ArrayHeader header;
    if (!readArrayHeader(parser, header)) {
        out = parser.readFloat();
        return true;
    }
    bool found = false;
    float v = 0.0f;
    if (!readLeadingNumbers(parser, header, node, param, 1, &v, found)) return false;
    if (found) out = v;
    return true;
}

bool readIntValue(TextParser &parser, const NodeRef &node, const char *param, int32_t &out) {
    ArrayHeader header;
    if (!readArrayHeader(parser, header)) {
        out = parser.readInt();
        return true;
    }
    if (!header.integral()) {
        float v = 0.0f;
        bool found = false;
        if (!readLeadingNumbers(parser, header, node, param, 1, &v, found)) return false;
        // Out-of-range and NaN values are not converted.
        if (found && v > -2147483648.0f && v < 2147483648.0f) out = static_cast<int32_t>(v);
        return true;
    }
    std::vector<int32_t> values;
    if (!readIntArray(parser, header, node, param, values)) return false;
    if (!values.empty()) out = values[0];
    return true;
}

namespace {
// "on", "true" or a non-zero number.
bool boolWord(const std::string &word) {
    if (word == "ON" || word == "TRUE") return true;
    if (word == "OFF" || word == "FALSE") return false;
    return std::strtol(word.c_str(), nullptr, 10) != 0;
}
} // namespace

bool readBoolValue(TextParser &parser, const NodeRef &node, const char *param, bool &out) {
    ArrayHeader header;
    if (!readArrayHeader(parser, header)) {
        std::string word;
        if (parser.readString(word, true)) out = boolWord(word);
        return true;
    }
    if (header.type == ArrayType::Bool && header.encoding == ArrayEncoding::Plain) {
        // Plain BOOL arrays are words ("on", "false", "1").
        std::vector<std::string> words;
        if (!readStringElements(parser, header, node, param, words, true)) return false;
        if (!words.empty()) out = boolWord(words[0]);
        return true;
    }
    std::vector<int32_t> values;
    if (!readIntArray(parser, header, node, param, values)) return false;
    if (!values.empty()) out = values[0] != 0;
    return true;
}

bool readMatrixValue(TextParser &parser, const NodeRef &node, const char *param,
                     Transform &out) {
    float values[16];
    ArrayHeader header;
    if (readArrayHeader(parser, header)) {
        bool found = false;
        if (!readLeadingNumbers(parser, header, node, param, 16, values, found)) return false;
        if (!found) return true;
    } else {
        for (float &v : values) v = parser.readFloat();
    }
    // The file lists the matrix for row vectors: read it transposed.
    float m[4][4];
    for (int k = 0; k < 16; ++k) m[k % 4][k / 4] = values[k];
    out = Transform(Matrix4x4(m));
    return true;
}

bool readMatrixKeys(TextParser &parser, const NodeRef &node, const char *param,
                    std::vector<Transform> &out) {
    ArrayHeader header;
    const TextParser::Position start = parser.position();
    if (!readArrayHeader(parser, header) || header.keys <= 1 || header.count != 1 ||
        header.type != ArrayType::Matrix) {
        parser.restore(start);
        Transform t;
        if (!out.empty()) t = out.front();
        if (!readMatrixValue(parser, node, param, t)) return false;
        out.assign(1, t);
        return true;
    }
    // One matrix a key: read them all as sixteen-float records.
    std::vector<MatrixRecord> keys;
    if (!readVectorArray(parser, header, node, param, keys, true)) return false;
    out.clear();
    for (const MatrixRecord &k : keys) {
        // The file lists the matrix for row vectors: read it transposed.
        float m[4][4];
        for (int i = 0; i < 16; ++i) m[i % 4][i / 4] = k.v[i];
        out.push_back(Transform(Matrix4x4(m)));
    }
    return true;
}

bool readVec3Value(TextParser &parser, const NodeRef &node, const char *param, Vec3f &out) {
    ArrayHeader header;
    if (!readArrayHeader(parser, header)) {
        parser.read3Floats(out.x, out.y, out.z);
        return true;
    }
    float v[3];
    bool found = false;
    if (!readLeadingNumbers(parser, header, node, param, 3, v, found)) return false;
    if (found) out = Vec3f(v[0], v[1], v[2]);
    return true;
}

bool readVec2Value(TextParser &parser, const NodeRef &node, const char *param, Point2f &out) {
    ArrayHeader header;
    if (!readArrayHeader(parser, header)) {
        const float x = parser.readFloat();
        const float y = parser.readFloat();
        out = Point2f(x, y);
        return true;
    }
    float v[2];
    bool found = false;
    if (!readLeadingNumbers(parser, header, node, param, 2, v, found)) return false;
    if (found) out = Point2f(v[0], v[1]);
    return true;
}

bool readStringList(TextParser &parser, const NodeRef &node, const char *param,
                    std::vector<std::string> &out, bool upperCase) {
    out.clear();
    ArrayHeader header;
    if (!readArrayHeader(parser, header)) {
        std::string value;
        if (parser.readString(value, upperCase)) out.push_back(value);
        return true;
    }
    if (!header.textual() && header.type != ArrayType::Other) {
        Error("%s %s: %s has a numeric type where a name is expected", node.type,
              node.name.c_str(), param);
        return false;
    }
    return readStringElements(parser, header, node, param, out, upperCase);
}

bool readStringValue(TextParser &parser, const NodeRef &node, const char *param,
                     std::string &out, bool upperCase) {
    std::vector<std::string> values;
    if (!readStringList(parser, node, param, values, upperCase)) return false;
    if (values.empty()) {
        out.clear();
    } else {
        out = std::move(values[0]);
    }
    return true;
}
