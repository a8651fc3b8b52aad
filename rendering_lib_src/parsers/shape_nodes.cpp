#include "parsers/shape_nodes.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "parsers/array_reader.h"
#include "parsers/value_reader.h"
#include "parsers/load_state.h"
#include "parsers/node_reader.h"
#include "parsers/polygon_split.h"
#include "parsers/shape_node.h"
#include "parsers/text_parser.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "shapes/sphere.h"
#include "util/error.h"

namespace {

// The lists and settings of one POLYMESH node while it is read.
struct MeshNode : ShapeNode {
    explicit MeshNode(const LoadState &state) : ShapeNode("Mesh", state) {}
    // Face sizes: absent (all triangles), a list, or one bare count.
    bool haveSides = false;
    bool singleSize = false;
    std::vector<int32_t> sides;
    std::vector<int> vertexIndices;
    std::vector<Point3f> points;
    std::vector<int> normalIndices;
    std::vector<Vec3f> normals;
    std::vector<Vec3f> tangents;
    std::vector<int> uvIndices;
    std::vector<Point2f> uvs;
    // Every motion key of the points and normals, when there are several.
    std::vector<Point3f> pointKeys;
    std::vector<Vec3f> normalKeys;
    std::vector<int> shaderIndices; // shidxs: a shader slot per face
    std::vector<uint32_t> triangleShaders; // the slot of every triangle, once split
    std::vector<int> holePairs;     // polygon_holes: (hole face, outer face) pairs
};

bool readIndexList(TextParser &parser, MeshNode &mesh, const char *param, std::vector<int> &out) {
    ArrayHeader header;
    return readListHeader(parser, mesh.node, param, 1, header) &&
           readIntArray(parser, header, mesh.node, param, out);
}

template <typename T>
bool readVectorList(TextParser &parser, MeshNode &mesh, const char *param, std::vector<T> &out,
                    std::vector<T> *keys = nullptr) {
    ArrayHeader header;
    if (keys != nullptr) keys->clear();
    if (!readListHeader(parser, mesh.node, param, static_cast<int>(sizeof(T) / sizeof(float)),
                        header))
        return false;
    if (keys == nullptr || header.keys <= 1)
        return readVectorArray(parser, header, mesh.node, param, out);
    // Every key, key after key; the mesh is made with the first.
    if (!readVectorArray(parser, header, mesh.node, param, *keys, true)) return false;
    out.assign(keys->begin(), keys->begin() + header.count);
    return true;
}

// NSIDES is an array (count, keys, type, then one size per face, plain or
// packed), or numbers on the rest of its line: one bare count (see
// facesOfSingleSize), or several sizes.
bool readSides(TextParser &parser, MeshNode &mesh) {
    ArrayHeader header;
    if (readArrayHeader(parser, header)) {
        mesh.haveSides = true;
        mesh.singleSize = false;
        return readIntArray(parser, header, mesh.node, "nsides", mesh.sides);
    }
    const TextParser::Position lineStart = parser.position();
    std::string nsidesLine;
    parser.readLine(nsidesLine);
    TextParser lineParser(nsidesLine);
    std::vector<int32_t> numbers;
    std::string token;
    while (lineParser.readToken(token, true)) {
        char *end = nullptr;
        const long value = std::strtol(token.c_str(), &end, 10);
        if (end == token.c_str() || *end != '\0') {
            // Two numbers and a type word this reader does not know: the
            // list form, its sizes continuing on the following lines.
            if (numbers.size() != 2) break;
            parser.restore(lineStart);
            mesh.haveSides = true;
            mesh.singleSize = false;
            return readListHeader(parser, mesh.node, "nsides", 1, header) &&
                   readIntArray(parser, header, mesh.node, "nsides", mesh.sides);
        }
        numbers.push_back(value > INT32_MAX ? INT32_MAX
                                            : (value < INT32_MIN ? INT32_MIN
                                                                 : static_cast<int32_t>(value)));
    }
    if (numbers.empty()) return true;
    mesh.haveSides = true;
    mesh.singleSize = numbers.size() == 1;
    mesh.sides = std::move(numbers);
    return true;
}

// Faces of the mesh as corner counts; false after an Error when they do
// not fit the vertex indices. Empty sizes: every face is a triangle.
bool resolveFaces(MeshNode &mesh) {
    const size_t numCorners = mesh.vertexIndices.size();
    const char *name = mesh.name.c_str();
    // One size, bare or as a list of one: the index count decides whether it
    // is one face or the size of every face.
    if (mesh.haveSides && (mesh.singleSize || mesh.sides.size() == 1)) {
        const int32_t size = mesh.sides[0];
        if (size < 3) {
            Error("Mesh %s has faces of %d corners, fewer than 3", name, size);
            return false;
        }
        mesh.sides = numCorners == static_cast<size_t>(size)
                         ? std::vector<int32_t>(1, size)
                         : facesOfSingleSize(size, numCorners);
        if (mesh.sides.empty() && numCorners != 0) {
            Error("Mesh %s has faces of %d corners but %zu vertex indices", name, size,
                  numCorners);
            return false;
        }
    } else if (mesh.haveSides) {
        const std::string why = checkFaceSizes(mesh.sides, numCorners);
        if (!why.empty()) {
            Error("Mesh %s: %s", name, why.c_str());
            return false;
        }
    } else if (numCorners % 3 != 0) {
        Error("Mesh %s has %zu vertex indices, not a whole number of triangles", name,
              numCorners);
        return false;
    }
    if (allTriangles(mesh.sides)) mesh.sides.clear();
    return true;
}

// Lists given per face corner hold one entry per vertex index.
bool checkCornerCount(const MeshNode &mesh, size_t count, const char *what) {
    if (count == mesh.vertexIndices.size()) return true;
    Error("Mesh %s has %zu %s for %zu vertex indices", mesh.name.c_str(), count, what,
          mesh.vertexIndices.size());
    return false;
}

bool indicesInside(const std::vector<int> &indices, size_t size) {
    for (int index : indices)
        if (index < 0 || static_cast<size_t>(index) >= size) return false;
    return true;
}

// Final checks of a mesh block; every index must lie inside its list.
bool validateMesh(MeshNode &mesh) {
    const char *name = mesh.name.c_str();
    if (!mesh.normalIndices.empty() &&
        !checkCornerCount(mesh, mesh.normalIndices.size(), "normal indices"))
        return false;
    if (!mesh.uvIndices.empty() && !checkCornerCount(mesh, mesh.uvIndices.size(), "uv indices"))
        return false;
    if (!mesh.tangents.empty() && !checkCornerCount(mesh, mesh.tangents.size(), "tangents"))
        return false;
    if (!indicesInside(mesh.vertexIndices, mesh.points.size())) {
        Error("Mesh %s has a vertex index out of range", name);
        return false;
    }
    // Normals without indices belong to the vertices.
    if (mesh.normalIndices.empty() && !mesh.normals.empty()) {
        if (!indicesInside(mesh.vertexIndices, mesh.normals.size())) {
            Error("Mesh %s has %zu normals for %zu points and no normal indices", name,
                  mesh.normals.size(), mesh.points.size());
            return false;
        }
        mesh.normalIndices = mesh.vertexIndices;
    }
    if (!indicesInside(mesh.normalIndices, mesh.normals.size())) {
        Error("Mesh %s has a normal index out of range", name);
        return false;
    }
    // Texture coordinates have indices of their own, or are the vertices'.
    if (!mesh.uvIndices.empty() ? !indicesInside(mesh.uvIndices, mesh.uvs.size())
                                : !mesh.uvs.empty() &&
                                      !indicesInside(mesh.vertexIndices, mesh.uvs.size())) {
        Error("Mesh %s has a %s index out of range", name,
              mesh.uvIndices.empty() ? "vertex" : "uv");
        return false;
    }
    return true;
}

// The holes of polygon_holes as face pairs; false after an Error when an
// index names no face. Pairs that cannot stand (a face that is a hole twice,
// or both a hole and an outer face) are dropped with a Warning.
bool resolveHoles(const MeshNode &mesh, size_t numFaces, std::vector<FaceHole> &holes) {
    const char *name = mesh.name.c_str();
    if (mesh.holePairs.size() % 2 != 0) {
        Error("Mesh %s: polygon_holes has %zu entries, not pairs", name, mesh.holePairs.size());
        return false;
    }
    std::vector<uint8_t> role(numFaces, 0); // 1: a hole, 2: an outer face
    size_t dropped = 0;
    for (size_t i = 0; i < mesh.holePairs.size(); i += 2) {
        const int hole = mesh.holePairs[i], outer = mesh.holePairs[i + 1];
        if (hole < 0 || outer < 0 || static_cast<size_t>(hole) >= numFaces ||
            static_cast<size_t>(outer) >= numFaces || hole == outer) {
            Error("Mesh %s: polygon_holes pairs face %d with face %d of %zu faces", name, hole,
                  outer, numFaces);
            return false;
        }
        if (role[hole] != 0 || role[outer] == 1) {
            ++dropped;
            continue;
        }
        role[hole] = 1;
        role[outer] = 2;
        holes.push_back({static_cast<uint32_t>(hole), static_cast<uint32_t>(outer)});
    }
    if (dropped != 0)
        Warning("Mesh %s: %zu polygon_holes pairs name a face that is already a hole or has "
                "holes; they are dropped",
                name, dropped);
    return true;
}

// The shader slot of every face: shidxs, each index checked against the
// shader list (one outside it means the first shader, said once).
bool resolveFaceShaders(MeshNode &mesh, size_t numFaces) {
    if (mesh.shaderIndices.empty()) return true;
    if (mesh.shaderIndices.size() != numFaces) {
        Error("Mesh %s has %zu shidxs for %zu faces", mesh.name.c_str(), mesh.shaderIndices.size(),
              numFaces);
        return false;
    }
    const size_t slots = mesh.shaderNames.size();
    size_t outside = 0;
    int example = 0;
    for (int &index : mesh.shaderIndices) {
        if (index >= 0 && static_cast<size_t>(index) < slots) continue;
        if (outside++ == 0) example = index;
        index = 0;
    }
    if (outside != 0 && slots != 0)
        Warning("Mesh %s: %zu faces name shader %d of the %zu in its shader list; they use the "
                "first",
                mesh.name.c_str(), outside, example, slots);
    if (slots > 1) mesh.faceShaders = mesh.shaderNames;
    return true;
}

// Polygons become triangles, every per-corner list split alike, and each
// triangle keeps the shader slot of its face.
void splitPolygons(MeshNode &mesh, const std::vector<FaceHole> &holes) {
    std::vector<uint32_t> triangleFaces;
    const bool perFace = !mesh.faceShaders.empty();
    if (mesh.sides.empty()) {
        // Triangles already: triangle t is face t.
        if (perFace)
            for (uint32_t t = 0; t < mesh.vertexIndices.size() / 3; ++t) triangleFaces.push_back(t);
    } else if (holes.empty() && fanSplitsAll({mesh.sides, mesh.vertexIndices, mesh.points})) {
        // Convex faces: the fan from the first corner, as always.
        if (perFace) triangleFaces = fanFaces(mesh.sides);
        mesh.vertexIndices = fanSplit(mesh.sides, mesh.vertexIndices);
        if (!mesh.normalIndices.empty())
            mesh.normalIndices = fanSplit(mesh.sides, mesh.normalIndices);
        if (!mesh.uvIndices.empty()) mesh.uvIndices = fanSplit(mesh.sides, mesh.uvIndices);
        if (!mesh.tangents.empty()) mesh.tangents = fanSplit(mesh.sides, mesh.tangents);
    } else {
        FaceSplit split = splitFaces({mesh.sides, mesh.vertexIndices, mesh.points}, holes);
        if (split.crossing != 0)
            Warning("Mesh %s: %zu faces cross themselves or cannot be joined to their holes; "
                    "they are split as fans",
                    mesh.name.c_str(), split.crossing);
        if (split.tooLarge != 0)
            Warning("Mesh %s: %zu faces have too many corners to be split along their outline; "
                    "they are split as fans",
                    mesh.name.c_str(), split.tooLarge);
        mesh.vertexIndices = gatherCorners(mesh.vertexIndices, split.corners);
        if (!mesh.normalIndices.empty())
            mesh.normalIndices = gatherCorners(mesh.normalIndices, split.corners);
        if (!mesh.uvIndices.empty()) mesh.uvIndices = gatherCorners(mesh.uvIndices, split.corners);
        if (!mesh.tangents.empty()) mesh.tangents = gatherCorners(mesh.tangents, split.corners);
        triangleFaces = std::move(split.faces);
    }
    if (!perFace) return;
    mesh.triangleShaders.reserve(triangleFaces.size());
    for (uint32_t face : triangleFaces)
        mesh.triangleShaders.push_back(static_cast<uint32_t>(mesh.shaderIndices[face]));
}

} // namespace

