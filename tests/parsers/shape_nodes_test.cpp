#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parsers/scene_nodes.h"
#include "materials/material.h"
#include "shapes/mesh.h"
#include "parsers/scene_file_test.h"
#include "shapes/sphere.h"

namespace {

class ShapeNodes : public SceneFileTest {};

// A valid two-triangle POLYMESH (the unit square in z = 0); each test
// replaces the lines it is about.
struct MeshText {
    std::string name = " name myMesh\n";
    std::string nsides = " nsides 2 1 UINT\n  3 3\n";
    std::string vidxs = " vidxs 6 1 UINT\n  0 1 2 0 2 3\n";
    std::string vlist = " vlist 4 1 POINT\n  0 0 0 1 0 0\n  1 1 0 0 1 0\n";
    std::string nidxs = " nidxs 6 1 UINT\n  0 0 0 0 0 0\n";
    std::string nlist = " nlist 1 1 VECTOR\n  0 0 1\n";
    std::string tlist = " tlist 6 1 VECTOR\n  1 0 0 1 0 0 1 0 0\n  1 0 0 1 0 0 1 0 0\n";
    std::string uvlist = " uvlist 4 1 POINT2\n  0 0 1 0 1 1 0 1\n";
    std::string extra;

    std::string str() const {
        return std::string(kCameraNode) + "polymesh\n{\n" + name + nsides + vidxs + vlist +
               nidxs + nlist + tlist + uvlist + extra + "}\n";
    }
};

MeshShape *onlyMesh(World *world) {
    if (world == nullptr || world->meshes.size() != 1) return nullptr;
    return world->meshes[0];
}

} // namespace

TEST_F(ShapeNodes, PolymeshHandsItsListsToTheMesh) {
    MeshText m;
    m.extra = " matrix\n  1 0 0 0\n  0 1 0 0\n  0 0 1 0\n  10 0 0 1\n shader \"meshSG\"\n";
    World *world = load(m.str() + "flat\n{\n name meshSG\n}\n");
    MeshShape *mesh = onlyMesh(world);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->name, "MYMESH");
    EXPECT_EQ(mesh->numTriangles(), 2);
    EXPECT_EQ(mesh->vertexIndices, (std::vector<int>{0, 1, 2, 0, 2, 3}));
    ASSERT_EQ(mesh->vertices.size(), 4u);
    EXPECT_EQ(mesh->vertices[2], Point3f(1.0f, 1.0f, 0.0f));
    EXPECT_EQ(mesh->normals.size(), 1u);
    EXPECT_EQ(mesh->tangents.size(), 6u);
    ASSERT_EQ(mesh->uvs.size(), 4u);
    EXPECT_EQ(mesh->uvs[3].y, 1.0f);
    EXPECT_EQ(mesh->cornerWorld(1, 1), Point3f(11.0f, 1.0f, 0.0f)); // translated by the matrix
    ASSERT_NE(mesh->getMaterial(), nullptr);
    EXPECT_EQ(mesh->getMaterial()->name, "MESHSG");
    EXPECT_EQ(world->primitives.size(), 2u);
}

TEST_F(ShapeNodes, SideCountsInBothForms) {
    MeshText m;
    m.nsides = " nsides 3\n";
    EXPECT_NE(onlyMesh(load(m.str(), "single.ass")), nullptr);
    m.nsides = " nsides 2 1 UINT 3 3\n"; // counts on the same line
    EXPECT_NE(onlyMesh(load(m.str(), "sameline.ass")), nullptr);
    m.nsides = " nsides 2 1 UINT\n  3\n  3\n"; // counts over several lines
    EXPECT_NE(onlyMesh(load(m.str(), "lines.ass")), nullptr);
    m.nsides = " nsides\n"; // nothing to test
    EXPECT_NE(onlyMesh(load(m.str(), "empty.ass")), nullptr);

    // A quad loads as two triangles, in either form.
    MeshText quad;
    quad.vidxs = " vidxs 4 1 UINT\n  0 1 2 3\n";
    quad.nidxs = " nidxs 4 1 UINT\n  0 0 0 0\n";
    quad.tlist = "";
    for (const char *sides : {" nsides 1 1 UINT\n  4\n", " nsides 4\n"}) {
        quad.nsides = sides;
        const MeshShape *mesh = onlyMesh(load(quad.str(), "quad.ass"));
        ASSERT_NE(mesh, nullptr) << sides;
        EXPECT_EQ(mesh->vertexIndices, (std::vector<int>{0, 1, 2, 0, 2, 3})) << sides;
    }

    m.nsides = " nsides 2 1 UINT\n  3 4\n";
    EXPECT_EQ(refuse(m.str(), "sum.ass")[0],
              "Mesh MYMESH: its faces have 7 corners in all but 6 vertex indices");
    m.nsides = " nsides 4\n";
    EXPECT_EQ(refuse(m.str(), "quads.ass")[0],
              "Mesh MYMESH has faces of 4 corners but 6 vertex indices");
    // The file ends before the last count, which then reads as 0.
    EXPECT_EQ(refuse(std::string(kCameraNode) + "polymesh\n{\n name myMesh\n nsides 2 1 UINT\n 3",
                     "short.ass")[0],
              "Mesh MYMESH: face 1 has 0 corners, fewer than 3");

    // Face sizes are checked after the block, under the name given anywhere
    // in it; a value damaged while reading is reported under the name read
    // so far.
    m.name = "";
    m.nsides = " nsides 5\n name late\n";
    EXPECT_EQ(refuse(m.str(), "late.ass")[0], "Mesh LATE has faces of 5 corners but 6 vertex indices");
    m.nsides = "";
    m.vlist = " vlist -4 1 POINT\n name late\n";
    const std::vector<std::string> errors = refuse(m.str(), "early.ass");
    EXPECT_EQ(errors[0], "Mesh unnamed: vlist has a negative count");
    for (const std::string &e : errors) EXPECT_EQ(e.find("LATE"), std::string::npos) << e;
}

