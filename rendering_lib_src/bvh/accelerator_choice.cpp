#include "bvh/accelerator_choice.h"

#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bvh/kdtreeaccel.h"
#include "util/error.h"
#include "util/render_threads.h"
#include "scene/world.h"
#if VORTAN_HAVE_EMBREE
#include "bvh/embree_accel.h"
#endif

namespace {

const char *nameOf(AcceleratorKind kind) {
    switch (kind) {
    case AcceleratorKind::None: return "none";
    case AcceleratorKind::KdTree: return "kdtree";
    case AcceleratorKind::Embree: return "embree";
    }
    return "none";
}

void installKdTree(World &world) {
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

} // namespace

AcceleratorKind defaultAccelerator() {
#if VORTAN_HAVE_EMBREE
    return AcceleratorKind::Embree;
#else
    return AcceleratorKind::KdTree;
#endif
}

AcceleratorKind acceleratorFromEnvironment() {
    const AcceleratorKind fallback = defaultAccelerator();
    const char *value = std::getenv("VORTAN_ACCEL");
    if (value == nullptr || value[0] == '\0') return fallback;
    if (std::strcmp(value, "kdtree") == 0) return AcceleratorKind::KdTree;
    if (std::strcmp(value, "none") == 0) return AcceleratorKind::None;
    if (std::strcmp(value, "embree") == 0) {
#if VORTAN_HAVE_EMBREE
        return AcceleratorKind::Embree;
#else
        Warning("This build has no Embree, using %s", nameOf(fallback));
        return fallback;
#endif
    }
    Warning("Unknown VORTAN_ACCEL value \"%s\", using %s", value, nameOf(fallback));
    return fallback;
}

void installAccelerator(World &world, AcceleratorKind kind) {
    if (kind == AcceleratorKind::None) return;
#if VORTAN_HAVE_EMBREE
    if (kind == AcceleratorKind::Embree) {
        std::unique_ptr<EmbreeAccel> bvh =
            EmbreeAccel::build(world.primitives, renderThreadsFromEnvironment(), true);
        if (bvh != nullptr) {
            world.setAccelerator(std::move(bvh));
            return;
        }
        // Embree refused (said why): the kd-tree answers instead.
    }
#endif
    installKdTree(world);
}
