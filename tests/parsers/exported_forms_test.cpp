// Scene texts in the forms exporters write: array headers with motion keys,
// packed (b85 / b64) arrays, polygons of any size, optional mesh lists, bare
// words, instances, several cameras and file-level details.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "materials/material.h"
#include "parsers/scene_nodes.h"
#include "shapes/mesh.h"
#include "parsers/scene_file_test.h"
#include "render/render_scene.h"
#include "shapes/sphere.h"
#include "support/packed_text.h"

namespace {

using namespace packed_text;
using render_test::translation;

class ExportedForms : public SceneFileTest {};

std::string mesh(const std::string &name, const std::string &body) {
    return "polymesh\n{\n name " + name + "\n" + body + "}\n";
}

// A unit quad in z = 0, corners counter-clockwise seen from +z.
std::string quad(const std::string &name, const std::string &extra) {
    return mesh(name, " nsides 1 1 UINT 4\n vidxs 4 1 UINT 0 1 2 3\n"
                      " vlist 4 1 VECTOR 0 0 0  1 0 0  1 1 0  0 1 0\n" + extra);
}

// Shapes name their shaders; the tests define each as a flat shader of that
// name, and read back the name of the material a shape was bound to.
std::string flatShaders(std::initializer_list<const char *> names) {
    std::string text;
    for (const char *name : names) text += std::string("flat\n{\n name ") + name + "\n}\n";
    return text;
}

std::string boundName(const Primitive *shape) {
    const Material *m = shape->getMaterial();
    return m != nullptr ? m->name : "";
}

const MeshShape *meshNamed(const World *world, const std::string &name, std::string *shader = nullptr) {
    for (const MeshShape *mesh : world->meshes) {
        if (mesh->name != name) continue;
        if (shader != nullptr) *shader = boundName(mesh);
        return mesh;
    }
    return nullptr;
}

const SpherePrimitive *sphereNamed(const World *world, const std::string &name, std::string *shader) {
    for (size_t i = 0; i < world->primitives.size(); ++i) {
        const auto *s = dynamic_cast<const SpherePrimitive *>(world->primitives[i]);
        if (s == nullptr || s->name != name) continue;
        if (shader != nullptr) *shader = boundName(s);
        return s;
    }
    return nullptr;
}

std::vector<std::string> warnings(const LogCapture &log) { return log.texts(google::GLOG_WARNING); }

// Twelve corners over twelve points around a circle, for meshes whose face
// sizes vary: every face of consecutive corners is convex.
std::string twelveCorners() {
    std::string s = " vidxs 12 1 UINT 0 1 2 3 4 5 6 7 8 9 10 11\n vlist 12 1 VECTOR";
    for (int k = 0; k < 12; ++k)
        s += " " + std::to_string(std::cos(0.5 * k)) + " " + std::to_string(std::sin(0.5 * k)) + " 0";
    return s + "\n";
}

IntersectInfo hitFromAbove(const World *world, float x, float y) {
    IntersectInfo info;
    world->intersect(info, vmath::Ray(Point3f(x, y, 5.0f), Vec3f(0, 0, -1)), vmath::kMaxFloat);
    return info;
}

} // namespace

