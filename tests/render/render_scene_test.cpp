// End-to-end renders of tiny scenes through renderSceneFromFile, checked
// pixel by pixel against the shading formulas worked out here in float.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "parsers/scene_nodes.h"
#include "shapes/mesh.h"
#include "render/render_scene.h"
#include "support/scoped_env.h"
#include "support/log_capture.h"

using namespace render_test;

namespace {

constexpr float kAmbientScale = 0.005f;

// Diffuse plus specular of one unblocked point light at P with normal n,
// seen along viewDir, by the Lambert and Phong formulas.
Vec3f directLight(const Point3f &P, const Vec3f &n, const Vec3f &viewDir, const Point3f &Lp,
                  float intensity, const Vec3f &Kd, const Vec3f &Ks, float shininess) {
    const Vec3f dv = P - Lp;
    const float d2 = dv.x * dv.x + dv.y * dv.y + dv.z * dv.z;
    const Vec3f l = vmath::normalized(Lp - P);
    const float nl = dot(n, l);
    const float cosine = nl > 0.0f ? nl : 0.0f;
    const Vec3f r = vmath::normalized(2.0f * (nl * n) - l);
    const float s = dot(r, vmath::normalized(-viewDir));
    const float highlight = s > 0.0f ? std::pow(s, shininess) : 0.0f;
    const float falloff = intensity / d2;
    return Vec3f((Kd.x * falloff) * cosine + (Ks.x * falloff) * highlight,
                 (Kd.y * falloff) * cosine + (Ks.y * falloff) * highlight,
                 (Kd.z * falloff) * cosine + (Ks.z * falloff) * highlight);
}

void expectNear(const Vec3f &actual, const Vec3f &expected, float relTol, const char *what) {
    for (int c = 0; c < 3; ++c) {
        const float tol = relTol * std::max(1.0f, std::fabs(expected[c]));
        EXPECT_NEAR(actual[c], expected[c], tol) << what << " channel " << c;
    }
}

void expectFloatEq(const Vec3f &actual, const Vec3f &expected) {
    EXPECT_FLOAT_EQ(actual.x, expected.x);
    EXPECT_FLOAT_EQ(actual.y, expected.y);
    EXPECT_FLOAT_EQ(actual.z, expected.z);
}

const Vec3f kBlack(0.0f, 0.0f, 0.0f);

// A 10 x 10 film with a 90 degree view: pixel (5, 5) looks straight down -z,
// pixel (5, 6) hits the floor y = -1 at (0, -1, -5).
std::string floorScene(const std::string &floorBody, const std::string &extra) {
    return header(10, 10, 90) + pointLight(0, 1, -5, 8) +
           material("aiStandard", "floorMat", floorBody) + floorPlane(-1, "floorMatSG") + extra;
}

const char kDiffuseFloor[] = " Kd 0.5\n Kd_color 1 1 1\n Ka_color 0.2 0.2 0.2\n"
                             " Kr 1\n Kr_color 1 1 1\n";
const char kShinyFloor[] = " Kd 0.5\n Kd_color 1 1 1\n Ks 1\n Ks_color 1 1 1\n Kshi 1\n"
                           " Ka_color 0.2 0.2 0.2\n";

} // namespace

TEST(RenderScene, LightAboveDiffuseFloor) {
    const Render r = renderText(floorScene(kDiffuseFloor, ""));
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.width, 10);
    ASSERT_EQ(r.height, 10);
    EXPECT_NE(r.extraPlane, nullptr);

    // Right below the light at distance 2 with intensity 8: 0.5 * 8 / 4 = 1,
    // plus the ambient 0.2 * 0.005. The mirror ray goes into empty space.
    const float ambient = 0.2f * kAmbientScale;
    expectNear(r.pixel(5, 6), Vec3f(1.0f + ambient, 1.0f + ambient, 1.0f + ambient), 1e-5f,
               "below the light");

    // Every pixel, row 0 at the top: the upper half sees nothing, the lower
    // half the floor lit by the inverse-square Lambert term.
    const Camera *camera = r.world->getCamera();
    for (int j = 0; j < r.height; ++j)
        for (int i = 0; i < r.width; ++i) {
            const vmath::Ray ray = camera->generateRay(static_cast<float>(i), static_cast<float>(j));
            if (!(ray.direction.y < 0.0f)) {
                EXPECT_EQ(r.pixel(i, j), kBlack) << i << "," << j;
                continue;
            }
            const Point3f P = ray.at((-1.0f - ray.origin.y) / ray.direction.y);
            Vec3f expected = directLight(P, Vec3f(0, 1, 0), ray.direction, Point3f(0, 1, -5), 8.0f,
                                         Vec3f(0.5f, 0.5f, 0.5f), kBlack, 20.0f);
            expected += Vec3f(ambient, ambient, ambient);
            expectNear(r.pixel(i, j), expected, 1e-5f, "floor");
        }
}

