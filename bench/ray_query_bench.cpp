// Ray queries on the reference benchmark scenes, one thread: the primary ray
// of every pixel (through the pixel's corner, as the frame loop makes it)
// and, for every primary hit, the shadow query toward each light (starting
// 0.01 toward the light and running the whole distance), the rays the peers'
// ray-casting harness times. Scenes come from VORTAN_BENCH_SCENES (paths
// separated by ':'), by default bench-out/{1k,10k,100k,1M}/bench.ass under
// the source tree where scripts/bench.sh writes them; missing ones are
// skipped. Reported: rays per second and ray/triangle tests per ray.
#include <benchmark/benchmark.h>
#include <glog/logging.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "rendering/read_scene.h"
#include "parsers/scene_nodes.h"
#include "scene/camera.h"
#include "shapes/mesh.h"
#include "shapes/primitive.h"
#include "rendering/render.h"
#include "rendering/tracer.h"
#include "scene/world.h"

namespace {

struct LoadedScene {
    World *world = nullptr;
    std::vector<vmath::Ray> primary;
    std::vector<vmath::Ray> shadow;
    std::vector<float> shadowLength;
};

LoadedScene *load(const std::string &path) {
    FLAGS_minloglevel = google::GLOG_WARNING; // no per-triangle lines
    resetSceneFileSettings();
    auto *scene = new LoadedScene;
    scene->world = readScene(path.c_str());
    if (scene->world == nullptr) return scene;
    Camera *camera = scene->world->getCamera();
    const int width = camera->getResolution()[0], height = camera->getResolution()[1];
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i)
            scene->primary.push_back(
                camera->generateRay(static_cast<float>(i), static_cast<float>(j)));
    for (const vmath::Ray &ray : scene->primary) {
        IntersectInfo info;
        scene->world->intersect(info, ray, vmath::kMaxFloat);
        if (info.id == -1) continue;
        for (const LocalLight *light : scene->world->lights) {
            const Point3f &lp = light->getWorldPosition();
            scene->shadow.push_back(offsetRay(info.position, lp));
            scene->shadowLength.push_back(vmath::length(lp - info.position));
        }
    }
    return scene;
}

// Times castAll (one pass over `count` rays) and reports the rates.
template <typename CastAll>
void timeRays(benchmark::State &state, const LoadedScene *scene, size_t count, CastAll castAll) {
    if (scene->world == nullptr) {
        state.SkipWithError("scene did not load");
        return;
    }
    g_intersected = 0;
    int64_t rays = 0;
    for (auto _ : state) {
        castAll();
        rays += static_cast<int64_t>(count);
    }
    state.counters["rays/s"] =
        benchmark::Counter(static_cast<double>(rays), benchmark::Counter::kIsRate);
    state.counters["tests/ray"] = static_cast<double>(g_intersected) / static_cast<double>(rays);
}

void BM_PrimaryRays(benchmark::State &state, LoadedScene *scene) {
    timeRays(state, scene, scene->primary.size(), [scene] {
        for (const vmath::Ray &ray : scene->primary) {
            IntersectInfo info;
            scene->world->intersect(info, ray, vmath::kMaxFloat);
            benchmark::DoNotOptimize(info.id);
        }
    });
}

void BM_ShadowRays(benchmark::State &state, LoadedScene *scene) {
    timeRays(state, scene, scene->shadow.size(), [scene] {
        for (size_t i = 0; i < scene->shadow.size(); ++i)
            benchmark::DoNotOptimize(
                scene->world->occluded(scene->shadow[i], scene->shadowLength[i]));
    });
}

std::vector<std::string> scenePaths() {
    std::vector<std::string> paths;
    if (const char *list = std::getenv("VORTAN_BENCH_SCENES")) {
        std::stringstream in(list);
        for (std::string p; std::getline(in, p, ':');)
            if (!p.empty()) paths.push_back(p);
        return paths;
    }
    for (const char *size : {"1k", "10k", "100k", "1M"})
        paths.push_back(std::string(VORTAN_SOURCE_DIR) + "/bench-out/" + size + "/bench.ass");
    return paths;
}

// Registered at start-up; a scene is loaded when its benchmarks first run.
const bool registered = [] {
    for (const std::string &path : scenePaths()) {
        if (!std::filesystem::exists(path)) continue;
        const std::string name = std::filesystem::path(path).parent_path().filename().string();
        auto scene = std::make_shared<std::unique_ptr<LoadedScene>>();
        auto get = [scene, path]() {
            if (!*scene) scene->reset(load(path));
            return scene->get();
        };
        benchmark::RegisterBenchmark(("BM_PrimaryRays/" + name).c_str(),
                                     [get](benchmark::State &st) { BM_PrimaryRays(st, get()); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_ShadowRays/" + name).c_str(),
                                     [get](benchmark::State &st) { BM_ShadowRays(st, get()); })
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace
