// Mesh forms of newer exporters against their plain equivalents: packed
// lists cut to their bytes and BYTE lists without a packing letter, faces
// with holes and concave faces, and a shader per face.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "materials/material.h"
#include "parsers/array_reader.h"
#include "parsers/scene_file_test.h"
#include "parsers/text_parser.h"
#include "shapes/mesh.h"
#include "shapes/sphere.h"
#include "support/packed_text.h"

namespace {

using namespace packed_text;

class MeshFaces : public SceneFileTest {};

std::string mesh(const std::string &body) { return "polymesh\n{\n name m\n" + body + "}\n"; }

std::string flat(const char *name) { return std::string("flat\n{\n name ") + name + "\n}\n"; }

// The warnings about meshes.
std::vector<std::string> meshWarnings(const LogCapture &log) {
    std::vector<std::string> out;
    for (const std::string &w : log.texts(google::GLOG_WARNING))
        if (w.compare(0, 5, "Mesh ") == 0) out.push_back(w);
    return out;
}

// The integers an index list parameter's value (after its name) reads as.
std::vector<int32_t> indexList(const std::string &value) {
    TextParser parser(value + "\n}\n");
    const std::string name = "m";
    const NodeRef node{"Mesh", name};
    ArrayHeader header;
    std::vector<int32_t> out;
    EXPECT_TRUE(readListHeader(parser, node, "list", 1, header) &&
                readIntArray(parser, header, node, "list", out))
        << value;
    return out;
}

// What a ray straight down at (x, y) meets (id -1: nothing).
IntersectInfo lookDown(const World *world, float x, float y) {
    IntersectInfo info;
    world->intersect(info, vmath::Ray(Point3f(x, y, 5.0f), Vec3f(0, 0, -1)), vmath::kMaxFloat);
    return info;
}

std::string materialOf(const IntersectInfo &info) {
    return info.material != nullptr ? info.material->name : "";
}

// Points in z = 0, each with the texture coordinates (x, y) and the normal
// (x, y, 1) by its own index lists (numbered backwards): whichever
// triangles a face is split into, a hit at (x, y) sees uv (x, y) and the
// normal along (x, y, 1) when every corner kept its lists.
std::string pointLists(const std::vector<float> &xy, const std::vector<int> &corners) {
    const size_t n = xy.size() / 2;
    std::string v = " vlist " + std::to_string(n) + " 1 VECTOR", uv, nl;
    for (size_t i = 0; i < n; ++i) {
        const size_t j = n - 1 - i; // list entry j holds point i's values
        v += " " + std::to_string(xy[2 * i]) + " " + std::to_string(xy[2 * i + 1]) + " 0";
        uv += " " + std::to_string(xy[2 * j]) + " " + std::to_string(xy[2 * j + 1]);
        nl += " " + std::to_string(xy[2 * j]) + " " + std::to_string(xy[2 * j + 1]) + " 1";
    }
    std::string vi, back;
    for (int c : corners) {
        vi += " " + std::to_string(c);
        back += " " + std::to_string(static_cast<int>(n) - 1 - c);
    }
    const std::string count = std::to_string(corners.size());
    return v + "\n vidxs " + count + " 1 UINT" + vi + "\n uvidxs " + count + " 1 UINT" + back +
           "\n uvlist " + std::to_string(n) + " 1 VECTOR2" + uv + "\n nidxs " + count + " 1 UINT" +
           back + "\n nlist " + std::to_string(n) + " 1 VECTOR" + nl + "\n";
}

} // namespace

