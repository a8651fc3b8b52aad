// What a load says about a hostile file stays readable: names longer than
// 200 characters are cut, a warning of one kind is shown ten times and then
// counted in one line, and an array of zero motion keys is named as such
// rather than taking the next parameters' numbers for its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parsers/scene_file_test.h"
#include "shapes/sphere.h"

namespace {
class LoadMessages : public SceneFileTest {};
} // namespace

TEST_F(LoadMessages, LongNamesAreCutAndRepeatsCounted) {
    const std::string target(300, 'T');
    std::string text = std::string(kCameraNode) +
                       "sphere\n{\n name s\n matrix 1 0 MATRIX\n radius 2\n}\n";
    for (int i = 0; i < 13; ++i)
        text += "ginstance\n{\n name i" + std::to_string(i) + "\n node " + target + "\n}\n";
    // The warnings of one load but the one about the missing output.
    const auto warningsOfLoad = [&](const std::string &name, World **world) {
        breakRepeat();
        LogCapture log;
        *world = load(text, name);
        std::vector<std::string> warnings;
        for (const std::string &w : log.texts(google::GLOG_WARNING))
            if (w.rfind("Output file", 0) != 0) warnings.push_back(w);
        return warnings;
    };

    std::vector<std::string> expected = {
        "Sphere S: matrix has 0 motion keys and so no value; it is ignored"};
    for (int i = 0; i < 10; ++i)
        expected.push_back("Instance I" + std::to_string(i) + " names \"" + target.substr(0, 200) +
                           "...\", which is no shape; it is not drawn");
    expected.push_back("(3 more like it)");
    World *world = nullptr;
    EXPECT_EQ(warningsOfLoad("scene.ass", &world), expected);

    // The numbers after the empty matrix are the sphere's own.
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->primitives.size(), 1u);
    const auto *sphere = dynamic_cast<const SpherePrimitive *>(world->primitives[0]);
    ASSERT_NE(sphere, nullptr);
    EXPECT_EQ(sphere->radius, 2.0f);

    // The limit is the load's: the next load starts counting afresh.
    EXPECT_EQ(warningsOfLoad("again.ass", &world), expected);
}