TEST(RenderScene, SphereLitHeadOnKeepsValuesAboveOne) {
    // Light at the eye, sphere of radius 1 at distance 5: the centre ray hits
    // (0, 0, -4) head-on, I / d^2 = 32 / 16 = 2, cosine 1 and highlight 1.
    // The mirror ray goes back into empty space and adds nothing.
    const std::string scene =
        header(10, 10, 90) + pointLight(0, 0, 0, 32) +
        material("aiStandard", "ball",
                 " Kd 1\n Kd_color 0.6 0.4 0.2\n Ks 1\n Ks_color 0.25 0.5 0.75\n Kshi 20\n"
                 " Ka_color 0.2 0.4 0.6\n Kr 1\n Kr_color 1 1 1\n") +
        sphere(0, 0, -5, 1, "ballSG");
    const Render r = renderText(scene);
    ASSERT_TRUE(r.ok());
    const Vec3f Kd(0.6f, 0.4f, 0.2f), Ks(0.25f, 0.5f, 0.75f), Ka(0.2f, 0.4f, 0.6f);
    Vec3f expected;
    for (int c = 0; c < 3; ++c) expected[c] = (Kd[c] * 2.0f + Ks[c] * 2.0f) + Ka[c] * kAmbientScale;
    expectFloatEq(r.pixel(5, 5), expected);
    EXPECT_GT(r.pixel(5, 5).x, 1.0f); // not clamped
    EXPECT_GT(r.pixel(5, 5).z, 1.0f);

    // Corner rays miss the sphere: black, with nothing as background.
    EXPECT_EQ(r.pixel(0, 0), kBlack);
    EXPECT_EQ(r.pixel(9, 9), kBlack);
}

TEST(RenderScene, MissingTextureTakesTheDefaultColour) {
    // A diffuse channel naming a texture that does not exist takes the
    // parameter's default (0.5 grey): the diffuse term 0.5 * 2 * 1.
    const std::string scene = header(10, 10, 90) + pointLight(0, 0, 0, 32) +
                              material("aiStandard", "ball", " Kd_color noSuchMap\n Ka_color 0 0 0\n") +
                              sphere(0, 0, -5, 1, "ballSG");
    const Render r = renderText(scene);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.pixel(5, 5), Vec3f(1.0f, 1.0f, 1.0f));
}

TEST(RenderScene, RefractionAlongTheAxisGoesStraightThrough) {
    // A clear sphere (only Kt) in front of a lit wall at z = -10; the light
    // sits between sphere and wall, 2 in front of the wall. Along the axis the
    // ray enters and leaves the sphere unbent and reaches the wall at depth 0:
    // Kt * (Kt * (0.5 * 8 / 4 + 0.2 * 0.005)).
    const std::string scene =
        header(10, 10, 90) + pointLight(0, 0, -8, 8) +
        material("aiStandard", "glass", " Kd 0\n Ka_color 0 0 0\n Kt 1\n Kt_color 1 1 1\n") +
        material("aiStandard", "back", " Kd 0.5\n Kd_color 1 1 1\n Ka_color 0.2 0.2 0.2\n") +
        sphere(0, 0, -5, 1, "glassSG") + wall(-10, "backSG");
    const Render r = renderText(scene);
    ASSERT_TRUE(r.ok());
    const float v = 1.0f + 0.2f * kAmbientScale;
    expectNear(r.pixel(5, 5), Vec3f(v, v, v), 1e-5f, "through the sphere");
}