TEST_F(ExportedForms, ArrayHeadersAndMotionKeysOnEveryKindOfParameter) {
    const std::string m1 = " 1 0 0 0 0 1 0 0 0 0 1 0 ";
    const std::string packedMove = b85(floatWords({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}));
    const std::string packedDown = b64(floatWords({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -3, 1}), 20);
    World *world = load(
        "options\n{\n xres 1 1 INT 64\n yres 1 1 UINT 32\n camera 1 1 STRING \"cam\"\n"
        " outputs 2 1 STRING \"RGBA RGBA f drv\" \"Z FLOAT f other\"\n}\n"
        "driver_tiff\n{\n name 1 1 STRING drv\n filename 1 1 STRING \"o.tif\"\n}\n"
        // Two keys of fov and matrix: the first is used, the second read past.
        "persp_camera\n{\n name cam\n fov 1 2 FLOAT 90 20\n matrix 1 2 MATRIX\n" + m1 + "0 0 5 1\n" +
        m1 + "9 9 9 1\n near_clip 0.1\n}\n"
        "point_light\n{\n name key\n color 1 2 RGB 0.5 0.25 1  9 9 9\n intensity 1 1 FLOAT 40\n"
        " matrix 1 1 b85MATRIX " + packedMove + "\n}\n"
        "sphere\n{\n name ball\n radius 1 2 FLOAT 2.5 7\n matrix 1 2 MATRIX" + m1 + "1 2 3 1" + m1 +
        "4 5 6 1\n shader 1 2 NODE \"ballSG\" \"otherSG\"\n center 1 1 VECTOR 0 0 1\n}\n" +
        flatShaders({"ballSG", "otherSG"}) +
        "sphere\n{\n name packed\n radius 1 1 b85FLOAT 8TFfd\n matrix 1 1 b64MATRIX\n  " +
        packedDown + "\n visibility 1 1 BYTE 255\n}\n" +
        // The packed text of unknown parameters, on the next line, is passed
        // and never read as parameters ("/*" opens a comment, "name" renames).
        // The index lists end in padded words.
        mesh("moving", " crease_sharpness 1 1 b85FLOAT\n  /*$$$\n"
                       " crease_idxs 3 1 b64UINT\n  AAAAAAAAAAAA\n  name\n"
                       " nsides 2 1 b85UINT " + b85Ints('B', {4, 3}, true) +
                       "\n vidxs 7 1 b85UINT " + b85Ints('C', {0, 1, 2, 3, 0, 2, 3}) +
                       "\n uvidxs 7 1 b85UINT " + b85Ints('F', {3, 2, 1, 0, 1, 2, 0}) +
                       "\n uvlist 4 1 VECTOR2 0 0 1 0 1 1 0 1\n vlist 4 2 b85VECTOR " +
                       b85(floatWords({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 5, 5, 5, 6, 5, 5, 6, 6, 5, 5, 6, 5})) +
                       "\n"));
    ASSERT_NE(world, nullptr);
    Camera *camera = world->getCamera();
    EXPECT_EQ(camera->getName(), "cam");
    EXPECT_EQ(camera->getResolution()[0], 64);
    EXPECT_EQ(camera->getResolution()[1], 32);
    EXPECT_EQ(camera->getOutputFileName(), "o.tif");
    const vmath::Ray top = camera->generateRay(32.0f, 0.0f); // fov 90: 45 degrees up
    EXPECT_EQ(top.origin, Point3f(0, 0, 5));
    EXPECT_NEAR(top.direction.y / -top.direction.z, 1.0f, 1e-4f);

    ASSERT_EQ(world->lights.size(), 1u);
    EXPECT_EQ(world->lights[0]->color, Vec3f(0.5f, 0.25f, 1.0f));
    EXPECT_EQ(world->lights[0]->intensity, 40.0f);
    EXPECT_EQ(world->lights[0]->getWorldPosition(), Point3f(1, 2, 3));

    std::string shader;
    const SpherePrimitive *ball = sphereNamed(world, "BALL", &shader);
    ASSERT_NE(ball, nullptr);
    EXPECT_EQ(ball->radius, 2.5f);
    EXPECT_EQ(ball->center, Point3f(1, 2, 4)); // the centre, moved by the first matrix
    EXPECT_EQ(shader, "BALLSG");
    const SpherePrimitive *packed = sphereNamed(world, "PACKED", nullptr);
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(packed->radius, 2.0f);
    EXPECT_EQ(packed->center, Point3f(0, 0, -3));
    const MeshShape *moving = meshNamed(world, "MOVING");
    ASSERT_NE(moving, nullptr);
    EXPECT_TRUE(moving->vertices == (std::vector<Point3f>{Point3f(0, 0, 0), Point3f(1, 0, 0),
                                                          Point3f(1, 1, 0), Point3f(0, 1, 0)}));
    EXPECT_EQ(moving->vertexIndices, (std::vector<int>{0, 1, 2, 0, 2, 3, 0, 2, 3}));
    EXPECT_EQ(moving->uvIndices, (std::vector<int>{3, 2, 1, 3, 1, 0, 1, 2, 0}));
}

