#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/image_output.h"
#include "materials/material.h"
#include "parsers/scene_file_test.h"
#include "shapes/cone.h"
#include "shapes/placed_shape.h"

namespace {

class TextureSolidNodes : public SceneFileTest {};

const Primitive *named(const World *world, const char *name) {
    for (const Primitive *p : world->primitives)
        if (p->name == name) return p;
    return nullptr;
}

Vec3f at(const ColorChannel &channel, float u, float v) {
    IntersectInfo hit;
    hit.u = u;
    hit.v = v;
    return channel.evaluate(hit);
}

} // namespace

// Texture nodes of each kind bound to the colours that name them, with the
// image node's mapping; the four solids read with their parameters, a
// prototype drawn only through its instance.
TEST_F(TextureSolidNodes, TexturesAndSolidsFromAScene) {
    const float texels[] = {1, 0, 0, 0, 1, 0}; // red, green
    std::string error;
    ASSERT_TRUE(writeExr(dir_.file("tex.exr"), texels, 2, 1, &error)) << error;
    LogCapture log;
    World *world = load(std::string(kCameraNode) +
                        "image\n{\n name img\n filename \"" + dir_.file("tex.exr") +
                        "\"\n swrap clamp\n sscale 2\n filter closest\n}\n"
                        "checkerboard\n{\n name chk\n color1 1 0 0\n color2 0 0 1\n"
                        " u_frequency 2\n v_frequency 2\n}\n"
                        "ramp_rgb\n{\n name rmp\n type \"u\"\n position 2 1 FLOAT 0 1\n"
                        " color 2 1 RGB 0 0 0 1 1 1\n interpolation 2 1 INT 1 1\n}\n"
                        "standard_surface\n{\n name a\n base 1\n base_color img\n}\n"
                        "standard_surface\n{\n name b\n base 1\n base_color chk\n}\n"
                        "lambert\n{\n name c\n Kd 1\n Kd_color rmp\n}\n"
                        "box\n{\n name bx\n min 1 1 1\n max -1 -1 -1\n shader a\n}\n"
                        "disk\n{\n name dk\n radius 2\n hole 1\n shader b\n}\n"
                        "cylinder\n{\n name cy\n top 0 2 0\n radius 0.5\n shader c\n"
                        " visibility 0\n}\n"
                        "cone\n{\n name co\n bottom_radius 1\n}\n"
                        "ginstance\n{\n name copy\n node cy\n"
                        " matrix 1 0 0 0 0 1 0 0 0 0 1 0 5 0 0 1\n}\n"
                        "disk\n{\n name flat\n radius 1\n hole 1\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_TRUE(log.errors().empty());
    // Every colour found its texture; the disc that is no disc was said.
    const std::vector<std::string> warnings = log.texts(google::GLOG_WARNING);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings[0], "Disk FLAT: radius and hole make no disc; it is not drawn");
    for (const std::string &w : warnings)
        EXPECT_EQ(w.find("cannot be evaluated"), std::string::npos) << w;

    ASSERT_EQ(world->materials.size(), 3u);
    const ColorChannel &image = static_cast<const Standard *>(world->materials[0])->Kd;
    EXPECT_EQ(at(image, 0.3f, 0.5f), Vec3f(0, 1, 0));  // s = 0.6: the second texel
    EXPECT_EQ(at(image, 0.2f, 0.5f), Vec3f(1, 0, 0));  // s = 0.4: the first
    EXPECT_EQ(at(image, 0.9f, 0.5f), Vec3f(0, 1, 0));  // s = 1.8: clamped to the edge
    const ColorChannel &checker = static_cast<const Standard *>(world->materials[1])->Kd;
    EXPECT_EQ(at(checker, 0.1f, 0.1f), Vec3f(1, 0, 0));
    EXPECT_EQ(at(checker, 0.6f, 0.1f), Vec3f(0, 0, 1));
    const ColorChannel &ramp = static_cast<const Lambert *>(world->materials[2])->Kd;
    EXPECT_EQ(at(ramp, 0.25f, 0.9f), Vec3f(0.25f, 0.25f, 0.25f));

    // Drawn: the box, the disc, the cone and the cylinder's instance.
    ASSERT_EQ(world->primitives.size(), 4u);
    const Primitive *box = named(world, "BX");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->worldBounds().pMin, Point3f(-1, -1, -1)); // corners in any order
    EXPECT_EQ(box->getMaterial(), world->materials[0]);
    ASSERT_NE(named(world, "DK"), nullptr);
    EXPECT_EQ(named(world, "DK")->getMaterial(), world->materials[1]);
    const auto *cone = dynamic_cast<const ConeShape *>(named(world, "CO"));
    ASSERT_NE(cone, nullptr);
    EXPECT_EQ(cone->top, Point3f(0, 1, 0)); // the format's defaults
    EXPECT_EQ(cone->bottomRadius, 1.0f);
    EXPECT_EQ(cone->topRadius, 0.0f);
    const auto *copy = dynamic_cast<const ConeShape *>(named(world, "COPY"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getMaterial(), world->materials[2]); // the prototype's shader
    EXPECT_EQ(copy->worldBounds().pMin, Point3f(4.5f, 0.0f, -0.5f));
    EXPECT_EQ(copy->worldBounds().pMax, Point3f(5.5f, 2.0f, 0.5f));
}