TEST_F(MeshFaces, PackedTailsAndBareBytesReadLikeTheirPlainLists) {
    // Bytes whose text starts with 'B', a packing letter too.
    const Bytes seven = {9, 0, 255, 4, 3, 200, 1}, letterLike = {0x00, 0x1B, 0x2D, 0x5E, 7};
    auto plain = [](const Bytes &b) {
        std::string s = std::to_string(b.size()) + " 1 BYTE";
        for (unsigned char c : b) s += " " + std::to_string(c);
        return s;
    };
    ASSERT_EQ(b85Bytes(letterLike)[0], 'B');
    const struct { std::string packed, plain; } cases[] = {
        {"7 1 b85BYTE " + b85Bytes(seven), plain(seven)},
        {"7 1 b85BYTE\n  B " + b85Bytes(seven), plain(seven)},
        {"5 1 b85BYTE " + b85Bytes(letterLike), plain(letterLike)},
        {"4 1 b85BYTE z", "4 1 BYTE 0 0 0 0"},
    };
    for (const auto &c : cases) EXPECT_EQ(indexList(c.packed), indexList(c.plain)) << c.packed;

    // Unknown parameters step over such values whole: the radius after them is read.
    World *world = load(std::string(kCameraNode) + "sphere\n{\n extra 4 1 b85BYTE z\n radius 2\n"
                        " more 17 1 b85UINT B$v2N*&9nA:(P*-Y'7C:R&o\n name ball\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(static_cast<const SpherePrimitive *>(world->primitives.at(0))->radius, 2.0f);
    EXPECT_EQ(world->primitives[0]->name, "BALL");

    // Damaged text is refused, naming the node and the parameter.
    const struct { const char *list, *message; } refused[] = {
        {" shidxs 1 1 b85BYTE xx\n", "Mesh M: shidxs is not valid b85 text"},
        {" shidxs 3 1 b85BYTE %<V\n", "Mesh M: shidxs decodes to 2 values, its header says 3"},
        {" shidxs 2 1 b85UINT %<V\n", "Mesh M: shidxs has an unknown packing '%'"},
    };
    for (const auto &r : refused) {
        breakRepeat();
        const std::vector<std::string> errors = refuse(mesh(r.list));
        ASSERT_EQ(errors.size(), 2u) << r.list;
        EXPECT_EQ(errors[0], r.message);
    }
}

TEST_F(MeshFaces, HolesAndConcaveFacesCoverWhatTheirTrianglesCover) {
    // A square with a square hole; an L; a U whose first corner sees little.
    const std::vector<float> square = {-1, -1, 1, -1, 1, 1, -1, 1, -0.5f, -0.5f, -0.5f, 0.5f, 0.5f, 0.5f, 0.5f, -0.5f};
    const std::vector<float> ell = {0, 1, -1, 1, -1, -1, 1, -1, 1, 0, 0, 0};
    const std::vector<float> you = {-0.5f, 1, -1, 1, -1, -1, 1, -1, 1, 1, 0.5f, 1, 0.5f, -0.5f, -0.5f, -0.5f};
    const struct { std::vector<float> points; std::string sides; std::vector<int> corners, triangles; } cases[] = {
        {square, " nsides 2 1 UINT 4 4\n polygon_holes 2 1 UINT 1 0\n", {0, 1, 2, 3, 4, 5, 6, 7},
         {0, 1, 7, 1, 2, 6, 2, 3, 5, 3, 0, 4, 0, 7, 4, 1, 6, 7, 2, 5, 6, 3, 4, 5}},
        {ell, " nsides 1 1 UINT 6\n", {0, 1, 2, 3, 4, 5}, {0, 1, 5, 1, 2, 5, 2, 3, 5, 3, 4, 5}},
        {you, " nsides 1 1 UINT 8\n", {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 7, 1, 2, 7, 2, 3, 7, 3, 6, 7, 3, 4, 6, 4, 5, 6}},
    };
    for (const auto &c : cases) {
        World *polygons = load(std::string(kCameraNode) + mesh(c.sides + pointLists(c.points, c.corners)));
        World *triangles = load(std::string(kCameraNode) + mesh(pointLists(c.points, c.triangles)), "tri.ass");
        ASSERT_TRUE(polygons != nullptr && triangles != nullptr);
        EXPECT_EQ(polygons->meshes[0]->numTriangles(), triangles->meshes[0]->numTriangles());
        for (float y = -1.17f; y < 1.2f; y += 0.1f)
            for (float x = -1.17f; x < 1.2f; x += 0.1f) {
                const IntersectInfo got = lookDown(polygons, x, y);
                ASSERT_EQ(got.id, lookDown(triangles, x, y).id) << x << ", " << y;
                if (got.id == -1) continue;
                EXPECT_NEAR(got.u, x, 1e-5f);
                EXPECT_NEAR(got.v, y, 1e-5f);
                EXPECT_NEAR(got.normal.x, vmath::normalized(Vec3f(x, y, 1)).x, 1e-5f);
            }
    }
}

TEST_F(MeshFaces, FaceShadersBindEachFaceAndInstancesKeepThem) {
    // Three unit squares along x; the third names a shader the list lacks.
    const std::string quads =
        " nsides 3 1 UINT 4 4 4\n vidxs 12 1 UINT 0 1 5 4 1 2 6 5 2 3 7 6\n"
        " vlist 8 1 VECTOR 0 0 0 1 0 0 2 0 0 3 0 0 0 1 0 1 1 0 2 1 0 3 1 0\n";
    LogCapture log;
    World *world = load(std::string(kCameraNode) + flat("a") + flat("b") + flat("c") +
                        mesh(quads + " shader 3 1 NODE \"c\" \"a\" \"b\"\n shidxs 3 1 BYTE 2 0 7\n") +
                        "ginstance\n{\n name same\n node m\n matrix\n 1 0 0 0 0 1 0 0 0 0 1 0 0 2 0 1\n}\n"
                        "ginstance\n{\n name own\n node m\n shader a\n matrix\n 1 0 0 0 0 1 0 0 0 0 1 0 0 4 0 1\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(meshWarnings(log),
              (std::vector<std::string>{"Mesh M: 1 faces name shader 7 of the 3 in its shader list; they use the first"}));
    const char *want[3][3] = {{"B", "C", "C"}, {"B", "C", "C"}, {"A", "A", "A"}};
    for (int row = 0; row < 3; ++row)
        for (int face = 0; face < 3; ++face)
            EXPECT_EQ(materialOf(lookDown(world, 0.5f + float(face), 0.5f + 2.0f * float(row))), want[row][face])
                << row << " " << face;

    // Lists that do not fit are refused; a hole outside its face leaves
    // that face a fan, with one word for the mesh.
    const std::vector<std::string> refused[] = {
        {" shidxs 2 1 BYTE 0 1\n", "Mesh M has 2 shidxs for 3 faces"},
        {" polygon_holes 3 1 UINT 1 0 2\n", "Mesh M: polygon_holes has 3 entries, not pairs"},
        {" polygon_holes 2 1 UINT 3 0\n", "Mesh M: polygon_holes pairs face 3 with face 0 of 3 faces"},
    };
    for (const auto &r : refused) {
        breakRepeat();
        const std::vector<std::string> errors = refuse(mesh(quads + r[0]));
        ASSERT_EQ(errors.size(), 2u) << r[0];
        EXPECT_EQ(errors[0], r[1]);
    }
    LogCapture fanned;
    world = load(std::string(kCameraNode) + mesh(quads + " polygon_holes 2 1 UINT 1 0\n"), "fan.ass");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(meshWarnings(fanned), (std::vector<std::string>{"Mesh M: 1 faces cross themselves or cannot be "
                                                              "joined to their holes; they are split as fans"}));
    EXPECT_EQ(world->meshes[0]->numTriangles(), 4);
}
