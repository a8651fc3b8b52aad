// The parameters every shape node has (NAME, MATRIX, SHADER, VISIBILITY)
// and the hand-over of a finished shape, shared by the shape readers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "parsers/array_reader.h"
#include "parsers/value_reader.h"
#include "parsers/load_state.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "shapes/sphere.h"
#include "util/transform.h"

// One shape node's common parameters while it is read: NAME, MATRIX,
// SHADER and VISIBILITY, and under the format's conventions the light and
// shadow groups.
struct ShapeNode {
    std::string name = "unnamed";
    std::string mat_name; // shader name to bind, upper-cased
    std::vector<std::string> shaderNames; // every name of the shader list
    // A mesh with per-face shaders: shaderNames, one per shader slot.
    std::vector<std::string> faceShaders;
    Transform object2world; // as the node gives it (LoadState::placed places it)
    bool visible = true; // visibility 0: a prototype, drawn only through instances
    bool ok = true;      // false once a value was damaged: the node is refused
    NodeRef node;
    // The format's conventions: every motion key is read (the node is placed
    // at the picture's time), and light links are kept.
    bool format = false;
    std::vector<Transform> matrixKeys;
    LoadState::ShapeLinks links;

    ShapeNode(const char *type, const LoadState &state)
        : node{type, name}, format(!state.world.classic()) {}

    // True when key was one of the common parameters and its value was read.
    bool read(const std::string &key, TextParser &parser) {
        if (key == "NAME") {
            ok = readStringValue(parser, node, "name", name, true) && ok;
        } else if (key == "MATRIX") {
            if (format) {
                ok = readMatrixKeys(parser, node, "matrix", matrixKeys) && ok;
                if (!matrixKeys.empty()) object2world = matrixKeys.front();
            } else {
                ok = readMatrixValue(parser, node, "matrix", object2world) && ok;
            }
        } else if (format && key == "LIGHT_GROUP") {
            ok = readStringList(parser, node, "light_group", links.lights, true) && ok;
        } else if (format && key == "USE_LIGHT_GROUP") {
            ok = readBoolValue(parser, node, "use_light_group", links.useLights) && ok;
        } else if (format && key == "SHADOW_GROUP") {
            ok = readStringList(parser, node, "shadow_group", links.shadows, true) && ok;
        } else if (format && key == "USE_SHADOW_GROUP") {
            ok = readBoolValue(parser, node, "use_shadow_group", links.useShadows) && ok;
        } else if (key == "SHADER") {
            // One shader, or a list for meshes with a shader per face.
            ok = readStringList(parser, node, "shader", shaderNames, true) && ok;
            mat_name = shaderNames.empty() ? std::string() : shaderNames[0];
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
        GeoPrimitive *placed = shape.get();
        LoadState::NamedShape &named = state.namedShapes[state.scopedName(name)];
        named.shape = placed;
        named.shaderName = mat_name;
        named.faceShaders = faceShaders;
        named.localCenter = localCenter;
        named.local = object2world;
        named.scope = state.scope();
        named.links = state.addLinks(links);
        if (!visible)
            state.world.addPrototype(std::move(shape));
        else
            state.linkShape(state.addShape(std::move(shape), mat_name, faceShaders, state.scope()),
                            named.links);
        // A moving shape is placed at the picture's time (as the file that
        // holds it is placed); a sphere's centre moves with its matrix.
        constexpr bool kSphere = std::is_same_v<Shape, SpherePrimitive>;
        std::vector<Transform> keys = matrixKeys;
        for (Transform &key : keys) key = state.placed(key);
        state.moveLater(std::move(keys), [placed, localCenter](const Transform &t) {
            placed->object2world = t;
            if constexpr (kSphere) static_cast<SpherePrimitive *>(placed)->center = t(localCenter);
        });
    }
};
