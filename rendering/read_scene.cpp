#include "rendering/read_scene.h"

#include <chrono>

#include "bvh/accelerator_choice.h"
#include "rendering/host_reporting.h"
#include "scene/world.h"
#include "util/error.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

World *readScene(const char *path, const LoadRequest &request, ReadSceneTimes *times) {
    World *world = nullptr;
    bool loaded = false;
    ReadSceneTimes spent;
    try {
        // One fault repeated all over a large file is said a few times, and
        // then how often it came.
        WarningLimit limit;
        reportStage(RenderStage::Loading);
        auto start = std::chrono::steady_clock::now();
        loaded = loadScene(path, world, request);
        spent.load = secondsSince(start);
        if (loaded) {
            reportStage(RenderStage::Building);
            start = std::chrono::steady_clock::now();
            installAccelerator(*world, acceleratorFromEnvironment());
            spent.build = secondsSince(start);
        }
    } catch (...) {
        // Out of memory part way: the partial scene goes before the caller
        // hears of it.
        delete world;
        throw;
    }
    if (times != nullptr) *times = spent;
    if (!loaded) {
        Error("Could not read file: %s", path != nullptr ? path : "(null)");
        // The partial scene is dropped with everything in it; none of its
        // objects were handed out.
        delete world;
        return nullptr;
    }
    return world;
}