TEST_F(ExportedForms, DamagedPackedArraysRefuseTheLoad) {
    const std::string vidxs6 = " vidxs 6 1 UINT 0 1 2 0 2 3\n";
    const std::string vlist4 = " vlist 4 1 VECTOR 0 0 0 1 0 0 1 1 0 0 1 0\n";
    const struct { std::string node, message; } cases[] = {
        {mesh("bad", vidxs6 + " vlist 4 1 b85VECTOR " + b85(floatWords({0, 0, 0, 1, 0, 0, 1, 1, 0})) + "\n"),
         "Mesh BAD: vlist decodes to 9 values, its header says 12"},
        {mesh("bad", vidxs6 + " vlist 4 1 b85VECTOR zzzyz~zzyzzzyzz\n"),
         "Mesh BAD: vlist is not valid b85 text"},
        {mesh("bad", vlist4 + " vidxs 6 1 b85UINT Q" + b85(Words{0, 1, 2, 0, 2, 3}) + "\n"),
         "Mesh BAD: vidxs has an unknown packing 'Q'"},
        // Two words of four sizes each for two faces.
        {mesh("bad", vidxs6 + vlist4 + " nsides 2 1 b85UINT " + b85Ints('B', Words{3, 3, 3, 3, 3}) + "\n"),
         "Mesh BAD: nsides decodes to 8 values, its header says 2"},
        {mesh("bad", vlist4 + " vidxs 6 1 b64UINT " + b64(Words{0, 1, 2, 0, 2}, 80) + "\n"),
         "Mesh BAD: vidxs decodes to 20 bytes, its header says 6 values of 4 bytes"},
        {mesh("bad", vlist4 + " vidxs 6 1 b64UINT AAAAAAAA*AAA\n"),
         "Mesh BAD: vidxs is not valid b64 text"},
        {mesh("bad", " vlist 2000000000 1 b85VECTOR zzz\n"),
         "Mesh BAD: vlist claims 6000000000 values, more than the rest of the file can hold"},
        {"sphere\n{\n name ball\n matrix 1 1 b85MATRIX zzzyzzzzyzz\n}\n",
         "Sphere BALL: matrix decodes to 11 values, its header says 16"},
        {"persp_camera\n{\n name eye\n fov 1 1 b64FLOAT ###\n}\n",
         "Camera eye: fov is not valid b64 text"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        resetSceneFileSettings();
        breakRepeat();
        // Nothing after the refused node is read.
        const std::vector<std::string> errors =
            refuse(std::string(kCameraNode) + c.node + "options\n{\n xres 77\n}\n",
                   "bad" + std::to_string(n++) + ".ass");
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_EQ(errors[0], c.message);
        EXPECT_EQ(sceneFileSettings().xResolution, 600u);
    }
}

TEST_F(ExportedForms, PolygonsSplitAsFansWithEveryCornerList) {
    std::string normals, uvs, tangents;
    for (int k = 0; k < 12; ++k) {
        normals += " 0 0 1";
        uvs += " " + std::to_string(k) + " 0";
        tangents += " " + std::to_string(k) + " 1 0";
    }
    const std::string lists = twelveCorners() +
                              " nidxs 12 1 UINT 11 10 9 8 7 6 5 4 3 2 1 0\n"
                              " uvidxs 12 1 UINT 5 4 3 2 1 0 11 10 9 8 7 6\n"
                              " nlist 12 1 VECTOR" + normals + "\n uvlist 12 1 VECTOR2" + uvs +
                              "\n tlist 12 1 VECTOR" + tangents + "\n";
    // A quad, a pentagon and a triangle, each split from its first corner.
    World *world = load(std::string(kCameraNode) + mesh("m", " nsides 3 1 UINT 4 5 3\n" + lists));
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->meshes.size(), 1u);
    const MeshShape *m = world->meshes[0];
    EXPECT_EQ(m->vertexIndices, (std::vector<int>{0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7, 4, 7, 8, 9, 10, 11}));
    EXPECT_EQ(m->normalIndices, (std::vector<int>{11, 10, 9, 11, 9, 8, 7, 6, 5, 7, 5, 4, 7, 4, 3, 2, 1, 0}));
    EXPECT_EQ(m->uvIndices, (std::vector<int>{5, 4, 3, 5, 3, 2, 1, 0, 11, 1, 11, 10, 1, 10, 9, 8, 7, 6}));
    // Tangents belong to the vertices.
    std::vector<int> tangentOrder;
    for (const Vec3f &t : m->tangents) tangentOrder.push_back(static_cast<int>(t.x));
    EXPECT_EQ(tangentOrder, m->vertexIndices);
}

