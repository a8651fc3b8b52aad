// Kd-tree over a list of primitives: an axis-aligned binary partition of
// their common box, built once with a surface-area cost model, that answers
// the accelerator's two ray queries for all of them. The tree refers to
// primitives by their position in its own copy of the list; it never owns or
// deletes them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "bvh/kdtree_nodes.h"
#include "scene/accelerator.h"
#include "shapes/primitive.h"
#include "util/bounds.h"

class TrianglePrimitive;

// A mesh triangle as the tree's queries test it: its world-space first corner
// and edges, the same floats the mesh's own test computes on every call, so
// the hot loop reads one record instead of walking triangle, mesh, index and
// vertex lists. Every other primitive (and a triangle whose lists are
// inconsistent) has a record marked as not cached, and the queries ask it
// through its own virtual test. The mark is a NaN of a payload of its own in
// p0.x: a cached corner that is NaN is stored as the plain quiet NaN.
struct KdTriangle {
    Point3f p0;
    Vec3f e1, e2;

    static constexpr uint32_t kNotCachedBits = 0x7fc0dea1u;
    bool cached() const {
        uint32_t bits;
        std::memcpy(&bits, &p0.x, sizeof bits);
        return bits != kNotCachedBits;
    }
    void markNotCached() { std::memcpy(&p0.x, &kNotCachedBits, sizeof p0.x); }
};
static_assert(sizeof(KdTriangle) == 36, "KdTriangle must stay nine floats");

// The primitives a query tested last. A primitive that straddles split
// planes sits in several leaves along a ray; testing it again gives the same
// answer, which cannot change the outcome (a hit that was not nearest stays
// so, a miss stays a miss), so a query skips it.
class RecentlyTested {
public:
    bool contains(int num) const {
        bool found = false;
        for (int i = 0; i < kSize; ++i) found |= m_nums[i] == num;
        return found;
    }
    void add(int num) {
        m_nums[m_next] = num;
        m_next = (m_next + 1) & (kSize - 1);
    }

private:
    static constexpr int kSize = 8;
    int m_nums[kSize] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int m_next = 0;
};

class KdTreeAccel final : public Accelerator {
public:
    int primitiveCost;    // cost of testing one primitive against a ray
    int stepCost;         // cost of one traversal step
    int leafSize;         // a node with at most this many primitives becomes a leaf
    float emptySideBonus; // cost reduction (0..1) of a split with one empty side
    std::vector<Primitive *> primitives; // not owned; index = primitive number
    std::vector<int> leafIndices;        // primitive numbers of leaves with >= 2 primitives
    KdNode *nodes = nullptr;             // 64-byte aligned
    int nodeCapacity = 0;
    int nextFreeNode = 0;                // nodes in use
    Bounds3f bounds;                     // union of the primitives' world bounds
    std::vector<KdTriangle> triangles;   // parallel to primitives

    // The deepest tree the traversal stack can walk. A depthLimit <= 0 picks
    // the default for the list size; larger limits are lowered to this.
    static constexpr int kMaxDepth = kKdMaxDepth;

    // With `parallel`, the upper levels of a large list are built as
    // parallel tasks; the tree is the same either way.
    KdTreeAccel(std::vector<Primitive *> prims, int primitiveCost, int stepCost,
                float emptySideBonus, int leafSize, int depthLimit, bool parallel = true);
    ~KdTreeAccel();
    KdTreeAccel(const KdTreeAccel &) = delete;
    KdTreeAccel &operator=(const KdTreeAccel &) = delete;

    // The default depth limit for n primitives: round(8 + 1.3 floor(log2 n)).
    static int defaultDepthLimit(int n);
    // False when no tree could be built (said with a Warning): the queries
    // then find nothing.
    bool built() const { return nodes != nullptr; }

    // Nearest hit closer than ray.maxDist (the incoming *t is not read). On a
    // miss *t and *info are left untouched.
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    // True when some primitive has a hit strictly nearer than ray.maxDist:
    // the answer a nearest-hit query bounded by ray.maxDist would give, found
    // without looking for the nearest.
    bool occluded(const vmath::Ray &ray) const override;

private:
    // The primitive numbers of a leaf, nPrimitives() of them.
    const int *leafPrimitives(const KdNode &leaf) const {
        return leaf.nPrimitives() == 1 ? &leaf.onePrimitive
                                       : leafIndices.data() + leaf.primitiveIndicesOffset;
    }
    // Fills triangles from primitives.
    void cacheTriangles();
    // The one loop over a leaf's primitives that both queries share.
    template <class Query>
    bool testLeaf(const KdNode &leaf, const vmath::Ray &ray, RecentlyTested &recent,
                  uint32_t &tests, IntersectInfo *scratch, Query &query) const;
};

// A kd-tree with the renderer's build parameters: primitive cost 80, step
// cost 1, empty-side bonus 0.5, leaf size 1 and the default depth limit.
// Null when no tree could be built (the build said why).
KdTreeAccel *makeKdTreeAccel(std::vector<Primitive *> prims);
