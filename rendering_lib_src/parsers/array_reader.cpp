#include "parsers/array_reader.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "util/error.h"
#include "util/huge_pages.h"
#include "parsers/packed_arrays.h"
#include "parsers/text_parser.h"

namespace {

struct TypeWord {
    const char *word;
    ArrayType type;
};

// Type words as files write them (compared upper-cased). ENUM values are
// words and POINTER is the older name of NODE.
constexpr TypeWord kTypeWords[] = {
    {"BOOL", ArrayType::Bool},       {"BYTE", ArrayType::Byte},     {"INT", ArrayType::Int},
    {"UINT", ArrayType::UInt},       {"FLOAT", ArrayType::Float},   {"RGB", ArrayType::Rgb},
    {"RGBA", ArrayType::Rgba},       {"VECTOR", ArrayType::Vector}, {"POINT", ArrayType::Point},
    {"VECTOR2", ArrayType::Vector2}, {"POINT2", ArrayType::Point2}, {"MATRIX", ArrayType::Matrix},
    {"STRING", ArrayType::String},   {"NODE", ArrayType::Node},     {"ENUM", ArrayType::String},
    {"POINTER", ArrayType::Node},
};

// Splits an upper-cased type word into its encoding prefix and type.
// False when the type is not one of the known words.
bool parseTypeWord(const std::string &word, ArrayType &type, ArrayEncoding &encoding) {
    const char *p = word.c_str();
    encoding = ArrayEncoding::Plain;
    if (std::strncmp(p, "B85", 3) == 0) {
        encoding = ArrayEncoding::B85;
        p += 3;
    } else if (std::strncmp(p, "B64", 3) == 0) {
        encoding = ArrayEncoding::B64;
        p += 3;
    }
    for (const TypeWord &t : kTypeWords) {
        if (std::strcmp(p, t.word) == 0) {
            type = t.type;
            return true;
        }
    }
    type = ArrayType::Other;
    return false;
}

const char *encodingName(ArrayEncoding e) { return e == ArrayEncoding::B85 ? "b85" : "b64"; }

// Whether the rest of the text can hold `values` values. Plain numbers need
// a separator between them; b64 carries 3 bytes per 4 characters; b85 words
// may be shorthand ("z", or one word repeated), which the real files use for
// face-size lists of one repeated word: such arrays are charged against the
// whole text's allowance (see TextParser::chargeExpansion) instead.
bool textCanHold(TextParser &parser, ArrayEncoding encoding, uint64_t values) {
    const uint64_t bytes = parser.remaining();
    switch (encoding) {
    case ArrayEncoding::Plain:
        return values <= (bytes + 1) / 2;
    case ArrayEncoding::B64:
        return values <= bytes * 3 / 16 + 1;
    case ArrayEncoding::B85:
        break;
    }
    return parser.chargeExpansion(values);
}

// count x keys x components, saturated far above anything a file can hold.
uint64_t totalValues(const ArrayHeader &header, int components) {
    const uint64_t perKey = static_cast<uint64_t>(header.count) * static_cast<uint64_t>(components);
    const uint64_t limit = uint64_t{1} << 62;
    if (header.keys != 0 && perKey > limit / header.keys) return limit;
    return perKey * header.keys;
}

enum class NumberKind { Float, Integer };

// Destination of the first key's values: `keep` 32-bit values, float bits
// or integers, at `bytes` (little-endian, as packed words are); `ints` is
// the same storage seen as integers when the values are integers.
struct ValueSink {
    unsigned char *bytes;
    uint32_t *ints;
    size_t keep;
};


bool damaged(const NodeRef &node, const char *param, ArrayEncoding encoding) {
    Error("%s %s: %s is not valid %s text", node.type, node.name.c_str(), param,
          encodingName(encoding));
    return false;
}

bool countMismatch(const NodeRef &node, const char *param, uint64_t decoded, uint64_t wanted) {
    Error("%s %s: %s decodes to %llu values, its header says %llu", node.type, node.name.c_str(),
          param, static_cast<unsigned long long>(decoded),
          static_cast<unsigned long long>(wanted));
    return false;
}

bool readPlain(TextParser &parser, NumberKind kind, uint64_t total, const ValueSink &sink) {
    if (kind == NumberKind::Float)
        parser.readFloats(sink.bytes, total, sink.keep);
    else
        parser.readInts(sink.bytes, total, sink.keep);
    return true;
}

bool readB85(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
             const char *param, NumberKind kind, uint64_t total, const ValueSink &sink) {
    const char *begin = nullptr, *end = nullptr;
    if (!parser.readWord(begin, end)) return countMismatch(node, param, 0, total);
    if (kind == NumberKind::Float) {
        const int64_t words = decodeB85(begin, end, sink.bytes, sink.keep);
        if (words == kPackedDamaged) return damaged(node, param, ArrayEncoding::B85);
        if (static_cast<uint64_t>(words) != total)
            return countMismatch(node, param, static_cast<uint64_t>(words), total);
        return true;
    }
    // Integer words start with a letter saying how values are packed; some
    // writers put a blank after it. BYTE arrays may have no letter: their
    // bytes are packed as with 'B'. Letters are digits too, so a BYTE text
    // that starts with one and does not decode with it is tried without.
    const char *const wordBegin = begin, *const wordEnd = end;
    const char letter = *begin;
    const bool bareBytes = header.type == ArrayType::Byte;
    int64_t values = 0;
    if (packedValuesPerWord(letter) == 0) {
        if (!bareBytes) {
            Error("%s %s: %s has an unknown packing '%c'", node.type, node.name.c_str(), param,
                  letter);
            return false;
        }
        if (decodePackedIntegers('B', begin, end, total, sink.ints, sink.keep, values)) return true;
    } else {
        ++begin;
        if (begin == end && !parser.readWord(begin, end))
            return countMismatch(node, param, 0, total);
        if (decodePackedIntegers(letter, begin, end, total, sink.ints, sink.keep, values)) return true;
        int64_t bare = 0;
        if (bareBytes && wordEnd - wordBegin > 1 &&
            decodePackedIntegers('B', wordBegin, wordEnd, total, sink.ints, sink.keep, bare))
            return true;
    }
    if (values == kPackedDamaged) return damaged(node, param, ArrayEncoding::B85);
    return countMismatch(node, param, static_cast<uint64_t>(values), total);
}

bool readB64(TextParser &parser, const NodeRef &node, const char *param, uint64_t total,
             const ValueSink &sink) {
    const uint64_t wanted = total * 4;
    Base64Decoder decoder(sink.bytes, sink.keep * 4);
    // The text may be wrapped over several lines: words are fed until the
    // header's byte count is reached or the text says it is complete.
    while (decoder.bytes() < wanted && !decoder.padded()) {
        const char *begin = nullptr, *end = nullptr;
        if (!parser.readWord(begin, end)) break;
        if (!decoder.feed(begin, end)) return damaged(node, param, ArrayEncoding::B64);
        parser.releaseConsumed();
    }
    if (!decoder.finish()) return damaged(node, param, ArrayEncoding::B64);
    if (decoder.bytes() != wanted) {
        // A text shorter than its header runs on into the words after it.
        Error("%s %s: %s decodes to %llu bytes, its header says %llu values of 4 bytes",
              node.type, node.name.c_str(), param,
              static_cast<unsigned long long>(decoder.bytes()),
              static_cast<unsigned long long>(total));
        return false;
    }
    return true;
}

// False, after an Error, when the rest of the text cannot hold the array's
// values: checked before anything is allocated for them.
bool checkSize(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
               const char *param, int components) {
    const uint64_t total = totalValues(header, components);
    if (textCanHold(parser, header.encoding, total)) return true;
    Error("%s %s: %s claims %llu values, more than the rest of the file can hold", node.type,
          node.name.c_str(), param, static_cast<unsigned long long>(total));
    return false;
}

// Reads all count x keys x components values of an array whose header was
// read and whose size was checked, and keeps the first sink.keep of them.
bool readValues(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                const char *param, NumberKind kind, int components, const ValueSink &sink) {
    const uint64_t total = totalValues(header, components);
    if (total == 0) return true;
    switch (header.encoding) {
    case ArrayEncoding::Plain:
        return readPlain(parser, kind, total, sink);
    case ArrayEncoding::B85:
        return readB85(parser, header, node, param, kind, total, sink);
    case ArrayEncoding::B64:
        return readB64(parser, node, param, total, sink);
    }
    return false;
}

// Integral types are read as integers; everything else (and a type word
// this reader does not know) as the caller prefers.
NumberKind kindOf(const ArrayHeader &header, NumberKind preferred) {
    if (header.integral()) return NumberKind::Integer;
    if (header.type == ArrayType::Other) return preferred;
    return NumberKind::Float;
}

// True when the next word is a number (the words nan and inf included).
bool numberFollows(TextParser &parser) {
    const TextParser::Position start = parser.position();
    std::string word;
    const bool any = parser.readString(word, true);
    parser.restore(start);
    return any && (looksNumeric(word) || word.rfind("NAN", 0) == 0 || word.rfind("INF", 0) == 0);
}

} // namespace