TEST_F(ExportedForms, FaceSizesThatFitLoadAndOthersAreRefused) {
    auto scene = [](const std::string &sides) {
        return std::string(kCameraNode) + mesh("m", " nsides " + sides + "\n" + twelveCorners());
    };
    // One bare number: one face when it equals the corner count, else faces of that size.
    const struct { const char *sides; int triangles; } fits[] = {{"3", 4}, {"4", 6}, {"6", 8}, {"12", 10}};
    for (const auto &f : fits) {
        SCOPED_TRACE(f.sides);
        World *world = load(scene(f.sides));
        ASSERT_NE(world, nullptr);
        ASSERT_EQ(world->meshes.size(), 1u);
        const std::vector<int> &v = world->meshes[0]->vertexIndices;
        EXPECT_EQ(world->meshes[0]->numTriangles(), f.triangles);
        // The last triangle of the last face: its first corner, then the last two.
        const int first = 12 - std::stoi(f.sides);
        EXPECT_EQ(std::vector<int>(v.end() - 3, v.end()), (std::vector<int>{first, 10, 11}));
    }

    const struct { const char *sides, *message; } refused[] = {
        {"5", "Mesh M has faces of 5 corners but 12 vertex indices"},
        {"2", "Mesh M has faces of 2 corners, fewer than 3"},
        {"2 1 UINT 2 10", "Mesh M: face 0 has 2 corners, fewer than 3"},
        {"4 4 5", "Mesh M: its faces have 13 corners in all but 12 vertex indices"},
    };
    int n = 0;
    for (const auto &r : refused) {
        SCOPED_TRACE(r.sides);
        breakRepeat();
        const std::vector<std::string> errors =
            refuse(scene(r.sides), "faces" + std::to_string(n++) + ".ass");
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_EQ(errors[0], r.message);
    }
}

TEST_F(ExportedForms, MeshesWithoutOptionalListsLoad) {
    LogCapture log;
    World *world = load(std::string(kCameraNode) + quad("bare", "") +
                        // Corners clockwise seen from +z: the normal points down.
                        mesh("flipped", " nsides 4\n vidxs 4 1 UINT 0 3 2 1\n"
                                        " vlist 4 1 VECTOR 10 0 0  11 0 0  11 1 0  10 1 0\n") +
                        quad("smooth", translation(20, 0, 0) + " nlist 4 1 VECTOR 0 1 0 0 1 0 0 1 0 0 1 0\n") +
                        quad("mapped", translation(30, 0, 0) + " uvlist 4 1 VECTOR2 0 0 1 0 1 1 0 1\n"
                                       " uvidxs 4 1 UINT 3 2 1 0\n"));
    ASSERT_NE(world, nullptr);
    EXPECT_TRUE(log.errors().empty());

    const MeshShape *bare = meshNamed(world, "BARE");
    ASSERT_NE(bare, nullptr);
    EXPECT_TRUE(bare->normalIndices.empty() && bare->tangents.empty() && !bare->hasTextureCoordinates());
    // The triangle's own normal on its counter-clockwise side, uv (0, 0),
    // the tangent along the first edge.
    IntersectInfo hit = hitFromAbove(world, 0.5f, 0.25f);
    EXPECT_EQ(hit.id, bare->id);
    EXPECT_EQ(hit.normal, Vec3f(0, 0, 1));
    EXPECT_EQ(hit.u, 0.0f);
    EXPECT_EQ(hit.v, 0.0f);
    EXPECT_EQ(hit.tangent, Vec3f(1, 0, 0));
    hit = hitFromAbove(world, 10.5f, 0.25f);
    EXPECT_EQ(hit.normal, Vec3f(0, 0, -1));

    // Normals without indices belong to the vertices.
    const MeshShape *smooth = meshNamed(world, "SMOOTH");
    ASSERT_NE(smooth, nullptr);
    EXPECT_EQ(smooth->normalIndices, smooth->vertexIndices);
    EXPECT_EQ(hitFromAbove(world, 20.5f, 0.25f).normal, Vec3f(0, 1, 0));

    // uvidxs reads uvlist in its own order: at (0.5, 0.25) of the first
    // triangle the corners' uvs are the 4th, 3rd and 2nd, not the 1st, 2nd and 3rd.
    hit = hitFromAbove(world, 30.5f, 0.25f);
    EXPECT_EQ(hit.id, meshNamed(world, "MAPPED")->id);
    EXPECT_NEAR(hit.u, 0.5f, 1e-6f);
    EXPECT_NEAR(hit.v, 0.75f, 1e-6f);
}