TEST(RenderScene, BlockedLightLeavesOnlyAmbient) {
    const float ambient = 0.2f * kAmbientScale;
    const Vec3f ambientOnly(ambient, ambient, ambient);

    const Render open = renderText(floorScene(kShinyFloor, ""));
    ASSERT_TRUE(open.ok());
    const vmath::Ray ray = open.world->getCamera()->generateRay(5.0f, 6.0f);
    const Point3f P = ray.at((-1.0f - ray.origin.y) / ray.direction.y);
    Vec3f expected = directLight(P, Vec3f(0, 1, 0), ray.direction, Point3f(0, 1, -5), 8.0f,
                                 Vec3f(0.5f, 0.5f, 0.5f), Vec3f(1, 1, 1), 1.0f);
    expected += ambientOnly;
    expectNear(open.pixel(5, 6), expected, 1e-5f, "unblocked");

    // A small unshaded sphere halfway between floor and light blocks both
    // terms.
    const Render between = renderText(floorScene(kShinyFloor, sphere(0, 0, -5, 0.3f, "")));
    ASSERT_TRUE(between.ok());
    EXPECT_EQ(between.pixel(5, 6), ambientOnly);

    // The shadow ray starts 0.01 off the floor but runs the full distance, so
    // a sphere whose bottom is 0.005 beyond the light blocks it as well...
    const Render behind = renderText(floorScene(kShinyFloor, sphere(0, 1.505f, -5, 0.5f, "")));
    ASSERT_TRUE(behind.ok());
    EXPECT_EQ(behind.pixel(5, 6), ambientOnly);

    // ...and one 0.02 beyond it does not.
    const Render beyond = renderText(floorScene(kShinyFloor, sphere(0, 1.52f, -5, 0.5f, "")));
    ASSERT_TRUE(beyond.ok());
    EXPECT_EQ(beyond.pixel(5, 6), open.pixel(5, 6));
}

TEST(RenderScene, LambertBlinnAndUnboundShapes) {
    // Light at (0, 4, 0) seen from the hit (0, 0, -4) with normal (0, 0, 1):
    // I / d^2 = 32 / 32 = 1, and cosine = s = 1 / sqrt(2).
    const Vec3f l = vmath::normalized(Vec3f(0.0f, 4.0f, 4.0f));
    const float cosine = l.z;
    const Vec3f r = vmath::normalized(2.0f * (cosine * Vec3f(0, 0, 1)) - l);
    const float s = r.z;
    auto render = [](const std::string &materialNodes, const std::string &shader) {
        return renderText(header(10, 10, 90) + pointLight(0, 4, 0, 32) + materialNodes +
                          sphere(0, 0, -5, 1, shader));
    };

    // Lambert: its colour as read (not scaled by Kd), no specular, no ambient
    // (its ambient channel stays black), no mirror or refraction.
    const Render lambert =
        render(material("lambert", "lam", " Kd 0.8\n Kd_color 0.5 0.6 0.7\n Ka_color 1 1 1\n"),
               "lamSG");
    ASSERT_TRUE(lambert.ok());
    expectFloatEq(lambert.pixel(5, 5), Vec3f(0.5f * cosine, 0.6f * cosine, 0.7f * cosine));

    // BlinnPhong: the diffuse part's colour, its own specular colour and power.
    const Render blinn = render(material("blinn", "bp",
                                         " Kd 0.8\n Kd_color 0.5 0.6 0.7\n Ks 0.5\n"
                                         " Ks_color 0.2 0.4 0.6\n power 2\n"),
                                "bpSG");
    ASSERT_TRUE(blinn.ok());
    const float highlight = std::pow(s, 2.0f);
    expectFloatEq(blinn.pixel(5, 5),
                  Vec3f(0.5f * cosine + 0.2f * highlight, 0.6f * cosine + 0.4f * highlight,
                        0.7f * cosine + 0.6f * highlight));

    // No material: the default grey of a bare AISTANDARD node.
    const Render bare = render("", "");
    ASSERT_TRUE(bare.ok());
    const float grey = 0.5f * cosine + 0.5f * kAmbientScale;
    expectFloatEq(bare.pixel(5, 5), Vec3f(grey, grey, grey));

    // A shader name that binds nothing also renders grey.
    const Render unbound = render("", "noSuchSG");
    ASSERT_TRUE(unbound.ok());
    EXPECT_EQ(unbound.pixel(5, 5), bare.pixel(5, 5));
}

