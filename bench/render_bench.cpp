// Whole renders through renderSceneFromFile: the showcase scene and a
// generated height field of 10,000 triangles. Reported per frame: the time
// of the whole call (load, report, frame), the frame loop's own time from the
// "Time taken: " log record, primary rays per second of the frame loop, and
// ray/triangle tests per primary ray.
#include <benchmark/benchmark.h>
#include <glog/logging.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "parsers/scene_nodes.h"
#include "shapes/mesh.h"
#include "rendering/render.h"
#include "scene/world.h"

namespace {

namespace fs = std::filesystem;

// A working directory of the benchmark's own: the renders write report.ma
// there, and the showcase finds scenes/ and resources/ through links into
// the source tree.
class BenchDir {
public:
    BenchDir() {
        std::string pattern = (fs::temp_directory_path() / "vortan-bench-XXXXXX").string();
        if (mkdtemp(&pattern[0]) == nullptr) return;
        path_ = pattern;
        std::error_code ec;
        fs::create_directory_symlink(fs::path(VORTAN_SOURCE_DIR) / "scenes", path_ / "scenes", ec);
        fs::create_directory_symlink(fs::path(VORTAN_SOURCE_DIR) / "resources",
                                     path_ / "resources", ec);
    }
    ~BenchDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

BenchDir &benchDir() {
    static BenchDir dir;
    return dir;
}

// Catches the frame loop's "Time taken: <seconds>s" record.
class FrameTimeSink : public google::LogSink {
public:
    double seconds = -1.0;
    using google::LogSink::send;
    void send(google::LogSeverity, const char *, const char *, int, const google::LogMessageTime &,
              const char *message, size_t length) override {
        const std::string text(message, length);
        const std::string prefix = "Time taken: ";
        if (text.compare(0, prefix.size(), prefix) == 0)
            seconds = std::strtod(text.c_str() + prefix.size(), nullptr);
    }
};

// Standard output (progress) and standard error (log) go to /dev/null while
// the render runs, so that the benchmark's own report stays readable.
class Silence {
public:
    Silence() {
        std::fflush(stdout);
        std::fflush(stderr);
        saved_[0] = dup(1);
        saved_[1] = dup(2);
        FILE *null = std::fopen("/dev/null", "w");
        if (null != nullptr) {
            dup2(fileno(null), 1);
            dup2(fileno(null), 2);
            std::fclose(null);
        }
    }
    ~Silence() {
        std::fflush(stdout);
        std::fflush(stderr);
        for (int fd = 0; fd < 2; ++fd)
            if (saved_[fd] >= 0) {
                dup2(saved_[fd], fd + 1);
                close(saved_[fd]);
            }
    }

private:
    int saved_[2] = {-1, -1};
};

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// A 20 x 20 height field of n x n quads (2 n^2 triangles) under an oblique
// camera, one light, a shiny grey material, on a small film.
std::string heightField(int n, int xres, int yres) {
    auto height = [](double x, double z) { return 0.4 * std::sin(0.9 * x) * std::cos(0.7 * z); };
    std::string vlist, nlist, uvs, vidx, tlist;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = -10.0 + 20.0 * i / n, z = -10.0 + 20.0 * j / n;
            vlist += num(x) + " " + num(height(x, z)) + " " + num(z) + "\n";
            // Normal of y = h(x, z): (-dh/dx, 1, -dh/dz).
            const double dx = 0.36 * std::cos(0.9 * x) * std::cos(0.7 * z);
            const double dz = -0.28 * std::sin(0.9 * x) * std::sin(0.7 * z);
            nlist += num(-dx) + " 1 " + num(-dz) + "\n";
            uvs += num(static_cast<double>(i) / n) + " " + num(static_cast<double>(j) / n) + "\n";
        }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            vidx += std::to_string(a) + " " + std::to_string(c) + " " + std::to_string(b) + " " +
                    std::to_string(b) + " " + std::to_string(c) + " " + std::to_string(d) + "\n";
            for (int k = 0; k < 6; ++k) tlist += "1 0 0\n";
        }
    const int nv = (n + 1) * (n + 1), ni = 6 * n * n;
    return "options\n{\n xres " + std::to_string(xres) + "\n yres " + std::to_string(yres) +
           "\n camera \"cam\"\n}\n"
           "persp_camera\n{\n name cam\n fov 50\n matrix\n  1 0 0 0\n  0 0.866025 -0.5 0\n"
           "  0 0.5 0.866025 0\n  0 6 12 1\n}\n"
           "point_light\n{\n name key\n intensity 120\n matrix\n  1 0 0 0\n  0 1 0 0\n  0 0 1 0\n"
           "  3 8 2 1\n}\n"
           "aiStandard\n{\n name grey\n Kd_color 0.7 0.7 0.7\n Ks 0.3\n Ks_color 1 1 1\n Kshi 30\n}\n"
           "MayaShadingEngine\n{\n name greySG\n beauty grey\n}\n"
           "polymesh\n{\n name field\n nsides 3\n vidxs " + std::to_string(ni) + " 1 UINT\n" + vidx +
           " nidxs " + std::to_string(ni) + " 1 UINT\n" + vidx + " vlist " + std::to_string(nv) +
           " 1 POINT\n" + vlist + " nlist " + std::to_string(nv) + " 1 VECTOR\n" + nlist +
           " uvlist " + std::to_string(nv) + " 1 POINT2\n" + uvs + " tlist " + std::to_string(ni) +
           " 1 VECTOR\n" + tlist + " shader \"greySG\"\n}\n";
}

