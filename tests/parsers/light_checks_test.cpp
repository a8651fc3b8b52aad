// Light parameters that are not finite numbers, or negative colours, are
// each said with one Warning that names the light and the parameter: a
// light without a finite strength is left out, a spot light's angles fall
// back to their defaults, negative colour channels are taken as 0.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "lights/light.h"
#include "parsers/scene_file_test.h"

namespace {

class LightChecks : public SceneFileTest {};

struct Case {
    const char *node;    // the light's node, named "key"
    const char *warning; // the one Warning about it
    int lights;          // lights of the world afterwards
    bool lit;            // for sky and ambient nodes: whether they were set
};

} // namespace

TEST_F(LightChecks, NonFiniteOrNegativeParametersAreWarned) {
    const Case cases[] = {
        {"point_light\n{\n name key\n intensity nan\n}\n",
         "Light KEY: intensity is not a finite number; the light is not used", 0, false},
        {"spot_light\n{\n name key\n exposure inf\n}\n",
         "Light KEY: exposure is not a finite number; the light is not used", 0, false},
        {"distant_light\n{\n name key\n color 1 nan 1\n}\n",
         "Light KEY: color is not a finite number; the light is not used", 0, false},
        {"spot_light\n{\n name key\n penumbra_angle nan\n}\n",
         "Light KEY: penumbra_angle is not a finite number; using 0", 1, false},
        {"spot_light\n{\n name key\n cone_angle -inf\n}\n",
         "Light KEY: cone_angle is not a finite number; using 65", 1, false},
        {"point_light\n{\n name key\n color -1 0.5 1\n}\n",
         "Light KEY: color has a negative channel; taken as 0", 1, false},
        {"skydome_light\n{\n name key\n color 0.5 0.5 inf\n}\n",
         "Light KEY: color is not a finite number; the light is not used", 0, false},
        {"skydome_light\n{\n name key\n color -1 0.5 0.5\n}\n",
         "Light KEY: color has a negative channel; taken as 0", 0, true},
        {"ambient_light\n{\n name key\n intensity -inf\n}\n",
         "Light KEY: intensity is not a finite number; the light is not used", 0, false},
    };
    for (const Case &c : cases) {
        breakRepeat();
        LogCapture log;
        World *world = load(std::string(kCameraNode) + c.node);
        ASSERT_NE(world, nullptr) << c.node;
        std::vector<std::string> about;
        for (const std::string &w : log.texts(google::GLOG_WARNING))
            if (w.rfind("Light ", 0) == 0) about.push_back(w);
        EXPECT_EQ(about, std::vector<std::string>{c.warning}) << c.node;

        ASSERT_EQ(world->lights.size(), static_cast<size_t>(c.lights)) << c.node;
        EXPECT_EQ(world->hasSky || world->ambientLight != nullptr, c.lit) << c.node;
        // Whatever is used lights with finite, non-negative numbers only.
        for (const LocalLight *light : world->lights) {
            const Vec3f s = light->emitted();
            EXPECT_TRUE(s.x >= 0.0f && s.y >= 0.0f && s.z >= 0.0f) << c.node;
            EXPECT_TRUE(std::isfinite(light->cosOuter) && std::isfinite(light->cosInner))
                << c.node;
        }
        if (world->hasSky) {
            EXPECT_EQ(world->sky.x, 0.0f) << c.node;
            EXPECT_GT(world->sky.y, 0.0f) << c.node;
        }
    }
}
