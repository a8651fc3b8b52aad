// The format's conventions against the classic ones, on small scenes whose
// answers are known in closed form: framing, defaults, light in physical
// units, the sky's visibility, moving nodes, light filters and links.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "render/render_scene.h"
#include "shapes/sphere.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"
#include "util/error.h"

using namespace render_test;

namespace {

constexpr float kPi = 3.14159265f;

std::string options(int xres, int yres, const std::string &extra = "") {
    return "options\n{\n xres " + std::to_string(xres) + "\n yres " + std::to_string(yres) +
           "\n camera \"cam\"\n outputs \"RGBA RGBA filter drv\"\n" + extra + "}\n" +
           "driver_tiff\n{\n name drv\n filename \"out.tif\"\n}\n"
           // Each pixel the mean of its own samples.
           "box_filter\n{\n name filter\n}\n";
}

std::string flatWhite() { return "flat\n{\n name white\n color 1 1 1\n}\n"; }

// The lit length of row j (or column i when `column`), in pixels: the sum
// of a white-on-black row's values.
float span(const Render &r, int index, bool column) {
    float n = 0.0f;
    const int length = column ? r.height : r.width;
    for (int k = 0; k < length; ++k) {
        const Vec3f p = column ? r.pixel(index, k) : r.pixel(k, index);
        n += p.x;
    }
    return n;
}

} // namespace

TEST(Conventions, FramingFollowsTheConventionsAndThePixelShape) {
    // A unit sphere 10 ahead of the camera: its silhouette's half-width on
    // the image plane is tan(asin(0.1)) = 0.100504; in pixels that is
    // 0.100504 / tan(fov / 2) x (the film's half-extent along the fov).
    const float t = std::tan(std::asin(0.1f));
    struct Case {
        const char *name;
        bool classic;
        std::string camera;
        std::string optionsExtra;
        float width, height; // expected silhouette spans in pixels
    };
    const float horizontal = 2.0f * t / std::tan(30.0f * kPi / 180.0f) * 32.0f;
    const Case cases[] = {
        // The format's fov is horizontal: 64 pixels span it.
        {"format", false, "persp_camera\n{\n name cam\n fov 60\n}\n", "", horizontal,
         horizontal},
        // The classic fov is vertical: the film's 36 rows span it.
        {"classic", true, "persp_camera\n{\n name cam\n fov 60\n}\n", "", horizontal * 18 / 32,
         horizontal * 18 / 32},
        // Pixels twice as wide as tall: the same width, twice the rows.
        {"pixel aspect", false, "persp_camera\n{\n name cam\n fov 60\n}\n",
         " pixel_aspect_ratio 2\n", horizontal, 2 * horizontal},
        // An orthographic window of 4 units across the width: the sphere's 2
        // units take half of it, in both directions.
        {"ortho", false,
         "ortho_camera\n{\n name cam\n screen_window_min -2 -2\n screen_window_max 2 2\n}\n",
         "", 32, 32},
        // Classic: the window as given (4 x 4 units over 64 x 36 pixels).
        {"classic ortho", true,
         "ortho_camera\n{\n name cam\n screen_window_min -2 -2\n screen_window_max 2 2\n}\n",
         "", 32, 18},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv conventions("VORTAN_CLASSIC", c.classic ? "1" : "0");
        const Render r = renderText(options(64, 36, c.optionsExtra + " AA_samples 4\n") +
                                    c.camera + flatWhite() +
                                    sphere(0, 0, -10, 1, "white"));
        ASSERT_TRUE(r.ok());
        // The classic rays go through pixel corners: row 18 and column 32
        // run through the middle, as the middle pixels do under the format.
        // One sample a pixel (classic) counts whole pixels; 4 x 4 resolve
        // the edge pixels' coverage.
        const float tolerance = c.classic ? 1.0f : 0.5f;
        EXPECT_NEAR(span(r, 18, false), c.width, tolerance);
        EXPECT_NEAR(span(r, 32, true), c.height, tolerance);
    }
}

