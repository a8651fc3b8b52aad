#include <gtest/gtest.h>
#include <sys/stat.h>
#include <glog/logging.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "rendering/read_scene.h"
#include "parsers/scene_nodes.h"
#include "lights/light.h"
#include "materials/material.h"
#include "shapes/mesh.h"
#include "image/imageio.h"
#include "parsers/scene_file_test.h"
#include "shapes/sphere.h"

namespace {

class SceneLoader : public SceneFileTest {};

bool contains(const std::vector<std::string> &texts, const std::string &text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

Point3f apply(const Transform &t, float x, float y) { return t(Point3f(x, y, 0.0f)); }

} // namespace

TEST_F(SceneLoader, OptionsSetResolutionAndScreenWindow) {
    LogCapture log;
    World *world = load("options\n{\n xres 640\n yres 480\n}\n" + std::string(kCameraNode));
    ASSERT_NE(world, nullptr);
    Camera *camera = world->getCamera();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->getResolution()[0], 640);
    EXPECT_EQ(camera->getResolution()[1], 480);

    // The window (-1.3333334, 1.3333334, -1, 1) spans the film; its top left
    // corner is raster (0, 0).
    const Point3f topLeft = apply(camera->m_screenToRaster, -1.3333334f, 1.0f);
    const Point3f bottomRight = apply(camera->m_screenToRaster, 1.3333334f, -1.0f);
    EXPECT_NEAR(topLeft.x, 0.0f, 1e-4f);
    EXPECT_NEAR(topLeft.y, 0.0f, 1e-4f);
    EXPECT_NEAR(bottomRight.x, 640.0f, 1e-3f);
    EXPECT_NEAR(bottomRight.y, 480.0f, 1e-3f);
    EXPECT_FLOAT_EQ(apply(camera->m_rasterToScreen, 640.0f, 0.0f).x, 1.3333334f);

    // The corner ray leans by the aspect ratio: x / y = -a.
    const Vec3f d = camera->generateRay(0.0f, 0.0f).direction;
    EXPECT_NEAR(-d.x / d.y, 1.3333334f, 1e-5f);
    EXPECT_LT(d.z, 0.0f); // the file's cameras look along -z

    EXPECT_TRUE(contains(log.infos(), "xResolution 640"));
    EXPECT_TRUE(contains(log.infos(), "yResolution 480"));
}

TEST_F(SceneLoader, DefaultsWithoutOptionsAndDefaultOutputFile) {
    breakRepeat();
    LogCapture log;
    World *world = load(kCameraNode);
    ASSERT_NE(world, nullptr);
    Camera *camera = world->getCamera();
    EXPECT_EQ(camera->getResolution()[0], 600);
    EXPECT_EQ(camera->getResolution()[1], 600);
    EXPECT_FLOAT_EQ(apply(camera->m_rasterToScreen, 0.0f, 0.0f).x, -1.0f);
    EXPECT_FLOAT_EQ(apply(camera->m_rasterToScreen, 600.0f, 600.0f).y, -1.0f);
    const Vec3f d = camera->generateRay(0.0f, 0.0f).direction;
    EXPECT_NEAR(-d.x / d.y, 1.0f, 1e-6f);

    EXPECT_EQ(camera->getOutputFileName(), "image.tga");
    // A scene of only a camera says that nothing in it is drawn.
    EXPECT_EQ(log.texts(google::GLOG_WARNING),
              (std::vector<std::string>{"Output file not found, using image.tga",
                                        "Nothing in " + dir_.file("scene.ass") +
                                            " is drawn: it has no shape this renderer draws"}));
    EXPECT_TRUE(log.errors().empty());
}

TEST_F(SceneLoader, OptionsNodeResetsResolutionAndSettingsOutliveTheLoad) {
    World *world = load("options\n{\n xres 320\n}\n" + std::string(kCameraNode));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getResolution()[0], 320);
    EXPECT_EQ(world->getCamera()->getResolution()[1], 600);

    // Each options node starts again from 600 x 600.
    world = load("options\n{\n xres 100\n yres 50\n}\noptions\n{\n yres 200\n}\n" +
                 std::string(kCameraNode));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getResolution()[0], 600);
    EXPECT_EQ(world->getCamera()->getResolution()[1], 200);

    // Nothing resets the settings between loads: a file without options
    // keeps the last resolution.
    world = load(kCameraNode, "second.ass");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getResolution()[1], 200);
}

