// The frame loop and its environment settings: the picture and the count of
// ray/triangle tests do not depend on the number of render threads, nor
// (for the picture) on the accelerator; the progress text stays one
// non-decreasing record per row; unusable settings fall back with a Warning.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bvh/accelerator_choice.h"
#include "bvh/kdtreeaccel.h"
#include "util/error.h"
#include "render/frame_scenes.h"
#include "support/log_capture.h"

using namespace frame_test;

namespace {

const int kThreadCounts[] = {1, 2, 3, 7};

// Renders the scene loaded by `load` under every accelerator at every
// thread count. Under one accelerator all frames are the same bit for bit,
// and so is the test count. The linear search and the kd-tree give the same
// frame; Embree's triangle test picks another triangle now and then where a
// ray meets an edge or grazes a surface, so its frame may differ from theirs
// there, in at most one pixel in a thousand. Returns the counts of the
// linear search and of the kd-tree.
std::vector<uint32_t>
expectSameFrames(const std::function<std::unique_ptr<World>(const char *)> &load) {
    Frame reference;
    std::vector<uint32_t> counts;
    for (const char *accel : accelerators()) {
        SCOPED_TRACE(std::string("VORTAN_ACCEL=") + accel);
        std::unique_ptr<World> world = load(accel);
        EXPECT_NE(world, nullptr);
        if (world == nullptr) return counts;
        EXPECT_EQ(world->accelerator == nullptr, std::string(accel) == "none");
        Frame first;
        for (int threads : kThreadCounts) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            const Frame f = renderFrameRows(*world, threads);
            if (first.rgb.empty()) first = f;
            EXPECT_EQ(firstDifference(first, f), "");
            EXPECT_EQ(f.tests, first.tests);
        }
        if (reference.rgb.empty()) reference = first;
        if (std::string(accel) == "embree")
            EXPECT_LE(differingPixels(reference, first), first.rgb.size() / 3 / 1000);
        else
            EXPECT_EQ(firstDifference(reference, first), "");
        counts.push_back(first.tests);
    }
    return counts;
}

} // namespace

TEST(FrameLoop, ExampleScenesIdenticalForEveryThreadCountAndAccelerator) {
    for (const char *scene : {"scenes/minimal.ass", "scenes/showcase.ass"}) {
        SCOPED_TRACE(scene);
        expectSameFrames([&](const char *accel) { return loadSceneFile(scene, accel); });
    }
}

TEST(FrameLoop, MeshSceneIdenticalForEveryThreadCountAndAccelerator) {
    const std::vector<uint32_t> counts =
        expectSameFrames([](const char *accel) { return loadMeshScene(accel); });
    // Both searches count their tests; the tree makes far fewer.
    ASSERT_GE(counts.size(), 2u);
    EXPECT_GT(counts[1], 0u);
    EXPECT_LT(counts[1], counts[0] / 4);
}

TEST(FrameLoop, SampledSceneIdenticalForEveryThreadCountAcceleratorAndRegion) {
    // The mesh scene under the format's conventions, with 2 x 2 samples
    // through a gaussian filter, a sphere of light, a sky casting shadows
    // and depth of field: every random number is keyed by pixel and sample.
    ScopedEnv conventions("VORTAN_CLASSIC", "0");
    const std::string extra =
        "options\n{\n xres 24\n yres 18\n camera \"cam\"\n AA_samples 2\n}\n"
        "point_light\n{\n name soft\n radius 0.5\n samples 2\n intensity 40\n" +
        render_test::translation(-2, 3, -3) + "}\n" +
        "skydome_light\n{\n name sky\n intensity 0.2\n}\n"
        "persp_camera\n{\n name cam\n fov 50\n aperture_size 0.05\n focus_distance 5\n}\n";
    const auto load = [&](const char *accel) {
        ScopedEnv env("VORTAN_ACCEL", accel);
        ScopedChdir cwd(VORTAN_SOURCE_DIR);
        return render_test::loadText(meshScene(24, 18) + extra);
    };
    expectSameFrames(load);

    // A region alone: its pixels are those of the whole frame, bit for bit
    // (the filter reaches the samples around it), and the rest is black.
    std::unique_ptr<World> whole = load("kdtree");
    ASSERT_NE(whole, nullptr);
    const Frame all = renderFrameRows(*whole, 2);
    ScopedEnv region("VORTAN_REGION", "7 3 16 14");
    std::unique_ptr<World> part = load("kdtree");
    ASSERT_NE(part, nullptr);
    const Frame cut = renderFrameRows(*part, 2);
    for (int j = 0; j < all.height; ++j)
        for (int i = 0; i < all.width; ++i)
            for (int c = 0; c < 3; ++c) {
                const size_t k = (static_cast<size_t>(j) * all.width + i) * 3 + c;
                const bool inside = i >= 7 && i <= 16 && j >= 3 && j <= 14;
                ASSERT_EQ(cut.rgb[k], inside ? all.rgb[k] : 0.0f) << i << ", " << j;
            }
}