TEST(RenderScene, ProgressAfterEveryRow) {
    const Render four = renderText(header(3, 4, 45));
    ASSERT_TRUE(four.ok());
    EXPECT_EQ(four.out, "\r0.250000\r0.500000\r0.750000\r1.000000");

    const Render one = renderText(header(1, 1, 45));
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(one.out, "\r1.000000");
    EXPECT_EQ(one.pixel(0, 0), kBlack);
}

namespace {

bool startsWith(const std::string &s, const std::string &prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The seconds of the "Time taken: ...s" record, or -1 when there is none.
double timeTaken(const std::vector<std::string> &infos) {
    for (const std::string &t : infos)
        if (startsWith(t, "Time taken: ") && t.size() > 13 && t.back() == 's') {
            const std::string number = t.substr(12, t.size() - 13);
            char *end = nullptr;
            const double v = std::strtod(number.c_str(), &end);
            if (end == number.c_str() + number.size()) return v;
        }
    return -1.0;
}

std::vector<std::string> withPrefix(const std::vector<std::string> &texts, const std::string &p) {
    std::vector<std::string> out;
    for (const std::string &t : texts)
        if (startsWith(t, p)) out.push_back(t);
    return out;
}

} // namespace

TEST(RenderScene, LogsTimeAndTriangleTests) {
    {
        ScopedEnv tree("VORTAN_ACCEL", "kdtree");
        LogCapture log;
        const Render r = renderText(header(4, 4, 90) + pointLight(0, 0, 0, 10) +
                                    sphere(0, 0, -5, 1, "") + sphere(2, 0, -5, 1, ""));
        ASSERT_TRUE(r.ok());
        EXPECT_GE(timeTaken(log.infos()), 0.0);
        EXPECT_EQ(withPrefix(log.infos(), "Triangles intersected: "),
                  std::vector<std::string>{"Triangles intersected: 0"});
    }
    // Counted on the linear search. One ray through raster (0, 0) past a
    // mesh of 6 triangles behind the camera: one query, 6 tests.
    ScopedEnv linear("VORTAN_ACCEL", "none");
    {
        LogCapture log;
        const Render r = renderText(header(1, 1, 90) + pointLight(0, 0, -5, 10) +
                                    gridMesh(3, 1, 10, ""));
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(g_intersected, 6u);
        EXPECT_EQ(withPrefix(log.infos(), "Triangles intersected: "),
                  std::vector<std::string>{"Triangles intersected: 6"});
    }
    // The same mesh in front: the primary hit and one shadow query for the
    // one light; the default material's mirror and transmission weights are
    // black, so no further rays: 2 queries.
    {
        LogCapture log;
        const Render r = renderText(header(1, 1, 90) + pointLight(0, 0, -5, 10) +
                                    gridMesh(3, 1, -10, ""));
        ASSERT_TRUE(r.ok());
        EXPECT_NE(r.pixel(0, 0), kBlack);
        EXPECT_EQ(withPrefix(log.infos(), "Triangles intersected: "),
                  std::vector<std::string>{"Triangles intersected: 12"});
    }
#if VORTAN_HAVE_EMBREE
    // Embree's triangle tests are not counted: the line counts its queries,
    // the same two.
    {
        ScopedEnv embree("VORTAN_ACCEL", "embree");
        LogCapture log;
        const Render r = renderText(header(1, 1, 90) + pointLight(0, 0, -5, 10) +
                                    gridMesh(3, 1, -10, ""));
        ASSERT_TRUE(r.ok());
        EXPECT_NE(r.pixel(0, 0), kBlack);
        EXPECT_EQ(withPrefix(log.infos(), "Triangles intersected: "), std::vector<std::string>{});
        EXPECT_EQ(withPrefix(log.infos(), "Ray queries answered by Embree: "),
                  std::vector<std::string>{"Ray queries answered by Embree: 2"});
    }
#endif
}

TEST(RenderScene, FailedLoadLeavesOutputSlots) {
    // The error path waits for enter on a terminal: never let it wait on one.
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("missing.ass");

    float rgbSentinel = 0.0f, extraSentinel = 0.0f;
    float *rgb = &rgbSentinel;
    float *extraPlane = &extraSentinel;
    World *world = reinterpret_cast<World *>(&rgbSentinel);
    LogCapture log;
    std::string err;
    {
        ScopedChdir cd(dir.path());
        testing::internal::CaptureStderr();
        renderSceneFromFile(&rgb, &extraPlane, &world, path.c_str());
        err = testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(world, nullptr);
    EXPECT_EQ(rgb, &rgbSentinel);
    EXPECT_EQ(extraPlane, &extraSentinel);

    const std::string tail = "Error reading file " + path + ". Press enter to exit";
    ASSERT_GE(err.size(), tail.size());
    EXPECT_EQ(err.substr(err.size() - tail.size()), tail);
    const std::vector<std::string> errors = log.errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), "Could not read file: " + path);