NodeResult readPolymesh(const std::string &, TextParser &parser, LoadState &state) {
    MeshNode mesh(state);
    readNodeBlock(parser, [&](const std::string &key) {
        // Once the mesh is refused, the rest of its block is skipped line by
        // line up to the closing brace; the load ends after it.
        if (!mesh.ok) return false;
        if (mesh.read(key, parser)) return true;
        bool &ok = mesh.ok;
        if (key == "NSIDES") {
            ok = readSides(parser, mesh);
        } else if (key == "VIDXS") {
            ok = readIndexList(parser, mesh, "vidxs", mesh.vertexIndices);
        } else if (key == "VLIST") {
            ok = readVectorList(parser, mesh, "vlist", mesh.points,
                                mesh.format ? &mesh.pointKeys : nullptr);
        } else if (key == "NIDXS") {
            ok = readIndexList(parser, mesh, "nidxs", mesh.normalIndices);
        } else if (key == "NLIST") {
            ok = readVectorList(parser, mesh, "nlist", mesh.normals,
                                mesh.format ? &mesh.normalKeys : nullptr);
        } else if (key == "TLIST") {
            ok = readVectorList(parser, mesh, "tlist", mesh.tangents);
        } else if (key == "UVIDXS") {
            ok = readIndexList(parser, mesh, "uvidxs", mesh.uvIndices);
        } else if (key == "UVLIST") {
            ok = readVectorList(parser, mesh, "uvlist", mesh.uvs);
        } else if (key == "SHIDXS") {
            ok = readIndexList(parser, mesh, "shidxs", mesh.shaderIndices);
        } else if (key == "POLYGON_HOLES") {
            ok = readIndexList(parser, mesh, "polygon_holes", mesh.holePairs);
        } else {
            return false;
        }
        return true;
    });
    if (!mesh.ok || !resolveFaces(mesh) || !validateMesh(mesh)) return NodeResult::Refused;
    const size_t numFaces = mesh.sides.empty() ? mesh.vertexIndices.size() / 3 : mesh.sides.size();
    std::vector<FaceHole> holes;
    if (!resolveHoles(mesh, numFaces, holes) || !resolveFaceShaders(mesh, numFaces))
        return NodeResult::Refused;
    // A hole in a triangle: the faces are listed for the split.
    if (!holes.empty() && mesh.sides.empty()) mesh.sides.assign(numFaces, 3);
    // Triangles with corners that are not finite are never hit; say so.
    for (const Point3f &p : mesh.points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            Warning("Mesh %s: vlist holds numbers that are not finite; their triangles are not "
                    "drawn",
                    mesh.name.c_str());
            break;
        }
    }
    if (!isFiniteInvertible(mesh.object2world))
        Warning("Mesh %s: matrix is not finite or not invertible", mesh.name.c_str());

    splitPolygons(mesh, holes);

    // The lists move into the shape: a large mesh is never held twice.
    auto shape = std::make_unique<MeshShape>(state.placed(mesh.object2world), nullptr);
    const size_t points = mesh.points.size(), normals = mesh.normals.size();
    shape->adoptData(std::move(mesh.vertexIndices), std::move(mesh.points),
                     std::move(mesh.normalIndices), std::move(mesh.normals),
                     std::move(mesh.tangents), std::move(mesh.uvs));
    shape->adoptUVIndices(std::move(mesh.uvIndices));
    // Moving points and normals take their place with the matrix.
    state.moveVerticesLater(std::move(mesh.pointKeys), points, shape.get(), false);
    std::vector<Point3f> normalKeys;
    normalKeys.reserve(mesh.normalKeys.size());
    for (const Vec3f &n : mesh.normalKeys) normalKeys.emplace_back(n.x, n.y, n.z);
    state.moveVerticesLater(std::move(normalKeys), normals, shape.get(), true);
    shape->triangleShaders = std::move(mesh.triangleShaders);
    mesh.add(state, std::move(shape));
    return NodeResult::Read;
}

