// Readers of the geometry nodes: POLYMESH, PLANE and SPHERE.
#include <cstdio>
#include <utility>
#include <vector>

#include "ass_parser.h"
#include "error.h"
#include "mesh.h"
#include "node_block.h"
#include "sphere.h"
#include "text_parser.h"
#include "world.h"

namespace {

// The parameters every shape node has: NAME, MATRIX and SHADER.
struct ShapeNode {
    std::string name = "unnamed";
    std::string mat_name; // shading engine to bind, upper-cased
    Transform object2world;

    // True when key was one of the common parameters and its value was read.
    bool read(const std::string &key, TextParser &parser) {
        if (key == "NAME")
            parser.readToken(name, true);
        else if (key == "MATRIX")
            readMatrix(parser, object2world);
        else if (key == "SHADER")
            parser.readQuoted(mat_name, true);
        else
            return false;
        return true;
    }
};

// Numbers are found by a forward search and two numbers need a separator
// between them, so the rest of the text holds at most (bytes + 1) / 2 numbers.
// A list claiming more is refused before anything is allocated for it.
int64_t numbersLeft(const TextParser &parser) {
    return (static_cast<int64_t>(parser.remaining()) + 1) / 2;
}

// The lists and settings of one POLYMESH node while it is read.
struct MeshNode : ShapeNode {
    int numTriangles = 0;
    std::vector<int> vertexIndices;
    std::vector<Point3f> points;
    std::vector<int> normalIndices;
    std::vector<Vec3f> normals;
    std::vector<Vec3f> tangents;
    std::vector<Point2f> uvs;
};

// Reads a list header: count, an ignored integer and an ignored type word.
// False, after an Error, when the count is negative or larger than the rest
// of the file can hold at `numbersPerElement` numbers per element.
bool readListHeader(TextParser &parser, const MeshNode &mesh, int numbersPerElement,
                    int &count) {
    count = parser.readInt();
    parser.readInt();
    std::string type;
    parser.readToken(type, true);
    if (count < 0) {
        Error("Mesh %s has a negative list count", mesh.name.c_str());
        return false;
    }
    if (static_cast<int64_t>(count) * numbersPerElement > numbersLeft(parser)) {
        Error("Mesh %s has a list of %d elements, longer than the rest of the file",
              mesh.name.c_str(), count);
        return false;
    }
    return true;
}

template <typename T, typename ReadOne>
bool readList(TextParser &parser, const MeshNode &mesh, int numbersPerElement,
              std::vector<T> &out, ReadOne readOne) {
    int count = 0;
    if (!readListHeader(parser, mesh, numbersPerElement, count)) return false;
    out.clear();
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        out.push_back(readOne());
        parser.releaseConsumed();
    }
    return true;
}

bool readIndexList(TextParser &parser, const MeshNode &mesh, std::vector<int> &out) {
    return readList(parser, mesh, 1, out, [&] { return parser.readInt(); });
}

bool reportSides(const MeshNode &mesh, int sides) {
    if (sides == 3) return true;
    Error("Mesh %s have %d sides, it has to have 3", mesh.name.c_str(), sides);
    return false;
}

// NSIDES is either one side count for every face, or a face count, an
// ignored integer, a type word and one count per face (continuing on the
// following lines). Only triangles are supported.
bool checkSides(TextParser &parser, const MeshNode &mesh) {
    std::string nsidesLine;
    parser.readLine(nsidesLine);
    TextParser nsidesParser(nsidesLine);
    if (nsidesParser.eof()) return true;

    bool gotNumber = false;
    const int numSides = nsidesParser.readInt(&gotNumber);
    nsidesParser.readInt(&gotNumber);
    if (!gotNumber) return reportSides(mesh, numSides);

    std::string sType;
    nsidesParser.readToken(sType, true);
    bool allTriangles = true;
    bool fromFile = false;
    for (int face = 0; face < numSides; ++face) {
        bool found = false;
        int thisSides = 0;
        if (!fromFile) {
            thisSides = nsidesParser.readInt(&found);
            if (!found) fromFile = true;
        }
        if (fromFile) {
            thisSides = parser.readInt(&found);
            if (!found) { // the file ends before the last count: a missing count reads as 0
                reportSides(mesh, thisSides);
                return false;
            }
        }
        if (!reportSides(mesh, thisSides)) allTriangles = false;
    }
    return allTriangles;
}

// Lists given per triangle corner hold three entries per triangle.
bool checkCornerCount(const MeshNode &mesh, size_t count, const char *what) {
    if (count == 3 * static_cast<size_t>(mesh.numTriangles)) return true;
    Error("Mesh %s has %zu %s, it needs %d", mesh.name.c_str(), count, what,
          3 * mesh.numTriangles);
    return false;
}