// The first key's first `n` numbers of an array as floats (integers are
// converted), for scalar and short values. False after an Error.
bool readLeadingNumbers(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                        const char *param, int n, float *out, bool &found) {
    found = false;
    int components = header.components();
    if (components == 0) components = 1; // an unknown type: one number per element
    if (header.textual()) {
        Error("%s %s: %s has type %s where numbers are expected", node.type, node.name.c_str(),
              param, header.type == ArrayType::Node ? "NODE" : "STRING");
        return false;
    }
    // Zero keys followed by no number (the next parameter, the end of the
    // node): the array is empty, and the search for numbers must not take
    // the next parameters' values for its own.
    if (header.zeroKeys && header.encoding == ArrayEncoding::Plain && !numberFollows(parser)) {
        Warning("%s %s: %s has 0 motion keys and so no value; it is ignored", node.type,
                node.name.c_str(), param);
        return true;
    }
    const NumberKind kind = kindOf(header, NumberKind::Float);
    const size_t perKey = static_cast<size_t>(header.count) * static_cast<size_t>(components);
    const size_t keep = perKey < static_cast<size_t>(n) ? perKey : static_cast<size_t>(n);
    uint32_t raw[16] = {};
    const ValueSink sink{reinterpret_cast<unsigned char *>(raw), raw, keep};
    if (!checkSize(parser, header, node, param, components) ||
        !readValues(parser, header, node, param, kind, components, sink))
        return false;
    if (keep < static_cast<size_t>(n)) return true; // too few numbers: the value stays
    for (int i = 0; i < n; ++i) {
        if (kind == NumberKind::Integer) {
            int32_t v;
            std::memcpy(&v, &raw[i], 4);
            out[i] = static_cast<float>(v);
        } else {
            std::memcpy(&out[i], &raw[i], 4);
        }
    }
    found = true;
    return true;
}