TEST_F(ExportedForms, TexturedMaterialOnMeshWithoutUvsIsReported) {
    // A 1 x 1 true-colour TGA.
    const std::vector<unsigned char> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0,   0,   0,
                                            0, 1, 0, 1, 0, 24, 0, 255, 0, 255};
    ASSERT_TRUE(writeFileBytes(dir_.file("tex.tga"), tga));
    breakRepeat();
    LogCapture log;
    World *world = load(std::string(kCameraNode) +
                        "mayafile\n{\n name file1\n filename \"" + dir_.file("tex.tga") + "\"\n}\n"
                        "lambert\n{\n name texMat\n Kd_color file1\n}\n"
                        "MayaShadingEngine\n{\n name texSG\n beauty texMat\n}\n"
                        "lambert\n{\n name plainMat\n}\n"
                        "MayaShadingEngine\n{\n name plainSG\n beauty plainMat\n}\n" +
                        quad("bare", " shader texSG\n") +
                        quad("mapped", " shader texSG\n uvlist 4 1 VECTOR2 0 0 1 0 1 1 0 1\n") +
                        quad("plain", " shader plainSG\n"));
    ASSERT_NE(world, nullptr);
    std::vector<std::string> reported;
    for (const std::string &w : warnings(log))
        if (w.find("texture coordinates") != std::string::npos) reported.push_back(w);
    EXPECT_EQ(reported, std::vector<std::string>{
                            "Mesh BARE has no texture coordinates; its textured material TEXMAT shows one colour"});
}

TEST_F(ExportedForms, BareWordsAndNamesWithPunctuation) {
    LogCapture log;
    World *world = load("options\n{\n camera /persp/perspShape\n"
                        " outputs \"RGBA RGBA gaussian aiAOVDriver@beauty\"\n}\n"
                        "driver_exr\n{\n name aiAOVDriver@beauty\n filename out.exr\n}\n"
                        "persp_camera\n{\n name first\n}\n"
                        "persp_camera\n{\n name /persp/perspShape\n}\n"
                        "sphere\n{\n name leftAsset:pSphereShape1\n shader lambert1SG\n}\n"
                        "sphere\n{\n name \"|group|ball\"\n shader \"quotedSG\"\n}\n"
                        "ginstance\n{\n name leftAsset:copy\n node leftAsset:pSphereShape1\n}\n" +
                        flatShaders({"lambert1SG", "quotedSG"}));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getName(), "/persp/perspShape");
    EXPECT_EQ(world->getCamera()->getOutputFileName(), "out.exr");
    std::string shader;
    ASSERT_NE(sphereNamed(world, "LEFTASSET:PSPHERESHAPE1", &shader), nullptr);
    EXPECT_EQ(shader, "LAMBERT1SG"); // one word, not running on to the next quote
    ASSERT_NE(sphereNamed(world, "|GROUP|BALL", &shader), nullptr);
    EXPECT_EQ(shader, "QUOTEDSG");
    ASSERT_NE(sphereNamed(world, "LEFTASSET:COPY", &shader), nullptr);
    EXPECT_EQ(shader, "LAMBERT1SG");
    EXPECT_EQ(warnings(log), std::vector<std::string>{});
}