TEST_F(ShapeNodes, MeshWithoutTextureCoordinatesOrTangentsLoads) {
    for (int drop = 0; drop < 3; ++drop) {
        SCOPED_TRACE(drop);
        MeshText m;
        if (drop != 1) m.uvlist.clear();
        if (drop != 0) m.tlist.clear();
        m.extra = "}\noptions\n{\n xres 77\n"; // read: the load goes on
        resetSceneFileSettings();
        LogCapture log;
        const MeshShape *mesh = onlyMesh(load(m.str(), "no" + std::to_string(drop) + ".ass"));
        ASSERT_NE(mesh, nullptr);
        EXPECT_TRUE(log.errors().empty());
        EXPECT_EQ(mesh->hasTextureCoordinates(), drop == 1);
        EXPECT_EQ(mesh->tangents.empty(), drop != 0);
        EXPECT_EQ(mesh->numTriangles(), 2);
        EXPECT_EQ(sceneFileSettings().xResolution, 77u);
    }
}

TEST_F(ShapeNodes, RefusesInconsistentMeshes) {
    struct Case {
        const char *what;
        MeshText mesh;
        const char *message;
    };
    std::vector<Case> cases;
    auto add = [&](const char *what, std::string MeshText::*field, const char *text,
                   const char *message) {
        Case c{what, MeshText(), message};
        c.mesh.*field = text;
        cases.push_back(c);
    };
    add("short NIDXS", &MeshText::nidxs, " nidxs 3 1 UINT\n 0 0 0\n",
        "Mesh MYMESH has 3 normal indices for 6 vertex indices");
    add("short TLIST", &MeshText::tlist, " tlist 3 1 VECTOR\n 1 0 0 1 0 0 1 0 0\n",
        "Mesh MYMESH has 3 tangents for 6 vertex indices");
    add("short UVIDXS", &MeshText::extra, " uvidxs 5 1 UINT\n 0 1 2 0 2\n",
        "Mesh MYMESH has 5 uv indices for 6 vertex indices");
    add("uv index past UVLIST", &MeshText::extra, " uvidxs 6 1 UINT\n 0 1 2 0 2 4\n",
        "Mesh MYMESH has a uv index out of range");
    // NLIST without NIDXS belongs to the vertices: one normal is too few.
    add("no NIDXS", &MeshText::nidxs, "",
        "Mesh MYMESH has 1 normals for 4 points and no normal indices");
    add("VIDXS of 7", &MeshText::vidxs, " vidxs 7 1 UINT\n 0 1 2 0 2 3 1\n",
        "Mesh MYMESH: its faces have 6 corners in all but 7 vertex indices");
    cases.push_back(cases.back());
    cases.back().what = "VIDXS of 7 without NSIDES";
    cases.back().mesh.nsides = "";
    cases.back().message = "Mesh MYMESH has 7 vertex indices, not a whole number of triangles";
    add("vertex index past VLIST", &MeshText::vidxs, " vidxs 6 1 UINT\n 0 1 2 0 2 4\n",
        "Mesh MYMESH has a vertex index out of range");
    add("negative vertex index", &MeshText::vidxs, " vidxs 6 1 UINT\n 0 1 2 0 2 -1\n",
        "Mesh MYMESH has a vertex index out of range");
    add("vertex index past UVLIST", &MeshText::uvlist, " uvlist 3 1 POINT2\n 0 0 1 0 1 1\n",
        "Mesh MYMESH has a vertex index out of range");
    add("normal index past NLIST", &MeshText::nidxs, " nidxs 6 1 UINT\n 0 0 0 0 0 1\n",
        "Mesh MYMESH has a normal index out of range");
    add("negative count", &MeshText::vlist, " vlist -4 1 POINT\n",
        "Mesh MYMESH: vlist has a negative count");
    // The dozen bytes left can hold at most six numbers, not the hundred claimed.
    add("count beyond the file", &MeshText::uvlist, " uvlist 50 1 POINT2\n 0 0 1 0\n",
        "Mesh MYMESH: uvlist claims 100 values, more than the rest of the file can hold");

    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> errors =
            refuse(c.mesh.str(), "mesh" + std::to_string(n++) + ".ass");
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_EQ(errors[0], c.message);
    }

    // Lists are checked after the block, so their order does not matter.
    MeshText early;
    early.vidxs = "";
    early.extra = " vidxs 6 1 UINT\n 0 1 2 0 2 3\n";
    const MeshShape *mesh = onlyMesh(load(early.str(), "early.ass"));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->normalIndices.size(), 6u);
}