// The words or quoted strings of a STRING, NODE or BOOL array whose header
// was read; the first key's are kept.
bool readStringElements(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                        const char *param, std::vector<std::string> &out, bool upperCase) {
    out.clear();
    if (header.encoding != ArrayEncoding::Plain) return damaged(node, param, header.encoding);
    const uint64_t total = totalValues(header, 1);
    // A word and a blank at least per element.
    if (total > parser.remaining() / 2 + 1) {
        Error("%s %s: %s claims %llu values, more than the rest of the file can hold", node.type,
              node.name.c_str(), param, static_cast<unsigned long long>(total));
        return false;
    }
    for (uint64_t i = 0; i < total; ++i) {
        std::string value;
        if (!parser.readString(value, upperCase)) break;
        if (i < header.count) out.push_back(std::move(value));
    }
    return true;
}


int ArrayHeader::components() const {
    switch (type) {
    case ArrayType::Bool:
    case ArrayType::Byte:
    case ArrayType::Int:
    case ArrayType::UInt:
    case ArrayType::Float:
        return 1;
    case ArrayType::Vector2:
    case ArrayType::Point2:
        return 2;
    case ArrayType::Rgb:
    case ArrayType::Vector:
    case ArrayType::Point:
        return 3;
    case ArrayType::Rgba:
        return 4;
    case ArrayType::Matrix:
        return 16;
    case ArrayType::String:
    case ArrayType::Node:
    case ArrayType::Other:
        break;
    }
    return 0;
}