TEST_F(ExportedForms, InstancesDrawTheirTargetAgain) {
    breakRepeat();
    LogCapture log;
    World *world = load(
        std::string(kCameraNode) +
        // An instance may come before the shape it names.
        "ginstance\n{\n name ahead\n node lateBall\n" + translation(0, 3, 0) + "}\n" +
        quad("box", translation(1, 0, 0) + " shader boxSG\n") +
        "ginstance\n{\n name copy1\n node \"box\"\n" + translation(0, 5, 0) + " shader copySG\n}\n"
        "ginstance\n{\n name copy2\n node copy1\n" + translation(0, 0, 7) + "}\n"
        "ginstance\n{\n name flat\n node box\n" + translation(0, 5, 0) + " inherit_xform off\n}\n"
        "ginstance\n{\n name flat2\n node copy1\n" + translation(0, 0, 9) + " inherit_xform off\n}\n"
        "sphere\n{\n name lateBall\n center 0 0 1\n radius 2\n" + translation(10, 0, 0) +
        " shader ballSG\n}\n" +
        quad("proto", " visibility 0\n shader protoSG\n") +
        "ginstance\n{\n name fromProto\n node proto\n}\n"
        "ginstance\n{\n name hidden\n node box\n visibility 0\n}\n"
        "ginstance\n{\n name ghost\n node nowhere\n}\n"
        "ginstance\n{\n name loop\n node loop\n}\n" +
        flatShaders({"boxSG", "copySG", "ballSG", "protoSG"}));
    ASSERT_NE(world, nullptr);

    const struct { const char *name; Point3f firstCorner; const char *shader; } meshes[] = {
        {"BOX", Point3f(1, 0, 0), "BOXSG"},
        {"COPY1", Point3f(1, 5, 0), "COPYSG"},   // on top of the shape's own matrix
        {"COPY2", Point3f(1, 5, 7), "COPYSG"},   // an instance of an instance
        {"FLAT", Point3f(0, 5, 0), "BOXSG"},     // its own matrix only
        {"FLAT2", Point3f(0, 0, 9), "COPYSG"},   // its own matrix only, not the inner instance's
        {"FROMPROTO", Point3f(0, 0, 0), "PROTOSG"},
    };
    ASSERT_EQ(world->meshes.size(), 6u); // neither the prototype nor the hidden instance
    std::string shader;
    for (const auto &e : meshes) {
        SCOPED_TRACE(e.name);
        const MeshShape *m = meshNamed(world, e.name, &shader);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->cornerWorld(0, 0), e.firstCorner);
        EXPECT_EQ(m->numTriangles(), 2);
        EXPECT_EQ(shader, e.shader);
    }
    // Instance triangles are in the scene: a ray finds the second copy.
    IntersectInfo hit;
    world->intersect(hit, vmath::Ray(Point3f(1.5f, 5.25f, 20), Vec3f(0, 0, -1)), vmath::kMaxFloat);
    EXPECT_EQ(hit.id, meshNamed(world, "COPY2")->id);

    const SpherePrimitive *ball = sphereNamed(world, "LATEBALL", nullptr);
    const SpherePrimitive *ahead = sphereNamed(world, "AHEAD", &shader);
    ASSERT_NE(ball, nullptr);
    ASSERT_NE(ahead, nullptr);
    EXPECT_EQ(ball->center, Point3f(10, 0, 1));
    EXPECT_EQ(ahead->center, Point3f(10, 3, 1));
    EXPECT_EQ(ahead->radius, 2.0f);
    EXPECT_EQ(shader, "BALLSG");

    EXPECT_EQ(warnings(log),
              (std::vector<std::string>{
                  "Output file not found, using image.tga",
                  "Instance GHOST names \"NOWHERE\", which is no shape; it is not drawn",
                  "Instance LOOP is nested too deeply (or names itself); it is not drawn"}));
}