TEST(FrameLoop, ProgressIsOneNonDecreasingRecordPerRow) {
    // Rows of uneven cost on the linear search, so that with 7 threads they
    // finish out of order.
    const int width = 48, height = 23;
    std::unique_ptr<World> world = loadMeshScene("none", width, height);
    ASSERT_NE(world, nullptr);
    const Frame f = renderFrameRows(*world, 7);

    std::vector<std::string> records;
    size_t pos = 0;
    while (pos < f.out.size()) {
        ASSERT_EQ(f.out[pos], '\r') << "at offset " << pos << " of: " << f.out;
        const size_t next = f.out.find('\r', pos + 1);
        records.push_back(f.out.substr(pos + 1, next == std::string::npos ? std::string::npos
                                                                          : next - pos - 1));
        pos = next == std::string::npos ? f.out.size() : next;
    }
    ASSERT_EQ(records.size(), static_cast<size_t>(height));
    double previous = 0.0;
    for (size_t k = 0; k < records.size(); ++k) {
        // Each record is "%f" of the fraction of rows done so far.
        char expected[32];
        std::snprintf(expected, sizeof expected, "%f",
                      static_cast<double>(static_cast<float>(k + 1) / static_cast<float>(height)));
        EXPECT_EQ(records[k], expected) << "record " << k;
        const double value = std::stod(records[k]);
        EXPECT_GE(value, previous) << "record " << k;
        previous = value;
    }
    EXPECT_EQ(records.back(), "1.000000");
}

namespace {

// Error and Warning drop a message equal to the last one reported; a
// different message first makes sure the next one is logged.
void breakRepeat() {
    static int n = 0;
    Warning("frame loop test marker %d", ++n);
}

std::vector<std::string> warningsOf(const LogCapture &log) {
    std::vector<std::string> out;
    for (const std::string &t : log.texts(google::GLOG_WARNING))
        if (t.rfind("frame loop test marker", 0) != 0) out.push_back(t);
    return out;
}

int hardwareThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n < 1024 ? n : 1024);
}

} // namespace

TEST(FrameLoopEnvironment, AcceleratorChoice) {
    const std::string scene = render_test::header(2, 2, 45) + render_test::gridMesh(2, 2, -10, "");
#if VORTAN_HAVE_EMBREE
    const AcceleratorKind fallback = AcceleratorKind::Embree;
    const std::string fallbackName = "embree";
    const char *noEmbree = nullptr;
#else
    const AcceleratorKind fallback = AcceleratorKind::KdTree;
    const std::string fallbackName = "kdtree";
    const char *noEmbree = "This build has no Embree, using kdtree";
#endif
    const std::string bogus = "Unknown VORTAN_ACCEL value \"bogus\", using " + fallbackName;
    const std::string upper = "Unknown VORTAN_ACCEL value \"KDTREE\", using " + fallbackName;
    struct Case {
        const char *value;
        AcceleratorKind kind;
        const char *warning; // null: none expected
    };
    const Case cases[] = {
        {nullptr, fallback, nullptr},
        {"", fallback, nullptr},
        {"kdtree", AcceleratorKind::KdTree, nullptr},
        {"none", AcceleratorKind::None, nullptr},
        {"embree", fallback, noEmbree},
        {"bogus", fallback, bogus.c_str()},
        {"KDTREE", fallback, upper.c_str()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value == nullptr ? "unset" : c.value);
        breakRepeat();
        LogCapture log;
        ScopedEnv env("VORTAN_ACCEL", c.value);
        std::unique_ptr<World> world = render_test::loadText(scene);
        ASSERT_NE(world, nullptr);
        EXPECT_EQ(acceleratorFromEnvironment(), c.kind);
        if (c.kind == AcceleratorKind::KdTree)
            EXPECT_NE(dynamic_cast<const KdTreeAccel *>(world->accelerator), nullptr);
        else
            EXPECT_EQ(world->accelerator == nullptr, c.kind == AcceleratorKind::None);
        EXPECT_EQ(warningsOf(log), c.warning == nullptr ? std::vector<std::string>{}
                                                        : std::vector<std::string>{c.warning});
    }
}

TEST(FrameLoopEnvironment, ThreadCount) {
    const int fallback = hardwareThreads();
    struct Case {
        const char *value;
        int threads;
        bool warns;
    };
    const Case cases[] = {
        {nullptr, fallback, false}, {"", fallback, false},  {"3", 3, false},
        {"1", 1, false},            {"0", fallback, true},  {"-2", fallback, true},
        {"abc", fallback, true},    {"3x", fallback, true}, {"2.5", fallback, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value == nullptr ? "unset" : c.value);
        breakRepeat();
        LogCapture log;
        ScopedEnv env("VORTAN_THREADS", c.value);
        EXPECT_EQ(renderThreadsFromEnvironment(), c.threads);
        const std::string expected = "Invalid VORTAN_THREADS value \"" +
                                     std::string(c.value == nullptr ? "" : c.value) +
                                     "\", using " + std::to_string(fallback) + " threads";
        EXPECT_EQ(warningsOf(log),
                  c.warns ? std::vector<std::string>{expected} : std::vector<std::string>{});
    }
    // A count no machine has is capped rather than handed to the runtime.
    for (const char *huge : {"257", "2147483647", "99999999999999999999"}) {
        SCOPED_TRACE(huge);
        breakRepeat();
        LogCapture log;
        ScopedEnv env("VORTAN_THREADS", huge);
        const bool overflow = std::string(huge).size() > 10;
        EXPECT_EQ(renderThreadsFromEnvironment(), overflow ? fallback : 256);
        EXPECT_EQ(warningsOf(log).size(), 1u);
    }
}