TEST(Conventions, LightInPhysicalUnitsHasKnownValues) {
    ScopedEnv conventions("VORTAN_CLASSIC", "0");
    // A camera 1 above a floor at y = 0, looking straight down at it.
    const std::string down = options(8, 8) +
                             "persp_camera\n{\n name cam\n fov 10\n matrix\n  1 0 0 0\n"
                             "  0 0 -1 0\n  0 1 0 0\n  0 1 0 1\n}\n";
    const std::string whiteFloor = "lambert\n{\n name w\n Kd 1\n}\n" + floorPlane(0, "w");
    const std::string defaultFloor = "lambert\n{\n name w\n}\n" + floorPlane(0, "w");
    const std::string sun = "distant_light\n{\n name sun\n intensity 3.14159265\n matrix\n"
                            "  1 0 0 0\n  0 0 -1 0\n  0 1 0 0\n  0 5 0 1\n}\n";
    struct Case {
        const char *name;
        std::string scene;
        float floor, background;
    };
    const Case cases[] = {
        // Irradiance pi on a white diffuse surface: radiance 1.
        {"distant light of pi", down + whiteFloor + sun, 1.0f, 0.0f},
        // The format's lambert is Kd 0.7 of white.
        {"default lambert", down + defaultFloor + sun, 0.7f, 0.0f},
        // A point light of the default intensity 1, 2 above the floor (and
        // above the camera): irradiance 1/4, radiance 1/(4 pi).
        {"point light", down + whiteFloor + "point_light\n{\n name p\n" +
                            translation(0, 2, 0) + "}\n",
         0.25f / kPi, 0.0f},
        // An open white sky of 1: radiance 1; hidden from the camera.
        {"sky", down + whiteFloor + "skydome_light\n{\n name sky\n camera 0\n}\n", 1.0f, 0.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Render r = renderText(c.scene);
        ASSERT_TRUE(r.ok());
        EXPECT_NEAR(r.pixel(4, 4).y, c.floor, 2e-4f * c.floor);
    }
    // With no floor, the hidden sky leaves the background black; it still
    // lights a sphere.
    const Render sky =
        renderText(options(16, 16) + "persp_camera\n{\n name cam\n fov 40\n}\n" +
                   "skydome_light\n{\n name sky\n camera 0\n}\n" + "lambert\n{\n name w\n}\n" +
                   sphere(0, 0, -5, 1, "w"));
    ASSERT_TRUE(sky.ok());
    EXPECT_EQ(sky.pixel(0, 0), Vec3f(0, 0, 0));
    EXPECT_NEAR(sky.pixel(8, 8).x, 0.7f, 1e-6f);
}

TEST(Conventions, DefaultsAndTheShutterMiddle) {
    // A sphere whose matrix moves it from x = 0 to x = 2 over two keys.
    const std::string moving =
        "sphere\n{\n name ball\n matrix 1 2 MATRIX\n 1 0 0 0 0 1 0 0 0 0 1 0 0 0 -5 1\n"
        " 1 0 0 0 0 1 0 0 0 0 1 0 2 0 -5 1\n}\n";
    struct Case {
        const char *name;
        bool classic;
        std::string camera;
        float x, radius;
    };
    const Case cases[] = {
        {"classic: first key, radius 1", true, "persp_camera\n{\n name cam\n}\n", 0, 1},
        {"format: middle of the keys, radius 0.5", false, "persp_camera\n{\n name cam\n}\n", 1,
         0.5f},
        {"format: a shutter at the start", false,
         "persp_camera\n{\n name cam\n shutter_start 0\n shutter_end 0\n}\n", 0, 0.5f},
        {"format: a shutter at three quarters", false,
         "persp_camera\n{\n name cam\n shutter_start 0.5\n shutter_end 1\n}\n", 1.5f, 0.5f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv conventions("VORTAN_CLASSIC", c.classic ? "1" : "0");
        const std::unique_ptr<World> world = loadText(options(8, 8) + c.camera + moving);
        ASSERT_NE(world, nullptr);
        ASSERT_EQ(world->primitives.size(), 1u);
        const auto *ball = static_cast<const SpherePrimitive *>(world->primitives[0]);
        EXPECT_EQ(ball->center, Point3f(c.x, 0, -5));
        EXPECT_EQ(ball->radius, c.radius);
    }
}

TEST(Conventions, LightFiltersAndLinks) {
    ScopedEnv conventions("VORTAN_CLASSIC", "0");
    // Two lights over a floor seen from above; the far half of each light's
    // reach is cut by a decay filter, and one sphere is lit by one light only.
    const std::string scene =
        options(32, 8) +
        "persp_camera\n{\n name cam\n fov 90\n matrix\n  1 0 0 0\n  0 0 -1 0\n  0 1 0 0\n"
        "  0 8 0 1\n}\n"
        "light_decay\n{\n name fade\n use_far_atten on\n far_start 1.5\n far_end 2\n}\n"
        "point_light\n{\n name a\n intensity 10\n filters 1 1 NODE fade\n" +
        translation(-4, 1, 0) + "}\n" + "point_light\n{\n name b\n intensity 10\n" +
        translation(4, 1, 0) + "}\n" + "lambert\n{\n name w\n Kd 1\n}\n" +
        "plane\n{\n name floor\n width 100\n height 100\n shader w\n light_group 1 1 NODE a\n"
        " use_light_group on\n}\n";
    const Render r = renderText(scene);
    ASSERT_TRUE(r.ok());
    // Under light a (x = -4: pixel 8): lit, 1 away from it.
    EXPECT_GT(r.pixel(8, 4).x, 0.1f);
    // 3 from light a: beyond the far end of its filter; light b does not
    // light the floor at all.
    EXPECT_EQ(r.pixel(2, 4).x, 0.0f);
    EXPECT_EQ(r.pixel(24, 4).x, 0.0f);
}

TEST(Conventions, NoSilentFallback) {
    ScopedEnv conventions("VORTAN_CLASSIC", "0");
    Warning("conventions test marker");
    LogCapture log;
    const std::unique_ptr<World> world = loadText(
        options(8, 8) + "persp_camera\n{\n name cam\n}\n" +
        "toon\n{\n name cartoon\n}\n"
        "standard_surface\n{\n name s\n base_color.r userData1\n}\n"
        "gobo\n{\n name pattern\n}\n"
        "point_light\n{\n name key\n filters 1 1 NODE pattern\n}\n" +
        sphere(0, 0, -5, 1, "cartoon") + sphere(0, 2, -5, 1, "cartoon"));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(log.texts(google::GLOG_WARNING),
              (std::vector<std::string>{
                  "Parameter base_color.r links one component to \"userData1\"; links of "
                  "single components are not followed and the parameter keeps its value",
                  "Shader type toon is not supported; 2 shapes using it are shaded grey",
                  "Light KEY: filter \"PATTERN\" is not a light_decay filter; it is ignored"}));
}