TEST_F(ExportedForms, CamerasFirstByDefaultOrthographicAndPerCameraOutputs) {
    {
        LogCapture log;
        World *world = load("persp_camera\n{\n name first\n}\npersp_camera\n{\n name second\n}\n");
        ASSERT_NE(world, nullptr);
        EXPECT_EQ(world->getCamera()->getName(), "first");
        const std::vector<std::string> infos = log.infos();
        EXPECT_EQ(std::count(infos.begin(), infos.end(),
                             "No camera selected, using the first camera \"first\""), 1);
    }

    // The window is the visible extent as given; all rays parallel.
    resetSceneFileSettings();
    World *world = load("options\n{\n xres 200\n yres 100\n camera \"top\"\n"
                        " outputs \"top RGBA RGBA gaussian drv5\"\n}\n"
                        "driver_exr\n{\n name drv5\n filename \"five.exr\"\n}\n"
                        "persp_camera\n{\n name side\n}\n"
                        "ortho_camera\n{\n name top\n screen_window_min -4 -2\n"
                        " screen_window_max 1 1 VECTOR2 4 2\n" + translation(0, 0, 10) + "}\n");
    ASSERT_NE(world, nullptr);
    Camera *camera = world->getCamera();
    EXPECT_EQ(camera->getName(), "top");
    EXPECT_TRUE(camera->isOrthographic());
    EXPECT_EQ(camera->getOutputFileName(), "five.exr");
    const struct { float x, y; Point3f origin; } rays[] = {
        {0, 0, Point3f(-4, 2, 10)}, {200, 100, Point3f(4, -2, 10)}, {100, 50, Point3f(0, 0, 10)},
        {50, 25, Point3f(-2, 1, 10)}};
    for (const auto &r : rays) {
        const vmath::Ray ray = camera->generateRay(r.x, r.y);
        EXPECT_NEAR(ray.origin.x, r.origin.x, 1e-5f) << r.x;
        EXPECT_NEAR(ray.origin.y, r.origin.y, 1e-5f) << r.y;
        EXPECT_NEAR(ray.origin.z, r.origin.z, 1e-5f);
        EXPECT_EQ(ray.direction, Vec3f(0, 0, -1));
    }

    // Camera and driver names in outputs entries keep ":".
    for (const char *entry : {"left:cam RGBA RGBA gaussian out:drv", "RGBA RGBA gaussian out:drv"}) {
        resetSceneFileSettings();
        world = load("options\n{\n camera \"left:cam\"\n outputs \"" + std::string(entry) + "\"\n}\n"
                     "driver_exr\n{\n name out:drv\n filename \"x.exr\"\n}\n"
                     "persp_camera\n{\n name left:cam\n}\n");
        ASSERT_NE(world, nullptr);
        EXPECT_EQ(world->getCamera()->getOutputFileName(), "x.exr") << entry;
    }
}

