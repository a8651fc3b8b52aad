// Sampled rendering against answers known in closed form: the filter keeps
// a constant colour exactly, a disk light gives a point below it its
// irradiance, a corner sees half the sky, and depth of field spreads a
// point by the circle the lens gives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "render/render_scene.h"
#include "support/scoped_env.h"

using namespace render_test;

namespace {

constexpr float kPi = 3.14159265f;

std::string options(int xres, int yres, int samples, const std::string &filter) {
    return "options\n{\n xres " + std::to_string(xres) + "\n yres " + std::to_string(yres) +
           "\n camera \"cam\"\n AA_samples " + std::to_string(samples) +
           "\n outputs \"RGBA RGBA f drv\"\n}\n"
           "driver_tiff\n{\n name drv\n filename \"out.tif\"\n}\n" + filter;
}

// A camera at height y over the floor, looking straight down.
std::string downCamera(float y, float fov, const std::string &extra = "") {
    return "persp_camera\n{\n name cam\n fov " + num(fov) + "\n" + extra +
           " matrix\n  1 0 0 0\n  0 0 -1 0\n  0 1 0 0\n  0 " + num(y) + " 0 1\n}\n";
}

const char kWhiteFloor[] = "lambert\n{\n name w\n Kd 1\n}\n"
                           "plane\n{\n name floor\n width 1000\n height 1000\n shader w\n}\n";

} // namespace

TEST(Sampling, FiltersKeepAConstantColourExactly) {
    ScopedEnv conventions("VORTAN_CLASSIC", "0");
    for (const char *filter : {"gaussian_filter\n{\n name f\n width 3\n}\n",
                               "box_filter\n{\n name f\n width 1.5\n}\n"}) {
        SCOPED_TRACE(filter);
        const Render r = renderText(options(9, 7, 3, filter) + downCamera(1, 60) +
                                    "flat\n{\n name c\n color 0.3 0.6 0.7\n}\n" +
                                    "plane\n{\n name floor\n width 100\n height 100\n shader c\n}\n");
        ASSERT_TRUE(r.ok());
        // Edge pixels gather fewer samples, and still the colour itself.
        for (int j = 0; j < r.height; ++j)
            for (int i = 0; i < r.width; ++i)
                ASSERT_EQ(r.pixel(i, j), Vec3f(0.3f, 0.6f, 0.7f)) << i << ", " << j;
    }
}

TEST(Sampling, LightFromAreasAndTheSkyMatchClosedForms) {
    ScopedEnv conventions("VORTAN_CLASSIC", "0");
    const std::string box = "box_filter\n{\n name f\n}\n";
    // A disk light of radius r facing down, h above the floor point under
    // it: irradiance L pi r^2 / (r^2 + h^2) with radiance L = intensity /
    // area, so a white diffuse floor shows L r^2 / (r^2 + h^2).
    const float r = 0.5f, h = 2.0f, intensity = 10.0f;
    const float L = intensity / (kPi * r * r);
    const std::string disk = "disk_light\n{\n name d\n radius 0.5\n intensity 10\n samples 8\n"
                             " matrix\n  1 0 0 0\n  0 0 -1 0\n  0 1 0 0\n  0 2 0 1\n}\n";
    const Render lit =
        renderText(options(3, 3, 4, box) + downCamera(1, 0.5f) + disk + kWhiteFloor);
    ASSERT_TRUE(lit.ok());
    EXPECT_NEAR(lit.pixel(1, 1).x, L * r * r / (r * r + h * h), 2e-3f);

    // A point at the foot of a tall wall sees half the sky, by the cosine:
    // a white surface under a white sky of 1 shows 1/2.
    const std::string wall = "plane\n{\n name wall\n width 1000\n height 1000\n shader w\n"
                             " matrix\n  0 1 0 0\n  -1 0 0 0\n  0 0 1 0\n  0 0 0 1\n}\n";
    const Render corner = renderText(
        options(3, 3, 4, box) + "persp_camera\n{\n name cam\n fov 0.2\n"
                                " matrix\n  1 0 0 0\n  0 0 -1 0\n  0 1 0 0\n  0.05 1 0 1\n}\n" +
        "skydome_light\n{\n name sky\n samples 16\n camera 0\n}\n" + kWhiteFloor + wall);
    ASSERT_TRUE(corner.ok());
    EXPECT_NEAR(corner.pixel(1, 1).x, 0.5f, 0.02f);
}

TEST(Sampling, DepthOfFieldSpreadsAPointByItsCircleOfConfusion) {
    ScopedEnv conventions("VORTAN_CLASSIC", "0");
    // A lens of radius a focused at f: a point at depth d is spread over a
    // disk of radius a |1 - f/d| / f on the plane one unit ahead, which is
    // tan(fov/2) = 1 half a frame across.
    const float a = 1.0f, f = 10.0f, fov = 90.0f;
    const int width = 64;
    const auto extent = [&](float depth) {
        const Render r = renderText(
            options(width, 1, 8, "box_filter\n{\n name f\n}\n") +
            "persp_camera\n{\n name cam\n fov " + num(fov) + "\n aperture_size " + num(a) +
            "\n focus_distance " + num(f) + "\n}\n" +
            "flat\n{\n name white\n color 1 1 1\n}\n" +
            // 2 pixels in radius, whatever its depth.
            "sphere\n{\n name dot\n radius " + num(depth / 16.0f) + "\n" +
            translation(0, 0, -depth) + " shader white\n}\n");
        EXPECT_TRUE(r.ok());
        int first = width, last = -1;
        for (int i = 0; i < width; ++i)
            if (r.ok() && r.pixel(i, 0).x > 0.0f) {
                first = std::min(first, i);
                last = i;
            }
        return last - first + 1;
    };
    // In focus: the dot alone, 4 pixels across (5 when it straddles one).
    EXPECT_LE(extent(f), 5);
    // At a quarter of the focus distance: the dot widened by a disk of
    // radius a x 3 / f = 0.3 units, 9.6 pixels.
    const float radius = a * std::fabs(1.0f - f / 2.5f) / f * (width / 2.0f);
    EXPECT_NEAR(static_cast<float>(extent(2.5f)), 2.0f * (2.0f + radius), 3.0f);
}
