#include "parsers/instance_nodes.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>
#include <utility>

#include "parsers/array_reader.h"
#include "parsers/value_reader.h"
#include "parsers/load_state.h"
#include "parsers/node_reader.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "shapes/placed_shape.h"
#include "shapes/sphere.h"
#include "util/error.h"
#include "util/transform.h"

namespace {

// Instances of instances are followed this deep; deeper (or circular)
// chains are reported and skipped.
constexpr int kMaxInstanceDepth = 16;

// Triangles all instances together may add: at most this many per byte of
// the file, and never more than the ceiling. Every instance triangle costs
// the renderer a record and a place in the kd-tree (about 100 bytes), so a
// few lines of text naming a large mesh many times could otherwise ask for
// any amount of memory.
constexpr uint64_t kInstancedTrianglesPerByte = 16;
constexpr uint64_t kMaxInstancedTriangles = uint64_t{1} << 24;

struct Placement {
    const LoadState::NamedShape *shape = nullptr;
    Transform object2world;
    std::string shaderName;
    std::string shaderScope; // where shaderName is looked up
};

class Expander {
public:
    Expander(LoadState &state, uint64_t maxTriangles) : m_state(state), m_maxTriangles(maxTriangles) {
        for (size_t i = 0; i < state.instanceNodes.size(); ++i)
            m_instances.emplace(state.instanceNodes[i].name, i);
    }

    void run() {
        for (const LoadState::InstanceNode &node : m_state.instanceNodes) {
            if (!node.visible) continue;
            Placement placement;
            if (!resolve(node, 0, placement)) continue;
            // An instance read from an included file is placed as the file is.
            if (node.placed) placement.object2world = node.placement * placement.object2world;
            draw(node, placement);
        }
    }

private:
    // Follows `node`'s target down to a shape, composing the matrices: the
    // instance's matrix goes on top of its target's own placement unless the
    // instance does not inherit it. The nearest shader of the chain wins.
    bool resolve(const LoadState::InstanceNode &node, int depth, Placement &out) {
        if (depth >= kMaxInstanceDepth) {
            Warning("Instance %s is nested too deeply (or names itself); it is not drawn",
                    node.name.c_str());
            return false;
        }
        const auto shape = m_state.findScoped(m_state.namedShapes, node.scope, node.target);
        if (shape != m_state.namedShapes.end()) {
            // The shape's own matrix: an included file's placement applies
            // to the outermost instance only.
            out.shape = &shape->second;
            out.object2world = node.inheritXform ? node.matrix * shape->second.local : node.matrix;
            out.shaderName = node.shaderName;
            out.shaderScope = node.scope;
            return true;
        }
        const auto inner = m_state.findScoped(m_instances, node.scope, node.target);
        if (inner == m_instances.end()) {
            Warning("Instance %s names \"%s\", which is no shape; it is not drawn",
                    node.name.c_str(), node.target.c_str());
            return false;
        }
        const LoadState::InstanceNode &next = m_state.instanceNodes[inner->second];
        if (!resolve(next, depth + 1, out)) return false;
        // Without inheritance every matrix below this instance is dropped,
        // as it is for a shape's own.
        out.object2world = node.inheritXform ? node.matrix * out.object2world : node.matrix;
        if (!node.shaderName.empty()) {
            out.shaderName = node.shaderName;
            out.shaderScope = node.scope;
        }
        return true;
    }

    // A copy of a shape that is not a mesh: the chain's shader or the shape's,
    // and the shape's light links.
    template <class Shape> void addCopy(std::unique_ptr<Shape> copy, const Placement &placement) {
        Shape *drawn = placement.shaderName.empty()
                           ? m_state.addShape(std::move(copy), placement.shape->shaderName, {},
                                              placement.shape->scope)
                           : m_state.addShape(std::move(copy), placement.shaderName, {},
                                              placement.shaderScope);
        m_state.linkShape(drawn, placement.shape->links);
    }