TEST_F(ExportedForms, FileLevelForms) {
    // A byte-order mark before the first node.
    World *world = load("\xEF\xBB\xBFpersp_camera\n{\n name cam\n}\nsphere\n{\n name b\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getName(), "cam");
    EXPECT_EQ(world->primitives.size(), 1u);

    // Lines ended by CR alone: unknown parameters skip their line only, and
    // a bare face size ends with its line.
    world = load("options\r{\r xres 64\r}\rpersp_camera\r{\r}\r# comment\r"
                 "sphere\r{\r name ball\r unknown_param 1 2 3\r radius 2\r}\r"
                 "polymesh\r{\r name quad\r nsides 4\r vidxs 4 1 UINT\r 0 1 2 3\r"
                 " vlist 4 1 VECTOR\r 0 0 0 1 0 0 1 1 0 0 1 0\r}\r");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getResolution()[0], 64);
    const SpherePrimitive *ball = sphereNamed(world, "BALL", nullptr);
    ASSERT_NE(ball, nullptr);
    EXPECT_EQ(ball->radius, 2.0f);
    ASSERT_EQ(world->meshes.size(), 1u);
    EXPECT_EQ(world->meshes[0]->numTriangles(), 2);

    // Geometry this renderer does not draw: one word per node, nested blocks
    // on one line or over several passed with it (a procedural that names
    // no scene file too); the included file is read in place of its line.
    const char *types[] = {"curves", "points", "procedural", "usd",
                           "implicit", "nurbs", "volume", "alembic"};
    std::string text = std::string(kCameraNode) + "include \"other.ass\"\n";
    std::vector<std::string> expected;
    bool oneLine = true;
    for (const char *type : types) {
        text += std::string(type) + "\n{\n name my_" + type + "\n radius 3\n" +
                ((oneLine = !oneLine) ? " nested { a b }\n}\n" : " nested\n {\n  x 1\n }\n}\n");
        expected.push_back("Node " + std::string(type) + " \"my_" + type +
                           (std::string(type) == "procedural"
                                ? "\" is not drawn: this renderer draws procedurals of scene files "
                                  "(.ass, .ass.gz) only"
                                : "\" is not drawn: this renderer does not draw " + std::string(type) +
                                      " nodes"));
    }
    write(std::string(kCameraNode) + "sphere\n{\n name included\n}\n", "other.ass");
    breakRepeat();
    LogCapture log;
    world = load(text + "sphere\n{\n name after\n}\noptions\n{\n outputs \"a b c d\"\n}\n"
                        "driver_tiff\n{\n name d\n filename \"x.tif\"\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(warnings(log), expected);
    ASSERT_EQ(world->primitives.size(), 2u);
    EXPECT_EQ(world->primitives[0]->name, "INCLUDED");
    EXPECT_EQ(world->primitives[1]->name, "AFTER");
    EXPECT_TRUE(world->meshes.empty());
}

// Values on the lines after a parameter are never its array header; key
// counts of 0 mean one key; counts are guarded against wrapping and against
// packed shorthand or instances asking for more than a small file justifies.
TEST_F(ExportedForms, HeadersStayOnTheirLineAndSmallFilesStaySmall) {
    // The window's numbers and the matrix on the next line are no header.
    World *world = load("persp_camera\n{\n screen_window_max 1 1\n matrix\n"
                        " 1 0 0 0 0 1 0 0 0 0 1 0 0 0 6 1\n}\n" +
                        mesh("m", " nsides 1 1 UINT\n 3\n vidxs 6 1 UINT 0 1 2 0 2 3\n"
                                  " vlist 4 1 VECTOR 0 0 0 1 0 0 1 1 0 0 1 0\n"
                                  " matrix 1 0 MATRIX 1 0 0 0 0 1 0 0 0 0 1 0 5 0 0 1\n"));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->generateRay(300, 300).origin, Point3f(0, 0, 6));
    ASSERT_EQ(world->meshes.size(), 1u);
    EXPECT_EQ(world->meshes[0]->numTriangles(), 2); // a one-size list: faces of that size
    EXPECT_EQ(world->meshes[0]->cornerWorld(0, 0), Point3f(5, 0, 0));

    // An unknown parameter's short b64 text leaves the closing brace alone.
    world = load(std::string(kCameraNode) + "sphere\n{\n name a\n foo 4 1 b64FLOAT AAAAAAAA\n}\n"
                 "sphere\n{\n name b\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_NE(sphereNamed(world, "B", nullptr), nullptr);

    breakRepeat();
    std::vector<std::string> errors =
        refuse(std::string(kCameraNode) + "sphere\n{\n matrix 1073741824 1073741824 MATRIX 1\n}\n",
               "wrap.ass");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("matrix claims"), std::string::npos) << errors[0];

    // Every repeated-word array is charged to one allowance for the file (64
    // values a byte): the first of two meshes asking for 3/4 of it fits, the
    // second does not.
    const auto zerosOf = [](uint32_t n) {
        return " vidxs " + std::to_string(n) + " 1 b85UINT E!" + group85(0) + group85(n) +
               "\n vlist 1 1 VECTOR 0 0 0\n";
    };
    const auto twoMeshes = [&](uint32_t n) {
        return std::string(kCameraNode) + mesh("a", zerosOf(n)) + mesh("b", zerosOf(n));
    };
    const uint32_t n = static_cast<uint32_t>(64 * (twoMeshes(99999).size() + 1) * 3 / 4) / 3 * 3;
    breakRepeat();
    errors = refuse(twoMeshes(n), "big.ass");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "Mesh B: vidxs claims " + std::to_string(n) +
                             " values, more than the rest of the file can hold");
    const std::string zeros = zerosOf(9000);

    // Instances add triangles in proportion to the file's size: 3000-triangle
    // copies of a hidden prototype stop with a warning.
    std::string text = std::string(kCameraNode) + mesh("p", zeros + " visibility 0\n");
    for (int i = 0; i < 20; ++i) text += "ginstance\n{\n name c" + std::to_string(i) + "\n node p\n}\n";
    LogCapture log;
    world = load(text);
    ASSERT_NE(world, nullptr);
    const size_t drawn = world->meshes.size();
    EXPECT_GT(drawn, 0u);
    EXPECT_LT(drawn, 20u);
    // One warning per copy left out; past ten, one line counts the rest.
    const size_t left = 20u - drawn;
    EXPECT_EQ(warnings(log).size(), left > 10 ? 11u : left);
}
