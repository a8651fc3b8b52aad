#include "bvh/accelerator_choice.h"

#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bvh/kdtreeaccel.h"
#include "util/error.h"
#include "scene/world.h"

AcceleratorKind acceleratorFromEnvironment() {
    const char *value = std::getenv("VORTAN_ACCEL");
    if (value == nullptr || value[0] == '\0') return AcceleratorKind::KdTree;
    if (std::strcmp(value, "kdtree") == 0) return AcceleratorKind::KdTree;
    if (std::strcmp(value, "none") == 0) return AcceleratorKind::None;
    Warning("Unknown VORTAN_ACCEL value \"%s\", using kdtree", value);
    return AcceleratorKind::KdTree;
}

void installAccelerator(World &world, AcceleratorKind kind) {
    if (kind == AcceleratorKind::None) return;
    const auto start = std::chrono::steady_clock::now();
    KdTreeAccel *tree = makeKdTreeAccel(world.primitives);
    if (tree == nullptr) {
        Warning("Rendering without a kd-tree: every ray is tested against all %zu primitives",
                world.primitives.size());
        malloc_trim(0);
        return;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Build time apart from render time.
    INFO_LOG << "Kd-tree built over " << world.primitives.size() << " primitives in " << seconds
             << "s";
    world.setAccelerator(std::unique_ptr<Accelerator>(tree));
    // The build's working memory was freed; hand the free pages back so
    // that what follows does not add to it.
    malloc_trim(0);
}