TEST_F(ShapeNodes, HugeListCountIsRefusedBeforeAllocating) {
    const std::vector<std::string> errors = refuse(
        std::string(kCameraNode) + "polymesh\n{\n name big\n vlist 2000000000 1 POINT\n 0 0 0\n}\n");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0],
              "Mesh BIG: vlist claims 6000000000 values, more than the rest of the file can hold");

    // The same count reached through the largest integer a list count can hold.
    EXPECT_EQ(refuse(std::string(kCameraNode) + "polymesh\n{\n vidxs 99999999999 1 UINT\n}\n",
                     "max.ass")[0],
              "Mesh unnamed: vidxs claims 2147483647 values, more than the rest of the file can hold");
}

TEST_F(ShapeNodes, PlaneIsATwoTriangleRectangle) {
    World *world = load(std::string(kCameraNode) +
                        "plane\n{\n name floor\n width 4\n height 2\n pivot 0 0 0\n"
                        " axis 0 1 0\n shader \"floorSG\"\n}\nflat\n{\n name floorSG\n}\n"
                        "plane\n{\n matrix\n 2 0 0 0\n 0 1 0 0\n 0 0 1 0\n 0 -1 0 1\n}\n");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->meshes.size(), 2u);
    const MeshShape *floor = world->meshes[0];
    EXPECT_EQ(floor->name, "FLOOR");
    ASSERT_NE(floor->getMaterial(), nullptr);
    EXPECT_EQ(floor->getMaterial()->name, "FLOORSG");
    ASSERT_EQ(floor->vertices.size(), 4u);
    EXPECT_EQ(floor->vertices[0], Point3f(-2.0f, 0.0f, 1.0f));
    EXPECT_EQ(floor->vertices[1], Point3f(2.0f, 0.0f, 1.0f));
    EXPECT_EQ(floor->vertices[2], Point3f(2.0f, 0.0f, -1.0f));
    EXPECT_EQ(floor->vertices[3], Point3f(-2.0f, 0.0f, -1.0f));
    EXPECT_EQ(floor->vertexIndices, (std::vector<int>{0, 1, 3, 3, 1, 2}));
    EXPECT_EQ(floor->normalIndices, (std::vector<int>{0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(floor->normals.size(), 1u);
    EXPECT_EQ(floor->normals[0], Vec3f(0.0f, 1.0f, 0.0f));
    ASSERT_EQ(floor->tangents.size(), 6u);
    EXPECT_EQ(floor->tangents[5], Vec3f(1.0f, 0.0f, 0.0f));
    ASSERT_EQ(floor->uvs.size(), 4u);
    EXPECT_EQ(floor->uvs[2].x, 1.0f);
    EXPECT_EQ(floor->uvs[2].y, 1.0f);

    // Default 1 x 1, unnamed, placed by its matrix.
    const MeshShape *unit = world->meshes[1];
    EXPECT_EQ(unit->name, "unnamed");
    EXPECT_EQ(unit->cornerWorld(0, 0), Point3f(-1.0f, -1.0f, 0.5f));
    EXPECT_EQ(world->primitives.size(), 4u);
}

TEST_F(ShapeNodes, Sphere) {
    World *world = load(std::string(kCameraNode) + "sphere\n{\n}\n" +
                        "sphere\n{\n name ball\n radius 2.5\n shader \"ballSG\"\n matrix\n"
                        "  1 0 0 0\n  0 1 0 0\n  0 0 1 0\n  1 2 3 1\n}\n"
                        "flat\n{\n name ballSG\n}\n");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->primitives.size(), 2u);
    const auto *plain = static_cast<const SpherePrimitive *>(world->primitives[0]);
    EXPECT_EQ(plain->name, "unnamed");
    EXPECT_EQ(plain->radius, 1.0f);
    EXPECT_EQ(plain->getMaterial(), nullptr);
    const auto *ball = static_cast<const SpherePrimitive *>(world->primitives[1]);
    EXPECT_EQ(ball->name, "BALL");
    EXPECT_EQ(ball->radius, 2.5f);
    ASSERT_NE(ball->getMaterial(), nullptr);
    EXPECT_EQ(ball->getMaterial()->name, "BALLSG");
    EXPECT_EQ(ball->object2world(Point3f(0.0f, 0.0f, 0.0f)), Point3f(1.0f, 2.0f, 3.0f));
}