TEST_F(SceneLoader, CameraSelectionIsCaseSensitiveMadeAtTheEndAndFallsBackToTheFirst) {
    const std::string options = "options\n{\n camera \"Main\"\n}\n";
    {
        LogCapture log;
        World *world = load(options + "persp_camera\n{\n name Main\n fov 30\n}\n");
        ASSERT_NE(world, nullptr);
        ASSERT_NE(world->getCamera(), nullptr);
        EXPECT_EQ(world->getCamera()->getName(), "Main");
        EXPECT_TRUE(contains(log.infos(), "Selected camera Main"));
    }

    // Names differing in case only do not match: the first camera is used,
    // with a word, and the load goes on.
    {
        LogCapture log;
        World *world = load(options + "persp_camera\n{\n name main\n}\n"
                                      "persp_camera\n{\n name MAIN\n}\n",
                            "case.ass");
        ASSERT_NE(world, nullptr);
        EXPECT_EQ(world->getCamera()->getName(), "main");
        EXPECT_TRUE(contains(log.texts(google::GLOG_WARNING),
                             "No camera named \"Main\", using the first camera \"main\""));
        EXPECT_TRUE(log.errors().empty());
    }

    // The choice is made after the last node: cameras before the options
    // node are candidates too.
    resetSceneFileSettings();
    World *world = load("persp_camera\n{\n name Other\n}\npersp_camera\n{\n name Main\n}\n" +
                        options, "order.ass");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getName(), "Main");

    // An unnamed camera matches the empty selection.
    resetSceneFileSettings();
    world = load(kCameraNode);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getName(), "");
}

TEST_F(SceneLoader, CameraMatrixIsReadTransposedAndLaterCameraWins) {
    World *world = load("persp_camera\n{\n}\n"
                        "persp_camera\n{\n matrix\n  1 0 0 0\n  0 1 0 0\n  0 0 1 0\n  1 2 3 1\n}\n");
    ASSERT_NE(world, nullptr);
    const vmath::Ray ray = world->getCamera()->generateRay(300.0f, 300.0f);
    EXPECT_EQ(ray.origin, Point3f(1.0f, 2.0f, 3.0f));
    EXPECT_NEAR(ray.direction.x, 0.0f, 1e-6f);
    EXPECT_NEAR(ray.direction.y, 0.0f, 1e-6f);
    EXPECT_NEAR(ray.direction.z, -1.0f, 1e-6f);
}