    // Nothing was rendered or reported.
    EXPECT_LT(timeTaken(log.infos()), 0.0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("report.ma")));
}

TEST(RenderScene, SecondSceneInOneProcess) {
    // Each render shuts logging down at its end, which also forgets the log
    // sinks registered so far: every render gets a capture of its own.
    std::vector<std::string> firstLog, secondLog;
    Render first, second;
    {
        ScopedEnv tree("VORTAN_ACCEL", "kdtree");
        LogCapture log;
        first = renderText(header(10, 10, 90) + pointLight(0, 0, 0, 32) +
                           material("aiStandard", "ball",
                                    " Kd_color 0.25 0.25 0.25\n Ka_color 0 0 0\n") +
                           sphere(0, 0, -5, 1, "ballSG"));
        firstLog = log.infos();
    }
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first.pixel(5, 5), Vec3f(0.5f, 0.5f, 0.5f));

    // Another scene, with another resolution and a mesh: its own buffers, a
    // fresh triangle count (counted on the linear search), the same log
    // records again.
    {
        ScopedEnv linear("VORTAN_ACCEL", "none");
        LogCapture log;
        second = renderText(header(1, 1, 90) + pointLight(0, 0, -5, 10) + gridMesh(3, 1, 10, ""));
        secondLog = log.infos();
    }
    ASSERT_TRUE(second.ok());
    EXPECT_NE(second.rgb, first.rgb);
    EXPECT_NE(second.world, first.world);
    EXPECT_EQ(second.width, 1);
    EXPECT_EQ(second.out, "\r1.000000");
    EXPECT_EQ(first.pixel(5, 5), Vec3f(0.5f, 0.5f, 0.5f)); // the first frame is kept

    EXPECT_EQ(withPrefix(firstLog, "Triangles intersected: "),
              std::vector<std::string>{"Triangles intersected: 0"});
    EXPECT_EQ(withPrefix(secondLog, "Triangles intersected: "),
              std::vector<std::string>{"Triangles intersected: 6"});
    EXPECT_GE(timeTaken(secondLog), 0.0);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VORTAN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VORTAN_SANITIZED 1
#endif
#endif

TEST(RenderScene, FilmThatCannotBeAllocatedIsRefusedBeforeAnythingIsWritten) {
#ifdef VORTAN_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve address space that a memory limit would deny";
#else
    // In a child process limited to 2 GB of address space, a 30000 x 30000
    // film (14.4 GB) cannot be had: an Error with its size, no frame, and no
    // report written.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeReportTemplate(dir.path());
    const std::string path = dir.file("huge.ass");
    const std::string text = header(30000, 30000, 45) + sphere(0, 0, -5, 1, "");
    ASSERT_TRUE(writeFileBytes(path, std::vector<unsigned char>(text.begin(), text.end())));
    resetSceneFileSettings();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{rlim_t{2} << 30, rlim_t{2} << 30};
        if (setrlimit(RLIMIT_AS, &limit) != 0 || chdir(dir.path().c_str()) != 0) _exit(3);
        LogCapture log;
        float *rgb = nullptr, *extra = nullptr;
        World *world = nullptr;
        renderSceneFromFile(&rgb, &extra, &world, path.c_str());
        const bool said = log.errors() == std::vector<std::string>{
                                              "Cannot allocate the film of 30000 x 30000 "
                                              "pixels (14.40 GB)"};
        _exit(rgb == nullptr && said ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::FILE *report = std::fopen(dir.file("report.ma").c_str(), "rb");
    EXPECT_EQ(report, nullptr);
    if (report != nullptr) std::fclose(report);
#endif
}