NodeResult readPlane(const std::string &, TextParser &parser, LoadState &state) {
    ShapeNode plane("Plane", state);
    float width = 1.0f, height = 1.0f;
    Vec3f origin(0.0f, 0.0f, 0.0f);
    Vec3f axis(0.0f, 1.0f, 0.0f);
    readNodeBlock(parser, [&](const std::string &key) {
        if (!plane.ok) return false;
        if (plane.read(key, parser)) return true;
        bool &ok = plane.ok;
        if (key == "WIDTH") {
            ok = readFloatValue(parser, plane.node, "width", width);
        } else if (key == "HEIGHT") {
            ok = readFloatValue(parser, plane.node, "height", height);
        } else if (key == "PIVOT") {
            ok = readVec3Value(parser, plane.node, "pivot", origin); // only the local origin is supported
        } else if (key == "AXIS") {
            ok = readVec3Value(parser, plane.node, "axis", axis); // only +y is supported
        } else {
            return false;
        }
        return true;
    });
    if (!plane.ok) return NodeResult::Refused;

    // A width x height rectangle in the local plane y = 0, centred on the origin.
    const float hw = width / 2.0f, nhw = -width / 2.0f;
    const float hh = height / 2.0f, nhh = -height / 2.0f;
    const Point3f P[4] = {Point3f(nhw, 0.0f, hh), Point3f(hw, 0.0f, hh), Point3f(hw, 0.0f, nhh),
                          Point3f(nhw, 0.0f, nhh)};
    const int vi[6] = {0, 1, 3, 3, 1, 2};
    const Vec3f N[1] = {Vec3f(0.0f, 1.0f, 0.0f)};
    const int ni[6] = {0, 0, 0, 0, 0, 0};
    const Vec3f T[6] = {Vec3f(1, 0, 0), Vec3f(1, 0, 0), Vec3f(1, 0, 0),
                        Vec3f(1, 0, 0), Vec3f(1, 0, 0), Vec3f(1, 0, 0)};
    const Point2f UV[4] = {Point2f(0, 0), Point2f(1, 0), Point2f(1, 1), Point2f(0, 1)};

    auto shape = std::make_unique<MeshShape>(state.placed(plane.object2world), nullptr);
    shape->setData(2, 4, vi, P, 1, ni, N, T, 4, UV);
    plane.add(state, std::move(shape));
    return NodeResult::Read;
}

