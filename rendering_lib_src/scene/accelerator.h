// The interface every accelerator answers: the two ray queries over the
// World's primitives, in place of the linear search.
#pragma once

#include "util/vecmath.h"

struct IntersectInfo;

class Accelerator {
public:
    virtual ~Accelerator() = default;
    // Nearest hit closer than ray.maxDist; of equally near hits, the one of
    // the primitive earliest in the list (an accelerator that tests
    // triangles with arithmetic of its own may report either). On a hit *t
    // is its distance and *info is filled; on a miss both are left untouched.
    virtual bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const = 0;
    // True when some primitive has a hit strictly nearer than ray.maxDist:
    // the answer intersect would give, found without looking for the nearest.
    virtual bool occluded(const vmath::Ray &ray) const = 0;
    // Returns once the structure is ready for queries: an accelerator may
    // build in the background while loading finishes. Queries wait as well.
    virtual void waitForBuild() const {}
    // Whether the queries count every ray/triangle test in g_intersected; an
    // accelerator whose triangle tests run in a library of its own does not.
    virtual bool countsTriangleTests() const { return true; }

protected:
    Accelerator() = default;
    Accelerator(const Accelerator &) = default;
    Accelerator &operator=(const Accelerator &) = default;
};
