#include "parsers/solid_nodes.h"

#include <cmath>
#include <memory>
#include <utility>

#include "parsers/load_state.h"
#include "parsers/value_reader.h"
#include "parsers/shape_node.h"
#include "shapes/box.h"
#include "shapes/cone.h"
#include "shapes/disk.h"
#include "util/error.h"

namespace {

bool finite(const Vec3f &v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Point3f asPoint(const Vec3f &v) { return Point3f(v.x, v.y, v.z); }

// A shape of numbers that make no surface is left out with a word, as a
// sphere is; a matrix that cannot be inverted leaves nothing to test rays
// against.
bool drawable(const ShapeNode &node, bool valuesUsable, const char *what) {
    if (!valuesUsable) {
        Warning("%s %s: %s; it is not drawn", node.node.type, node.name.c_str(), what);
        return false;
    }
    if (!isFiniteInvertible(node.object2world)) {
        Warning("%s %s: matrix is not finite or not invertible; it is not drawn", node.node.type,
                node.name.c_str());
        return false;
    }
    return true;
}

} // namespace

NodeResult readBox(const std::string &, TextParser &parser, LoadState &state) {
    ShapeNode node("Box", state);
    Vec3f lo(-0.5f, -0.5f, -0.5f), hi(0.5f, 0.5f, 0.5f);
    readNodeBlock(parser, [&](const std::string &key) {
        if (!node.ok) return false;
        if (node.read(key, parser)) return true;
        if (key == "MIN")
            node.ok = readVec3Value(parser, node.node, "min", lo);
        else if (key == "MAX")
            node.ok = readVec3Value(parser, node.node, "max", hi);
        else
            return false;
        return true;
    });
    if (!node.ok) return NodeResult::Refused;
    if (!drawable(node, finite(lo) && finite(hi), "min or max is not finite"))
        return NodeResult::Read;
    // Corners in either order span the same box.
    const Bounds3f box(asPoint(lo), asPoint(hi));
    node.add(state, std::make_unique<BoxShape>(state.placed(node.object2world), nullptr, box.pMin, box.pMax));
    return NodeResult::Read;
}

NodeResult readDisk(const std::string &, TextParser &parser, LoadState &state) {
    ShapeNode node("Disk", state);
    float radius = 0.5f, hole = 0.0f;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!node.ok) return false;
        if (node.read(key, parser)) return true;
        if (key == "RADIUS")
            node.ok = readFloatValue(parser, node.node, "radius", radius);
        else if (key == "HOLE")
            node.ok = readFloatValue(parser, node.node, "hole", hole);
        else
            return false;
        return true;
    });
    if (!node.ok) return NodeResult::Refused;
    const bool usable = radius > 0.0f && std::isfinite(radius) && hole >= 0.0f && hole < radius;
    if (!drawable(node, usable, "radius and hole make no disc")) return NodeResult::Read;
    node.add(state, std::make_unique<DiskShape>(state.placed(node.object2world), nullptr, radius, hole));
    return NodeResult::Read;
}

NodeResult readConeNode(const std::string &keyword, TextParser &parser, LoadState &state) {
    const bool cylinder = keyword == "CYLINDER";
    ShapeNode node(cylinder ? "Cylinder" : "Cone", state);
    Vec3f bottom(0.0f, 0.0f, 0.0f), top(0.0f, 1.0f, 0.0f);
    float radius = 0.5f;                         // cylinder
    float bottomRadius = 0.5f, topRadius = 0.0f; // cone
    readNodeBlock(parser, [&](const std::string &key) {
        if (!node.ok) return false;
        if (node.read(key, parser)) return true;
        if (key == "BOTTOM")
            node.ok = readVec3Value(parser, node.node, "bottom", bottom);
        else if (key == "TOP")
            node.ok = readVec3Value(parser, node.node, "top", top);
        else if (cylinder && key == "RADIUS")
            node.ok = readFloatValue(parser, node.node, "radius", radius);
        else if (!cylinder && key == "BOTTOM_RADIUS")
            node.ok = readFloatValue(parser, node.node, "bottom_radius", bottomRadius);
        else if (!cylinder && key == "TOP_RADIUS")
            node.ok = readFloatValue(parser, node.node, "top_radius", topRadius);
        else
            return false;
        return true;
    });
    if (!node.ok) return NodeResult::Refused;
    if (cylinder) bottomRadius = topRadius = radius;
    const bool radiiUsable = bottomRadius >= 0.0f && topRadius >= 0.0f &&
                             std::isfinite(bottomRadius) && std::isfinite(topRadius) &&
                             (bottomRadius > 0.0f || topRadius > 0.0f);
    const float length = vmath::length(top - bottom);
    const bool usable = radiiUsable && finite(bottom) && finite(top) && length > 0.0f &&
                        std::isfinite(length);
    if (!drawable(node, usable, "its ends or radii make no solid")) return NodeResult::Read;
    node.add(state, std::make_unique<ConeShape>(state.placed(node.object2world), nullptr, asPoint(bottom),
                                                asPoint(top), bottomRadius, topRadius));
    return NodeResult::Read;
}