bool ArrayHeader::integral() const {
    return type == ArrayType::Bool || type == ArrayType::Byte || type == ArrayType::Int ||
           type == ArrayType::UInt;
}

bool ArrayHeader::textual() const { return type == ArrayType::String || type == ArrayType::Node; }

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// An unsigned decimal run at p; counts beyond 32 bits are clamped (the size
// guard refuses them later). False when p holds no digit.
bool scanCount(const char *&p, uint32_t &out) {
    if (*p < '0' || *p > '9') return false;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value <= UINT32_MAX) value = value * 10 + static_cast<uint64_t>(*p - '0');
    out = value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
    return true;
}

} // namespace

bool readArrayHeader(TextParser &parser, ArrayHeader &header) {
    // Looked for on the parameter's own line only, character by character:
    // values on the following lines ("matrix" and sixteen numbers) are never
    // taken for a header, and nothing beyond the line is scanned.
    const char *p = parser.position().cursor;
    if (p == nullptr || parser.eof()) return false;
    ArrayHeader h;
    while (isBlank(*p)) ++p;
    if (!scanCount(p, h.count) || !isBlank(*p)) return false;
    while (isBlank(*p)) ++p;
    if (!scanCount(p, h.keys) || !isBlank(*p)) return false;
    while (isBlank(*p)) ++p;
    const char *word = p;
    while ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9')) ++p;
    if (p == word || p - word > 16 || !(*p == '\0' || isBlank(*p) || *p == '\n' || *p == '\r'))
        return false;
    std::string type(word, p);
    TextParser::toUpper(type);
    if (!parseTypeWord(type, h.type, h.encoding)) return false;
    // No keys means one: the elements are still written once.
    h.zeroKeys = h.keys == 0;
    if (h.keys == 0) h.keys = 1;
    header = h;
    parser.restore(TextParser::Position{const_cast<char *>(p)});
    return true;
}

void skipPackedValue(TextParser &parser) {
    ArrayHeader header;
    if (!readArrayHeader(parser, header)) return;
    const uint64_t values = totalValues(header, header.components() > 0 ? header.components() : 1);
    if (header.encoding == ArrayEncoding::Plain || values == 0) return;
    const char *begin = nullptr, *wordEnd = nullptr;
    if (header.encoding == ArrayEncoding::B85) {
        // One word, after a lone packing letter for integers (a lone "z" or
        // "y" is a whole word of a BYTE array without a letter).
        if (parser.readWord(begin, wordEnd) && header.integral() && wordEnd - begin == 1 &&
            packedValuesPerWord(*begin) != 0)
            parser.readWord(begin, wordEnd);
        return;
    }
    Base64Decoder decoder(nullptr, 0);
    while (decoder.bytes() < values * 4 && !decoder.padded()) {
        const TextParser::Position before = parser.position();
        if (!parser.readWord(begin, wordEnd)) return;
        // A word that is no base64 (the closing brace of a short text)
        // belongs to the node, not to the value.
        if (!decoder.feed(begin, wordEnd)) {
            parser.restore(before);
            return;
        }
    }
}

