// The parameters every shape node has (NAME, MATRIX, SHADER, VISIBILITY)
// and the hand-over of a finished shape, shared by the shape readers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "parsers/array_reader.h"
#include "parsers/load_state.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "util/transform.h"

// One shape node's common parameters while it is read.
struct ShapeNode {
    std::string name = "unnamed";
    std::string mat_name; // shader name to bind, upper-cased
    Transform object2world;
    bool visible = true; // visibility 0: a prototype, drawn only through instances
    bool ok = true;      // false once a value was damaged: the node is refused
    NodeRef node;

    explicit ShapeNode(const char *type) : node{type, name} {}

    // True when key was one of the common parameters and its value was read.
    bool read(const std::string &key, TextParser &parser) {
        if (key == "NAME") {
            ok = readStringValue(parser, node, "name", name, true) && ok;
        } else if (key == "MATRIX") {
            ok = readMatrixValue(parser, node, "matrix", object2world) && ok;
        } else if (key == "SHADER") {
            ok = readStringValue(parser, node, "shader", mat_name, true) && ok;
        } else if (key == "VISIBILITY") {
            int32_t visibility = 255;
            ok = readIntValue(parser, node, "visibility", visibility) && ok;
            visible = visibility != 0;
        } else {
            return false;
        }
        return true;
    }

    // Hands a finished shape to the World: drawn, or kept as a prototype
    // when invisible; either way instances find it by name.
    template <class Shape>
    void add(LoadState &state, std::unique_ptr<Shape> shape,
             const Point3f &localCenter = Point3f()) const {
        shape->name = name;
        LoadState::NamedShape &named = state.namedShapes[name];
        named.shape = shape.get();
        named.shaderName = mat_name;
        named.localCenter = localCenter;
        if (!visible)
            state.world.addPrototype(std::move(shape));
        else
            state.addShape(std::move(shape), mat_name);
    }
};
