// Parameter values of scene nodes in every form files write them: a plain
// value ("radius 2", "matrix" and sixteen numbers, "shader lambert1"), or an
// array "NAME COUNT KEYS TYPE" followed by COUNT x KEYS elements, written as
// numbers or packed as one b85 or b64 text. A still image uses the first
// motion key; the others are read past. Node readers call these and never
// see an encoding.
//
// Every reader returns false, after an Error naming the node and the
// parameter, when the value is damaged (a packed text that does not decode,
// a decoded count that differs from the header, a count the rest of the file
// cannot hold); the node is then refused and the load ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/transform.h"
#include "util/vecmath.h"

class TextParser;

enum class ArrayType : uint8_t {
    Other, // a type word this reader does not know (read as the caller expects)
    Bool,
    Byte,
    Int,
    UInt,
    Float,
    Rgb,
    Rgba,
    Vector,
    Point,
    Vector2,
    Point2,
    Matrix,
    String,
    Node,
};

enum class ArrayEncoding : uint8_t { Plain, B85, B64 };

struct ArrayHeader {
    uint32_t count = 0;
    uint32_t keys = 1;
    bool zeroKeys = false; // the file wrote 0 motion keys (read as 1)
    ArrayType type = ArrayType::Other;
    ArrayEncoding encoding = ArrayEncoding::Plain;

    // Numbers per element: 16 for a matrix, 3 for colours and vectors, ...;
    // 0 for strings, node names and unknown types.
    int components() const;
    bool integral() const; // BOOL, BYTE, INT, UINT
    bool textual() const;  // STRING, NODE
};

// The node a value belongs to, for messages: its type word as files write
// it and its name as read so far.
struct NodeRef {
    const char *type;
    const std::string &name;
};

// Reads "COUNT KEYS TYPE" at the cursor when the rest of the line starts
// with such a header (two unsigned integers and a known type word, b85/b64
// prefix allowed; a key count of 0 counts as 1). Otherwise the cursor stays
// where it was and false is returned.
bool readArrayHeader(TextParser &parser, ArrayHeader &header);

// After a parameter name the node does not know: when an array header
// follows on the same line and its values are packed, steps over the
// encoded text (reporting nothing), so that it is never taken for
// parameters. Otherwise the cursor stays where it was.
void skipPackedValue(TextParser &parser);

// The list header of a mesh list, which is always written: count, keys and
// a type word, where an unknown word means the list's usual type. False,
// after an Error, when the type's element size is not `components`.
bool readListHeader(TextParser &parser, const NodeRef &node, const char *param,
                    int components, ArrayHeader &header);

// The elements of an array whose header was just read: the first key's
// count x components values. Integers (plain numbers read with readInt,
// packed words as 32-bit values) for index lists.
bool readIntArray(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                  const char *param, std::vector<int32_t> &out);

// True when a word starts like a number (a digit, sign or point): "inf1" or
// "nanite" are names, not numbers.
bool looksNumeric(const std::string &word);

// Sixteen floats of one matrix as the file lists them, for reading every
// motion key of a matrix array.
struct MatrixRecord {
    float v[16];
};

// Typed lists: Point3f, Vec3f, Point2f and MatrixRecord are plain records
// of 3, 2 or 16 floats, filled element by element. With `allKeys`, every
// key's elements follow one another (count x keys of them).
template <typename T>
bool readVectorArray(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                     const char *param, std::vector<T> &out, bool allKeys = false);

// The first key's first `n` numbers of an array whose header was just read,
// as floats (integers are converted), for scalar and short values. `found`
// stays false when the array holds fewer numbers. False after an Error.
bool readLeadingNumbers(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                        const char *param, int n, float *out, bool &found);

// The words or quoted strings of a STRING, NODE or BOOL array whose header
// was just read; the first key's are kept.
bool readStringElements(TextParser &parser, const ArrayHeader &header, const NodeRef &node,
                        const char *param, std::vector<std::string> &out, bool upperCase);