void renderScene(benchmark::State &state, const std::string &scenePath) {
    const fs::path old = fs::current_path();
    fs::current_path(benchDir().path());
    double frameSeconds = 0.0, rays = 0.0, tests = 0.0;
    for (auto _ : state) {
        float *rgb = nullptr, *extraPlane = nullptr;
        World *world = nullptr;
        resetSceneFileSettings();
        FrameTimeSink sink;
        google::AddLogSink(&sink); // each render's shutdown forgets the sinks
        {
            Silence quiet;
            renderSceneFromFile(&rgb, &extraPlane, &world, scenePath.c_str());
        }
        google::RemoveLogSink(&sink);
        if (rgb == nullptr || world == nullptr) {
            state.SkipWithError("the scene did not load");
            break;
        }
        const Vec2i res = world->getCamera()->getResolution();
        benchmark::DoNotOptimize(rgb[0]);
        frameSeconds += sink.seconds;
        rays += static_cast<double>(res[0]) * res[1];
        tests += g_intersected;
    }
    fs::current_path(old);
    const double frames = static_cast<double>(state.iterations());
    if (frames > 0 && rays > 0) {
        state.counters["frame_s"] = frameSeconds / frames;
        state.counters["primary_rays"] = rays / frames;
        state.counters["rays_per_s"] = frameSeconds > 0 ? rays / frameSeconds : 0.0;
        state.counters["tri_tests_per_ray"] = tests / rays;
    }
}

void BM_RenderShowcase(benchmark::State &state) {
    renderScene(state, "scenes/showcase.ass");
}
BENCHMARK(BM_RenderShowcase)->Unit(benchmark::kMillisecond);

void BM_RenderHeightField10kTriangles(benchmark::State &state) {
    const fs::path path = benchDir().path() / "height_field.ass";
    if (!fs::exists(path)) {
        const std::string text = heightField(static_cast<int>(state.range(0)), 40, 30);
        FILE *f = std::fopen(path.c_str(), "w");
        if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
            if (f != nullptr) std::fclose(f);
            state.SkipWithError("could not write the generated scene");
            return;
        }
        std::fclose(f);
    }
    renderScene(state, path.string());
}
// 71 x 71 quads: 10,082 triangles.
BENCHMARK(BM_RenderHeightField10kTriangles)->Arg(71)->Unit(benchmark::kMillisecond);

} // namespace
