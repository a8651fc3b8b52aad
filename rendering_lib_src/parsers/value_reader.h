// Single parameter values of scene nodes ("radius 2", "matrix" and sixteen
// numbers, "shader lambert1", "visibility on"), written plainly or as an
// array whose first element is the value. Like the array readers, each
// returns false after an Error naming the node and the parameter when the
// value is damaged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/transform.h"
#include "util/vecmath.h"

class TextParser;
struct NodeRef;

// Scalar parameters. Plain forms read as the tokenizer always has (numbers
// by forward search); the array form yields its first element and keeps the
// value unchanged when the array is empty.
bool readFloatValue(TextParser &parser, const NodeRef &node, const char *param, float &out);
bool readIntValue(TextParser &parser, const NodeRef &node, const char *param, int32_t &out);
// "on", "off", "true", "false" or a number (non-zero is true).
bool readBoolValue(TextParser &parser, const NodeRef &node, const char *param, bool &out);
// Sixteen numbers, the k-th becoming row k mod 4, column k div 4.
bool readMatrixValue(TextParser &parser, const NodeRef &node, const char *param,
                     Transform &out);
// Like readMatrixValue, but every motion key of an array of one matrix, in
// key order (one key for the plain form). `out` keeps its entries when the
// array holds no matrix.
bool readMatrixKeys(TextParser &parser, const NodeRef &node, const char *param,
                    std::vector<Transform> &out);
bool readVec3Value(TextParser &parser, const NodeRef &node, const char *param, Vec3f &out);
bool readVec2Value(TextParser &parser, const NodeRef &node, const char *param, Point2f &out);
// A string or node name: quoted, a bare word, or the first element of a
// STRING or NODE array. Upper-cased when asked.
bool readStringValue(TextParser &parser, const NodeRef &node, const char *param,
                     std::string &out, bool upperCase);
// Like readStringValue, but every element of the array (one for the plain forms).
bool readStringList(TextParser &parser, const NodeRef &node, const char *param,
                    std::vector<std::string> &out, bool upperCase);