TEST_F(SceneLoader, SelectedDriverSetsOutputFileWhateverItsCase) {
    const std::string options =
        "options\n{\n outputs \"RGBA RGBA gaussian myDriver\"\n}\n" + std::string(kCameraNode);
    {
        LogCapture log;
        World *world = load(options + "driver_tiff\n{\n name MyDriver\n filename \"Out/Pic.tif\"\n}\n");
        ASSERT_NE(world, nullptr);
        EXPECT_EQ(world->getCamera()->getOutputFileName(), "Out/Pic.tif");
        EXPECT_TRUE(contains(log.infos(), "Driver selected MYDRIVER"));
    }
    // The other driver keyword, with FILENAME before NAME.
    resetSceneFileSettings();
    World *world = load(options + "DRIVER_EXR\n{\n filename \"b.exr\"\n name MYDRIVER\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getOutputFileName(), "b.exr");

    // A driver of another name changes nothing.
    resetSceneFileSettings();
    breakRepeat();
    LogCapture log;
    world = load(options + "driver_tiff\n{\n name other\n filename \"x.tif\"\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getOutputFileName(), "image.tga");
    EXPECT_TRUE(contains(log.texts(google::GLOG_WARNING),
                         "Output file not found, using image.tga"));

    // Fewer than four words keep the earlier selection.
    resetSceneFileSettings();
    world = load("options\n{\n outputs \"RGBA RGBA filter keep\"\n}\n"
                 "options\n{\n outputs \"RGBA RGBA\"\n}\n" +
                 std::string(kCameraNode) + "driver_tiff\n{\n name keep\n filename \"k.tif\"\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getOutputFileName(), "k.tif");
}

TEST_F(SceneLoader, MissingFileGivesBothErrors) {
    LogCapture log;
    const std::string path = dir_.file("nowhere.ass");
    EXPECT_EQ(readScene(path.c_str()), nullptr);
    EXPECT_EQ(log.errors(), (std::vector<std::string>{"Could not find file " + path,
                                                      "Could not read file: " + path}));

    // A directory and a FIFO are no scene files: refused at once, without
    // waiting for a writer on the FIFO.
    const std::string fifo = dir_.file("pipe.ass");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &other : {dir_.path(), fifo}) {
        LogCapture otherLog;
        EXPECT_EQ(readScene(other.c_str()), nullptr);
        EXPECT_EQ(otherLog.errors(),
                  (std::vector<std::string>{"The scene " + other + " is not a regular file",
                                            "Could not read file: " + other}));
    }
    LogCapture imageLog;
    EXPECT_EQ(ReadImageTGA(fifo, nullptr, nullptr), nullptr);
    EXPECT_EQ(imageLog.errors(),
              std::vector<std::string>{"TGA file \"" + fifo + "\" is not a regular file"});

    // UTF-16 (and binary) text holds zero bytes: not a text scene, said so.
    const std::string utf16 = dir_.file("wide.ass");
    std::vector<unsigned char> bytes = {0xFF, 0xFE};
    for (char c : std::string(kCameraNode)) {
        bytes.push_back(static_cast<unsigned char>(c));
        bytes.push_back(0);
    }
    ASSERT_TRUE(writeFileBytes(utf16, bytes));
    LogCapture wideLog;
    EXPECT_EQ(readScene(utf16.c_str()), nullptr);
    EXPECT_EQ(wideLog.errors(),
              (std::vector<std::string>{"The scene " + utf16 +
                                            " is not a text file (it holds zero bytes, as "
                                            "UTF-16 and binary files do)",
                                        "Could not read file: " + utf16}));

    // Binary without a zero byte still holds control bytes.
    const std::string binary = dir_.file("noise.ass");
    ASSERT_TRUE(writeFileBytes(binary, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0x01, 0xC3}));
    LogCapture binaryLog;
    EXPECT_EQ(readScene(binary.c_str()), nullptr);
    EXPECT_EQ(binaryLog.errors(),
              (std::vector<std::string>{"The scene " + binary +
                                            " is not a text file (it holds control bytes, as "
                                            "binary files do)",
                                        "Could not read file: " + binary}));
}

TEST_F(SceneLoader, MissingCameraIsRefused) {
    const std::string path = dir_.file("nocam.ass");
    EXPECT_EQ(refuse("sphere\n{\n}\n", "nocam.ass"),
              (std::vector<std::string>{"Couldn't find a camera reading file " + path,
                                        "Could not read file: " + path}));
}

TEST_F(SceneLoader, ReadsAnyCaseCommentsAndSkipsWhatItDoesNotKnow) {
    World *world = load("# a comment line\n"
                        "   # an indented one\n"
                        "OpTiOnS\n{\n XRes 200\n // a tokenizer comment\n}\n" +
                        std::string(kCameraNode) +
                        "# between nodes\n"
                        "gaussian_filter\n{\n name f\n inner\n {\n  sphere { radius 9 }\n }\n}\n"
                        "sphere\n{ radius 5\n name first\n unknown_param 1 2 3\n}\n"
                        "}\n"
                        "sphere\n{\n name skipped\n}\n"
                        "Sphere\n{\n NAME last\n RaDiUs 2\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getResolution()[0], 200);
    // The filter with its nested block is skipped; the stray brace takes the
    // node after it along.
    ASSERT_EQ(world->primitives.size(), 2u);
    const auto *first = static_cast<const SpherePrimitive *>(world->primitives[0]);
    const auto *last = static_cast<const SpherePrimitive *>(world->primitives[1]);
    EXPECT_EQ(first->name, "FIRST");
    EXPECT_EQ(first->radius, 1.0f); // the radius on the brace line is ignored
    EXPECT_EQ(last->name, "LAST");
    EXPECT_EQ(last->radius, 2.0f);
}

TEST_F(SceneLoader, BindsShapesAfterTheLastNodeAndNumbersThem) {
    World *world = load(std::string(kCameraNode) +
                        "sphere\n{\n name ball\n shader \"lateSG\"\n}\n"
                        "plane\n{\n name floor\n shader \"FLOORSG\"\n}\n"
                        "sphere\n{\n name direct\n shader \"red\"\n}\n"
                        "MayaShadingEngine\n{\n name LateSG\n beauty red\n}\n"
                        "mayaShadingEngine\n{\n name floorSG\n beauty missing\n}\n"
                        "lambert\n{\n name Red\n}\n");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->materials.size(), 1u);
    Material *red = world->materials[0];
    EXPECT_EQ(red->name, "RED");

    ASSERT_EQ(world->primitives.size(), 4u); // two spheres, then the plane's two triangles
    ASSERT_EQ(world->meshes.size(), 1u);
    EXPECT_EQ(world->primitives[0]->name, "BALL");
    EXPECT_EQ(world->primitives[0]->id, 0);
    EXPECT_EQ(world->meshes[0]->id, 1);
    EXPECT_EQ(world->primitives[2]->id, 2);
    EXPECT_EQ(world->primitives[3]->id, 3);
    EXPECT_EQ(world->primitives[1]->id, 4);

    // Engines are found without regard to case, even when defined later.
    EXPECT_EQ(world->primitives[0]->getMaterial(), red);
    // A shader naming a material directly binds it when no engine has that
    // name; an engine whose material is missing binds nothing.
    EXPECT_EQ(world->primitives[1]->getMaterial(), red);
    EXPECT_EQ(world->meshes[0]->getMaterial(), nullptr);
    EXPECT_EQ(world->primitives[2]->getMaterial(), nullptr);
}

TEST_F(SceneLoader, ReadsLights) {
    World *world = load(std::string(kCameraNode) +
                        "point_light\n{\n name key\n}\n"
                        "point_light\n{\n intensity 40\n color 0.5 0.25 1\n matrix\n"
                        "  1 0 0 0\n  0 1 0 0\n  0 0 1 0\n  5 6 7 1\n}\n"
                        "area_light\n{\n matrix 1 0 0 0 0 1 0 0 0 0 1 0 -1 -2 -3 1\n}\n"
                        "ambient_light\n{\n name amb\n matrix\n  1 0 0 0\n  0 1 0 0\n"
                        "  0 0 1 0\n  4 4 4 1\n intensity 0.5\n color 0.1 0.2 0.3\n}\n");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->lights.size(), 3u);
    const LocalLight *key = world->lights[0];
    EXPECT_EQ(key->name, "KEY");
    EXPECT_EQ(key->getWorldPosition(), Point3f(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(key->intensity, 10.0f);
    EXPECT_EQ(key->color, Vec3f(1.0f, 1.0f, 1.0f));

    const LocalLight *moved = world->lights[1];
    EXPECT_EQ(moved->getWorldPosition(), Point3f(5.0f, 6.0f, 7.0f));
    EXPECT_EQ(moved->intensity, 40.0f);
    EXPECT_EQ(moved->color, Vec3f(0.5f, 0.25f, 1.0f));
    EXPECT_EQ(world->lights[2]->getWorldPosition(), Point3f(-1.0f, -2.0f, -3.0f));

    // The ambient light has no matrix: those lines are skipped one by one.
    ASSERT_NE(world->ambientLight, nullptr);
    EXPECT_EQ(world->ambientLight->name, "AMB");
    EXPECT_EQ(world->ambientLight->intensity, 0.5f);
    EXPECT_EQ(world->ambientLight->color, Vec3f(0.1f, 0.2f, 0.3f));
}

TEST_F(SceneLoader, UnreadableImageFileNodeLeavesTheLoadGoing) {
    World *world = load(std::string(kCameraNode) +
                        "MayaFile\n{\n name file1\n filename \"Missing/Tex.tga\"\n}\n"
                        "sphere\n{\n}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_TRUE(world->images.empty());
    EXPECT_EQ(world->primitives.size(), 1u);
}

TEST_F(SceneLoader, RefusesUnusableResolutions) {
    struct Case {
        const char *options;
        const char *message;
    };
    const Case cases[] = {
        {"xres 0", "Invalid resolution 0 x 600"},
        {"yres 0", "Invalid resolution 600 x 0"},
        {"xres 70000", "Invalid resolution 70000 x 600"},
        {"xres -640\n yres 480", "Invalid resolution 4294966656 x 480"},
        // 65535 x 21846 x 3 no longer fits in 32 bits.
        {"xres 65535\n yres 21846", "Invalid resolution 65535 x 21846"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        resetSceneFileSettings();
        const std::vector<std::string> errors =
            refuse("options\n{\n " + std::string(c.options) + "\n}\n" + kCameraNode,
                   "res" + std::to_string(n++) + ".ass");
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_EQ(errors[0], c.message);
    }
    // The largest film that still fits.
    resetSceneFileSettings();
    World *world = load("options\n{\n xres 65535\n yres 21845\n}\n" + std::string(kCameraNode));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getResolution()[1], 21845);
}

// Randomly damaged copies of a valid scene must each load or be refused,
// without crashing or touching memory outside their lists (the sanitizer
// build checks the latter).
TEST_F(SceneLoader, SurvivesDamagedFiles) {
    const std::string valid =
        "options\n{\n xres 64\n yres 48\n camera \"cam\"\n outputs \"RGBA RGBA f drv\"\n}\n"
        "driver_tiff\n{\n name drv\n filename \"out.tif\"\n}\n"
        "persp_camera\n{\n name cam\n fov 40\n matrix\n  1 0 0 0\n  0 1 0 0\n  0 0 1 0\n"
        "  0 1 8 1\n}\n"
        "point_light\n{\n name key\n intensity 20\n color 1 1 1\n matrix\n  1 0 0 0\n"
        "  0 1 0 0\n  0 0 1 0\n  3 3 3 1\n}\n"
        "ambient_light\n{\n intensity 0.1\n}\n"
        "mayafile\n{\n name file1\n filename \"tex.tga\"\n}\n"
        "aiStandard\n{\n name mat\n Kd 0.8\n Kd_color file1\n Ks_color 1 1 1\n Kr 0.2\n}\n"
        "blinn\n{\n name b\n Kd_color 0.2 0.3 0.4\n power 8\n}\n"
        "MayaShadingEngine\n{\n name matSG\n beauty mat\n}\n"
        "sphere\n{\n name ball\n radius 0.5\n shader \"matSG\"\n}\n"
        "plane\n{\n width 4\n height 2\n shader \"matSG\"\n}\n"
        "polymesh\n{\n name tri\n nsides 2 1 UINT\n  3 3\n vidxs 6 1 UINT\n  0 1 2 0 2 3\n"
        " vlist 4 1 POINT\n  0 0 0 1 0 0 1 1 0 0 1 0\n nidxs 6 1 UINT\n  0 0 0 0 0 0\n"
        " nlist 1 1 VECTOR\n  0 0 1\n tlist 6 1 VECTOR\n"
        "  1 0 0 1 0 0 1 0 0 1 0 0 1 0 0 1 0 0\n uvlist 4 1 POINT2\n  0 0 1 0 1 1 0 1\n"
        " shader \"matSG\"\n}\n";
    const char *inserts[] = {"{", "}", "\"", "99999999999", "-2147483648", "2147483647",
                             "1e39", "-1", "nan", " 0 ", "\n", "#", "/*", "//", "--"};

    // A valid texture, so that damaged file names and channels meet a real one.
    const std::vector<unsigned char> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0,   0,   0,
                                            0, 1, 0, 1, 0, 24, 0, 255, 0, 255};
    ASSERT_TRUE(writeFileBytes(dir_.file("tex.tga"), tga));
    ScopedChdir inDir(dir_.path());
    ASSERT_TRUE(inDir.ok());
    {
        std::unique_ptr<World> world(readScene(write(valid).c_str()));
        ASSERT_NE(world, nullptr);
        EXPECT_EQ(world->primitives.size(), 5u);
    }

    std::mt19937 rng(20240611u);
    auto pick = [&](size_t n) { return n == 0 ? size_t(0) : static_cast<size_t>(rng() % n); };
    const int savedLevel = FLAGS_minloglevel;
    FLAGS_minloglevel = google::GLOG_FATAL;
    const auto start = std::chrono::steady_clock::now();
    int loaded = 0;
    for (int i = 0; i < 300; ++i) {
        std::string text = valid;
        const int edits = 1 + static_cast<int>(pick(4));
        for (int e = 0; e < edits; ++e) {
            const size_t at = pick(text.size() + 1);
            switch (pick(4)) {
            case 0: // flip a byte
                if (at < text.size()) text[at] = static_cast<char>(rng() & 0xff);
                break;
            case 1: // cut the file short
                text.resize(at);
                break;
            case 2: // insert something awkward
                text.insert(at, inserts[pick(sizeof inserts / sizeof inserts[0])]);
                break;
            default: // drop a stretch
                text.erase(at, pick(40));
                break;
            }
        }
        resetSceneFileSettings();
        if (std::unique_ptr<World>(readScene(write(text, "damaged.ass").c_str())) != nullptr)
            ++loaded;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    FLAGS_minloglevel = savedLevel;
    // Some damage is harmless, some is fatal to the scene: both paths ran.
    EXPECT_GT(loaded, 0);
    EXPECT_LT(loaded, 300);
    EXPECT_LT(seconds, 10.0);
}

// Numbers that make no sense are named with a Warning: a camera that cannot
// give rays is refused when selected; a sphere that is no sphere, or a
// light placed by a matrix that is not finite, is kept out of the render.
TEST_F(SceneLoader, NonFiniteAndDegenerateNumbersAreNamed) {
    const std::string nanMatrix = " matrix\n -nan 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n";
    const struct { const char *camera, *warning; } cameras[] = {
        {" matrix\n -nan 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n", "Camera c: matrix is not finite or not invertible"},
        // Written without a sign, as C programs print them: numbers too.
        {" matrix\n 1 0 0 0 0 1 0 0 0 0 nan 0 0 0 0 1\n", "Camera c: matrix is not finite or not invertible"},
        {" fov Infinity\n", "Camera c: fov inf is outside (0, 180)"},
        {" matrix\n 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n", "Camera c: matrix is not finite or not invertible"},
        {" fov 180\n", "Camera c: fov 180 is outside (0, 180)"},
        {" fov 0\n", "Camera c: fov 0 is outside (0, 180)"},
    };
    int n = 0;
    for (const auto &c : cameras) {
        SCOPED_TRACE(c.camera);
        resetSceneFileSettings();
        breakRepeat();
        LogCapture log;
        const std::string name = "cam" + std::to_string(n++) + ".ass";
        EXPECT_EQ(refuse("persp_camera\n{\n name c\n" + std::string(c.camera) + "}\n", name),
                  (std::vector<std::string>{"Camera c cannot produce rays",
                                            "Could not read file: " + dir_.file(name)}));
        EXPECT_EQ(log.texts(google::GLOG_WARNING), std::vector<std::string>{c.warning});
    }

    resetSceneFileSettings();
    breakRepeat();
    LogCapture log;
    World *world = load(std::string(kCameraNode) + "sphere\n{\n name a\n radius -nan\n}\n" +
                        "sphere\n{\n name e\n radius nan\n}\n" +
                        "sphere\n{\n name f\n radius inf\n}\n" +
                        "sphere\n{\n name b\n radius -1\n}\n" +
                        "sphere\n{\n name c\n radius 0\n}\n" +
                        "sphere\n{\n name d\n center 0 0 -5\n}\n" +
                        "point_light\n{\n name l\n" + nanMatrix + "}\n" +
                        "polymesh\n{\n name m\n vidxs 3 1 UINT 0 1 2\n"
                        " vlist 3 1 VECTOR 0 0 0 1 -nan 0 0 1 0\n}\n" +
                        "polymesh\n{\n name n\n vidxs 3 1 UINT 0 1 2\n"
                        " vlist 3 1 VECTOR 0 0 0 1 nan 0 0 1 0\n}\n" +
                        "ginstance\n{\n name i\n node d\n" + nanMatrix + "}\n");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->primitives.size(), 3u); // sphere D and the meshes' triangles
    EXPECT_EQ(world->primitives[0]->name, "D");
    EXPECT_TRUE(world->lights.empty());
    EXPECT_EQ(log.texts(google::GLOG_WARNING),
              (std::vector<std::string>{
                  "Sphere A: radius -nan makes no sphere; it is not drawn",
                  "Sphere E: radius nan makes no sphere; it is not drawn",
                  "Sphere F: radius inf makes no sphere; it is not drawn",
                  "Sphere B: radius -1 makes no sphere; it is not drawn",
                  "Sphere C: radius 0 makes no sphere; it is not drawn",
                  "Light L: matrix is not finite or not invertible; it is not used",
                  "Mesh M: vlist holds numbers that are not finite; their triangles are not drawn",
                  "Mesh N: vlist holds numbers that are not finite; their triangles are not drawn",
                  "Instance I: matrix is not finite or not invertible; it is not drawn",
                  "Output file not found, using image.tga"}));
}