bool readListHeader(TextParser &parser, const NodeRef &node, const char *param, int components,
                    ArrayHeader &header) {
    // Count, keys and type are always written for these lists; the numbers
    // are found by forward search as they always were.
    const int32_t count = parser.readInt();
    const int32_t keys = parser.readInt();
    std::string type;
    parser.readToken(type, true);
    if (count < 0 || keys < 0) {
        Error("%s %s: %s has a negative count", node.type, node.name.c_str(), param);
        return false;
    }
    header = ArrayHeader();
    header.count = static_cast<uint32_t>(count);
    // Files of the first exporter wrote a 1 here; a 0 means one key too.
    header.keys = keys > 1 ? static_cast<uint32_t>(keys) : 1u;
    parseTypeWord(type, header.type, header.encoding);
    const int c = header.components();
    if (header.type != ArrayType::Other && c != components) {
        Error("%s %s: %s has type %s, not %d numbers per element", node.type, node.name.c_str(),
              param, type.c_str(), components);
        return false;
    }
    return true;
}

bool readIntArray(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                  const char *param, std::vector<int32_t> &out) {
    const uint64_t keep = header.count;
    if (!header.integral() && header.type != ArrayType::Other) {
        Error("%s %s: %s has type %s where integers are expected", node.type, node.name.c_str(),
              param, header.textual() ? "STRING" : "FLOAT");
        return false;
    }
    if (!checkSize(parser, header, node, param, 1)) return false;
    assignFresh(out, static_cast<size_t>(keep));
    // int32_t storage seen as uint32_t: the same object representation.
    const ValueSink sink{reinterpret_cast<unsigned char *>(out.data()),
                         reinterpret_cast<uint32_t *>(out.data()), out.size()};
    return readValues(parser, header, node, param, NumberKind::Integer, 1, sink);
}

template <typename T>
bool readVectorArray(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                     const char *param, std::vector<T> &out, bool allKeys) {
    static_assert(sizeof(T) % sizeof(float) == 0, "a record of floats");
    constexpr int kComponents = static_cast<int>(sizeof(T) / sizeof(float));
    const uint64_t elements =
        static_cast<uint64_t>(header.count) * (allKeys ? header.keys : uint64_t{1});
    const uint64_t keep = elements * kComponents;
    if (header.integral()) {
        Error("%s %s: %s has an integer type where numbers are expected", node.type,
              node.name.c_str(), param);
        return false;
    }
    if (!checkSize(parser, header, node, param, kComponents)) return false;
    assignFresh(out, static_cast<size_t>(elements));
    // The records are filled through their bytes, number after number.
    const ValueSink sink{reinterpret_cast<unsigned char *>(out.data()), nullptr,
                         static_cast<size_t>(keep)};
    return readValues(parser, header, node, param, NumberKind::Float, kComponents, sink);
}

template bool readVectorArray<Point3f>(TextParser &, const ArrayHeader &, const NodeRef &,
                                       const char *, std::vector<Point3f> &, bool);
template bool readVectorArray<Vec3f>(TextParser &, const ArrayHeader &, const NodeRef &,
                                     const char *, std::vector<Vec3f> &, bool);
template bool readVectorArray<Point2f>(TextParser &, const ArrayHeader &, const NodeRef &,
                                       const char *, std::vector<Point2f> &, bool);
template bool readVectorArray<float>(TextParser &, const ArrayHeader &, const NodeRef &,
                                     const char *, std::vector<float> &, bool);
template bool readVectorArray<MatrixRecord>(TextParser &, const ArrayHeader &, const NodeRef &,
                                            const char *, std::vector<MatrixRecord> &, bool);

bool looksNumeric(const std::string &word) {
    if (word.empty()) return false;
    const char c = word[0];
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}
