// The example scene written the way exporters write (scenes/exported.ass,
// made by scripts/make_exported_scene.py): it loads without an error, draws
// the shapes it describes with the materials it binds, and renders a lit,
// textured picture that the kd-tree does not change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/error.h"
#include "materials/material.h"
#include "shapes/mesh.h"
#include "render/frame_scenes.h"
#include "support/log_capture.h"

using namespace frame_test;

namespace {

const char kScene[] = "scenes/exported.ass";

std::string materialOf(const Primitive &p) {
    return p.getMaterial() != nullptr ? p.getMaterial()->name : "(none)";
}

} // namespace

TEST(ExportedScene, LoadsEveryShapeWithItsMaterial) {
    // Error and Warning drop a message equal to the last one: a different
    // one first, so that the scene's own warning is seen.
    Warning("exported scene test marker");
    LogCapture log;
    std::unique_ptr<World> world = loadSceneFile(kScene, "kdtree");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(log.errors(), std::vector<std::string>{});
    EXPECT_EQ(log.texts(google::GLOG_WARNING),
              std::vector<std::string>{"Node curves \"/set/grass|grassShape\" is not drawn: this "
                                       "renderer does not draw curves nodes"});
    // Named with a bare word in the options; not the first node's default.
    EXPECT_EQ(world->getCamera()->getName(), "/cameras/main:cameraShape");
    EXPECT_EQ(world->getCamera()->getResolution()[0], 320);
    EXPECT_EQ(world->getCamera()->getResolution()[1], 240);

    // The backdrop (15 quads), the plinth (12 quads) and the hidden column
    // (6 quads, 2 hexagons) drawn twice, by its instances only.
    struct Expected {
        const char *name;
        int triangles;
        const char *material;
    };
    const Expected expected[] = {
        {"/SET/FLOOR|FLOORSHAPE", 30, "/SHADERS/FLOOR:LAMBERT"},
        {"/SET/PLINTH|PLINTHSHAPE", 24, "/SHADERS/PLINTH:BLINN"},
        {"/SET/COLUMN1|COLUMNSHAPE", 20, "/SHADERS/GEM:GOLD"},
        {"/SET/COLUMN2|COLUMNSHAPE", 20, "/SHADERS/GEM:JADE"},
    };
    ASSERT_EQ(world->meshes.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const MeshShape &mesh = *world->meshes[i];
        EXPECT_EQ(mesh.name, expected[i].name);
        EXPECT_EQ(mesh.numTriangles(), expected[i].triangles) << expected[i].name;
        EXPECT_EQ(materialOf(mesh), expected[i].material) << expected[i].name;
    }
    // Every backdrop face shows the same four texture coordinates.
    EXPECT_EQ(world->meshes[0]->uvs.size(), 4u);
    EXPECT_EQ(world->meshes[0]->uvIndices.size(), 90u);
    // The triangles and the sphere, which keeps its centre.
    ASSERT_EQ(world->primitives.size(), 95u);
    const Primitive *ball = world->primitives[0];
    EXPECT_EQ(ball->name, "/SET/BALL|BALLSHAPE");
    EXPECT_EQ(materialOf(*ball), "/SHADERS/BALL:CHROME");
    float t = vmath::kMaxFloat;
    EXPECT_TRUE(ball->hitDistance(vmath::Ray(Point3f(2.2f, 5.0f, 0.6f), Vec3f(0, -1, 0)), &t));
    EXPECT_FLOAT_EQ(t, 5.0f - 1.4f);
}

TEST(ExportedScene, RendersLitAndTexturedTheSameWithAndWithoutTheTree) {
    std::unique_ptr<World> linear = loadSceneFile(kScene, "none");
    std::unique_ptr<World> tree = loadSceneFile(kScene, "kdtree");
    ASSERT_NE(linear, nullptr);
    ASSERT_NE(tree, nullptr);
    const Frame f = renderFrameRows(*tree, 2);
    EXPECT_EQ(firstDifference(renderFrameRows(*linear, 2), f), "");

    // Nearly every pixel shows the lit backdrop or a shape; none shows the
    // (negative) colour of a missing texture.
    int lit = 0, negative = 0;
    for (size_t k = 0; k < f.rgb.size(); k += 3) {
        lit += f.rgb[k] + f.rgb[k + 1] + f.rgb[k + 2] > 0.1f;
        negative += f.rgb[k] < 0.0f || f.rgb[k + 1] < 0.0f || f.rgb[k + 2] < 0.0f;
    }
    EXPECT_GT(lit, 320 * 240 * 8 / 10);
    EXPECT_EQ(negative, 0);
}
