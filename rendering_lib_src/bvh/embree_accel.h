// The accelerator on Embree 3: mesh triangles as Embree triangle meshes in
// world space, copies of one mesh as Embree instances of one prototype, and
// every other primitive as Embree user geometry that calls the primitive's
// own test. The BVH is built on Embree's threads while the caller goes on;
// the first query waits for it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "scene/accelerator.h"

class Primitive;

class EmbreeAccel final : public Accelerator {
public:
    // What the build made of the primitive list.
    struct Layout {
        size_t triangleMeshes = 0; // world-space triangle geometries
        size_t prototypes = 0;     // instanced scenes, one per shared mesh
        size_t instances = 0;      // placements of those
        size_t userPrimitives = 0; // other primitives with a box, tested by Embree's call
        size_t unbounded = 0;      // primitives without a finite box, tested on every query
    };

    // Starts the build over prims (not owned; they and their meshes must
    // outlive the accelerator) on `threads` threads, in the background when
    // `background` is set. Null, after a Warning, when Embree cannot be set up.
    static std::unique_ptr<EmbreeAccel> build(const std::vector<Primitive *> &prims, int threads,
                                              bool background);
    ~EmbreeAccel() override;
    EmbreeAccel(const EmbreeAccel &) = delete;
    EmbreeAccel &operator=(const EmbreeAccel &) = delete;

    // Nearest hit closer than ray.maxDist, filled as the hit primitive's own
    // test fills it (triangles through TrianglePrimitive::fillHit on Embree's
    // distance and barycentrics). Of two hits at the same distance either may
    // be reported.
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    // Any hit strictly nearer than ray.maxDist.
    bool occluded(const vmath::Ray &ray) const override;
    // Returns once the BVH is built; logs the build time the first time.
    void waitForBuild() const override;
    bool countsTriangleTests() const override { return false; }

    const Layout &layout() const;

    struct Impl;

private:
    explicit EmbreeAccel(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m;
};