    void draw(const LoadState::InstanceNode &node, const Placement &placement) {
        GeoPrimitive *shape = placement.shape->shape;
        if (const MeshShape *mesh = dynamic_cast<const MeshShape *>(shape)) {
            const uint64_t triangles = static_cast<uint64_t>(mesh->numTriangles());
            if (m_triangles + triangles > m_maxTriangles) {
                Warning("Instance %s is not drawn: instances would add more than %llu triangles",
                        node.name.c_str(), static_cast<unsigned long long>(m_maxTriangles));
                return;
            }
            m_triangles += triangles;
            auto copy = std::make_unique<MeshShape>(placement.object2world, nullptr, *mesh);
            copy->name = node.name;
            // Without a shader of the chain's own, the copy keeps the
            // shape's shaders, per-face ones too; it keeps its light links.
            MeshShape *drawn =
                placement.shaderName.empty()
                    ? m_state.addShape(std::move(copy), placement.shape->shaderName,
                                       placement.shape->faceShaders, placement.shape->scope)
                    : m_state.addShape(std::move(copy), placement.shaderName, {},
                                       placement.shaderScope);
            m_state.linkShape(drawn, placement.shape->links);
        } else if (const SpherePrimitive *sphere = dynamic_cast<const SpherePrimitive *>(shape)) {
            auto copy = std::make_unique<SpherePrimitive>(
                placement.object2world, nullptr, placement.shape->localCenter, sphere->radius);
            copy->name = node.name;
            addCopy(std::move(copy), placement);
        } else if (const PlacedShape *placed = dynamic_cast<const PlacedShape *>(shape)) {
            std::unique_ptr<PlacedShape> copy = placed->placedCopy(placement.object2world);
            copy->name = node.name;
            addCopy(std::move(copy), placement);
        }
    }

    LoadState &m_state;
    std::unordered_map<std::string, size_t> m_instances;
    const uint64_t m_maxTriangles;
    uint64_t m_triangles = 0;
};

} // namespace

NodeResult readInstance(const std::string &, TextParser &parser, LoadState &state) {
    LoadState::InstanceNode instance;
    const NodeRef node{"Instance", instance.name};
    bool ok = true;
    std::vector<Transform> matrixKeys;
    const bool format = !state.world.classic();
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME") {
            ok = readStringValue(parser, node, "name", instance.name, true);
        } else if (key == "NODE") {
            ok = readStringValue(parser, node, "node", instance.target, true);
        } else if (key == "MATRIX") {
            if (format) {
                // Every motion key; the instance is placed at the picture's time.
                ok = readMatrixKeys(parser, node, "matrix", matrixKeys);
                if (!matrixKeys.empty()) instance.matrix = matrixKeys.front();
            } else {
                ok = readMatrixValue(parser, node, "matrix", instance.matrix);
            }
        } else if (key == "INHERIT_XFORM") {
            ok = readBoolValue(parser, node, "inherit_xform", instance.inheritXform);
        } else if (key == "SHADER") {
            ok = readStringValue(parser, node, "shader", instance.shaderName, true);
        } else if (key == "VISIBILITY") {
            int32_t visibility = 255;
            ok = readIntValue(parser, node, "visibility", visibility);
            instance.visible = visibility != 0;
        } else {
            return false;
        }
        return true;
    });
    if (!ok) return NodeResult::Refused;
    // Names are those of the file it was read from; its placement is applied
    // once the chain of instances is followed.
    instance.name = state.scopedName(instance.name);
    instance.scope = state.scope();
    if (!state.files().empty() && state.files().back().placed) {
        instance.placement = state.files().back().placement;
        instance.placed = true;
    }
    // Copies placed by such a matrix would never be hit: said, and not drawn.
    if (instance.visible && !isFiniteInvertible(instance.matrix)) {
        Warning("Instance %s: matrix is not finite or not invertible; it is not drawn",
                instance.name.c_str());
        instance.visible = false;
    }
    const size_t index = state.instanceNodes.size();
    state.instanceNodes.push_back(std::move(instance));
    state.moveLater(std::move(matrixKeys), [&state, index](const Transform &t) {
        state.instanceNodes[index].matrix = t;
    });
    return NodeResult::Read;
}

void expandInstances(LoadState &state, size_t fileBytes) {
    if (state.instanceNodes.empty()) return;
    const uint64_t byFile = (static_cast<uint64_t>(fileBytes) + 1) * kInstancedTrianglesPerByte;
    Expander(state, byFile < kMaxInstancedTriangles ? byFile : kMaxInstancedTriangles).run();
}
