#include "ass_parser.h"
#include "error.h"
#include "render.h"
#include "world.h"

World *readScene(const char *path) {
    World *world = nullptr;
    if (!loadScene(path, world)) {
        Error("Could not read file: %s", path != nullptr ? path : "(null)");
        // The partial scene is dropped; its objects were never handed out.
        delete world;
        return nullptr;
    }
    return world;
}
