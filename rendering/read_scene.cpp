#include "rendering/read_scene.h"

#include "bvh/accelerator_choice.h"
#include "parsers/ass_parser.h"
#include "scene/world.h"
#include "util/error.h"

World *readScene(const char *path) {
    World *world = nullptr;
    bool loaded = false;
    try {
        // One fault repeated all over a large file is said a few times, and
        // then how often it came.
        WarningLimit limit;
        loaded = loadScene(path, world);
        if (loaded) installAccelerator(*world, acceleratorFromEnvironment());
    } catch (...) {
        // Out of memory part way: the partial scene goes before the caller
        // hears of it.
        delete world;
        throw;
    }
    if (!loaded) {
        Error("Could not read file: %s", path != nullptr ? path : "(null)");
        // The partial scene is dropped with everything in it; none of its
        // objects were handed out.
        delete world;
        return nullptr;
    }
    return world;
}
