// The kd-tree must not change a rendered picture: the example scenes render
// to identical frame buffers with and without it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rendering/read_scene.h"
#include "parsers/scene_nodes.h"
#include "bvh/kdtreeaccel.h"
#include "rendering/frame_loop.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "scene/world.h"

namespace {

std::vector<float> renderWith(const World &world) {
    Camera *camera = world.getCamera();
    const Vec2i res = camera->getResolution();
    std::vector<float> frame(static_cast<size_t>(res[0]) * res[1] * 3, -7.0f);
    testing::internal::CaptureStdout(); // progress text
    renderFrame(world, static_cast<uint32_t>(res[0]), static_cast<uint32_t>(res[1]), frame.data(),
                nullptr);
    testing::internal::GetCapturedStdout();
    return frame;
}

void expectSameFrames(const char *scene) {
    SCOPED_TRACE(scene);
    // Texture paths in the example scenes are relative to the repository root.
    ScopedChdir cwd(VORTAN_SOURCE_DIR);
    ASSERT_TRUE(cwd.ok());
    resetSceneFileSettings();
    std::unique_ptr<World> world;
    {
        // Loaded for the linear search; the tree is installed by hand below.
        ScopedEnv linear("VORTAN_ACCEL", "none");
        world.reset(readScene(scene));
    }
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->accelerator, nullptr);

    const std::vector<float> linear = renderWith(*world);
    KdTreeAccel *tree = makeKdTreeAccel(world->primitives);
    world->setAccelerator(std::unique_ptr<Accelerator>(tree));
    const std::vector<float> accelerated = renderWith(*world);

    ASSERT_EQ(linear.size(), accelerated.size());
    size_t differing = 0, first = linear.size();
    for (size_t i = 0; i < linear.size(); ++i) {
        if (std::memcmp(&linear[i], &accelerated[i], sizeof(float)) != 0) {
            if (first == linear.size()) first = i;
            ++differing;
        }
    }
    EXPECT_EQ(differing, 0u) << "first differing value at index " << first << ": "
                             << (first < linear.size() ? linear[first] : 0.0f) << " vs "
                             << (first < linear.size() ? accelerated[first] : 0.0f);
}

} // namespace

TEST(KdTreeAccel, ExampleScenesRenderIdenticallyWithAndWithoutIt) {
    expectSameFrames("scenes/minimal.ass");
    expectSameFrames("scenes/showcase.ass");
}