// Final checks of a mesh block; every index must lie inside its list.
bool validateMesh(const MeshNode &mesh) {
    const char *name = mesh.name.c_str();
    const size_t numVertexIndices = mesh.vertexIndices.size();
    const size_t numNormalIndices = mesh.normalIndices.size();
    if (numNormalIndices == 0) {
        Error("Mesh %s has no normal indices", name);
        return false;
    }
    if (numNormalIndices != numVertexIndices) {
        Error("Mesh %s has %zu normal indices for %zu vertex indices", name, numNormalIndices,
              numVertexIndices);
        return false;
    }
    if (!mesh.tangents.empty() && !checkCornerCount(mesh, mesh.tangents.size(), "tangents"))
        return false;
    if (mesh.tangents.empty() || mesh.uvs.empty()) {
        std::fprintf(stderr, "Model %s doesn't have texture coordinates\n", name);
        return false;
    }
    for (int index : mesh.vertexIndices) {
        if (index < 0 || static_cast<size_t>(index) >= mesh.points.size() ||
            static_cast<size_t>(index) >= mesh.uvs.size()) {
            Error("Mesh %s has a vertex index out of range", name);
            return false;
        }
    }
    for (int index : mesh.normalIndices) {
        if (index < 0 || static_cast<size_t>(index) >= mesh.normals.size()) {
            Error("Mesh %s has a normal index out of range", name);
            return false;
        }
    }
    return true;
}

} // namespace

bool parseMesh(TextParser &parser, World &world) {
    MeshNode mesh;
    bool ok = true;
    readNodeBlock(parser, [&](const std::string &key) {
        if (!ok) return false;
        if (mesh.read(key, parser)) return true;
        if (key == "NSIDES") {
            ok = checkSides(parser, mesh);
        } else if (key == "VIDXS") {
            ok = readIndexList(parser, mesh, mesh.vertexIndices);
            mesh.numTriangles = static_cast<int>(mesh.vertexIndices.size() / 3);
        } else if (key == "VLIST") {
            ok = readList(parser, mesh, 3, mesh.points, [&] { return readPoint(parser); });
        } else if (key == "NIDXS") {
            ok = readIndexList(parser, mesh, mesh.normalIndices) &&
                 checkCornerCount(mesh, mesh.normalIndices.size(), "normal indices");
        } else if (key == "NLIST") {
            ok = readList(parser, mesh, 3, mesh.normals, [&] { return readVector(parser); });
        } else if (key == "TLIST") {
            ok = readList(parser, mesh, 3, mesh.tangents, [&] { return readVector(parser); }) &&
                 checkCornerCount(mesh, mesh.tangents.size(), "tangents");
        } else if (key == "UVLIST") {
            ok = readList(parser, mesh, 2, mesh.uvs, [&] { return readPoint2(parser); });
        } else {
            return false;
        }
        // Once the mesh is refused, the rest of its block is skipped line by
        // line up to the closing brace; the load ends after it.
        return ok;
    });
    if (!ok || !validateMesh(mesh)) return false;

    // The lists move into the shape: a large mesh is never held twice.
    MeshShape *shape = new MeshShape(mesh.object2world, nullptr);
    shape->adoptData(std::move(mesh.vertexIndices), std::move(mesh.points),
                     std::move(mesh.normalIndices), std::move(mesh.normals),
                     std::move(mesh.tangents), std::move(mesh.uvs));
    shape->name = mesh.name;
    world.addMesh(shape, mesh.mat_name.c_str());
    return true;
}

void parsePlane(TextParser &parser, World &world) {
    ShapeNode plane;
    float width = 1.0f, height = 1.0f;
    Point3f origin(0.0f, 0.0f, 0.0f);
    Vec3f axis(0.0f, 1.0f, 0.0f);
    readNodeBlock(parser, [&](const std::string &key) {
        if (plane.read(key, parser)) return true;
        if (key == "WIDTH") {
            width = parser.readFloat();
        } else if (key == "HEIGHT") {
            height = parser.readFloat();
        } else if (key == "PIVOT") {
            origin = readPoint(parser); // only the local origin is supported
        } else if (key == "AXIS") {
            axis = readVector(parser); // only +y is supported
        } else {
            return false;
        }
        return true;
    });
    (void)origin;
    (void)axis;

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

    MeshShape *shape = new MeshShape(plane.object2world, nullptr);
    shape->name = plane.name;
    shape->setData(2, 4, vi, P, 1, ni, N, T, 4, UV);
    world.addMesh(shape, plane.mat_name.c_str());
}

void parseSphere(TextParser &parser, World &world) {
    ShapeNode node;
    float radius = 1.0f;
    readNodeBlock(parser, [&](const std::string &key) {
        if (node.read(key, parser)) return true;
        if (key != "RADIUS") return false;
        radius = parser.readFloat();
        return true;
    });
    SpherePrimitive *sphere =
        new SpherePrimitive(node.object2world, nullptr, Point3f(0.0f, 0.0f, 0.0f), radius);
    sphere->name = node.name;
    world.addPrimitive(sphere, node.mat_name.c_str());
}