NodeResult readSphere(const std::string &, TextParser &parser, LoadState &state) {
    ShapeNode node("Sphere", state);
    // The format's default sphere has radius 0.5; the classic one 1.
    float radius = state.world.classic() ? 1.0f : 0.5f;
    Vec3f center(0.0f, 0.0f, 0.0f);
    readNodeBlock(parser, [&](const std::string &key) {
        if (!node.ok) return false;
        if (node.read(key, parser)) return true;
        if (key == "RADIUS") {
            node.ok = readFloatValue(parser, node.node, "radius", radius);
        } else if (key == "CENTER") {
            node.ok = readVec3Value(parser, node.node, "center", center);
        } else {
            return false;
        }
        return true;
    });
    if (!node.ok) return NodeResult::Refused;
    // A sphere that is no sphere is kept out of the render, with a word.
    if (!(radius > 0.0f) || !std::isfinite(radius)) {
        Warning("Sphere %s: radius %g makes no sphere; it is not drawn", node.name.c_str(),
                static_cast<double>(radius));
        return NodeResult::Read;
    }
    const Transform object2world = state.placed(node.object2world);
    if (!std::isfinite(center.x) || !std::isfinite(center.y) || !std::isfinite(center.z) ||
        !isFiniteInvertible(object2world)) {
        Warning("Sphere %s: center or matrix is not finite; it is not drawn", node.name.c_str());
        return NodeResult::Read;
    }
    const Point3f localCenter(center.x, center.y, center.z);
    node.add(state,
             std::make_unique<SpherePrimitive>(object2world, nullptr, localCenter, radius),
             localCenter);
    return NodeResult::Read;
}
