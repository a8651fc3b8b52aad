// Kd-tree over a list of primitives: an axis-aligned binary partition of
// their common box, built once with a surface-area cost model, that answers
// the ray queries of a Primitive for all of them. The tree refers to
// primitives by their position in its own copy of the list; it never owns or
// deletes them.
#pragma once

#include <glog/logging.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "util/bounds.h"
#include "shapes/primitive.h"

// One tree node in two 32-bit words. The second word's low 2 bits hold the
// split axis (0, 1, 2) or 3 for a leaf; its upper 30 bits hold the index of
// the above child (interior) or the number of primitives (leaf). The below
// child of an interior node is always the next node in the array.
struct KdNode {
    union {
        float split;                // interior: split position along the axis
        int onePrimitive;           // leaf with one primitive: its number; empty leaf: 0
        int primitiveIndicesOffset; // leaf with two or more: first entry in leafIndices
    };
    uint32_t flags;

    // Makes a leaf of np primitives; lists of two or more are appended to
    // leafIndices (a vector of int of any allocator).
    template <typename IntList> void initLeaf(const int *primNums, int np, IntList *leafIndices) {
        flags = (static_cast<uint32_t>(np) << 2) | 3u;
        if (np == 0) {
            onePrimitive = 0;
        } else if (np == 1) {
            onePrimitive = primNums[0];
        } else {
            // Offsets into the list are ints.
            CHECK_LE(leafIndices->size(), static_cast<size_t>(INT32_MAX - np))
                << "Too many kd-tree leaf entries";
            primitiveIndicesOffset = static_cast<int>(leafIndices->size());
            leafIndices->insert(leafIndices->end(), primNums, primNums + np);
        }
    }
    void initInterior(int axis, int aboveChild, float s) {
        split = s;
        flags = (static_cast<uint32_t>(aboveChild) << 2) | static_cast<uint32_t>(axis);
    }

    float splitPos() const { return split; }
    int nPrimitives() const { return static_cast<int>(flags >> 2); }
    int splitAxis() const { return static_cast<int>(flags & 3u); }
    bool isLeaf() const { return (flags & 3u) == 3u; }
    int aboveChild() const { return static_cast<int>(flags >> 2); }
};
static_assert(sizeof(KdNode) == 8, "KdNode must stay two 32-bit words");

// One side of one primitive's box along one axis, as the build sorts them:
// the position t, kept as an unsigned key with the same order (so the sort
// compares integers), and, packed in one word, the primitive number (low 31
// bits) and the type (top bit: 0 = start, the low side; 1 = end, the high
// side). -0 is stored as +0, so the two compare equal as they do as floats.
struct SplitEdge {
    uint32_t key;
    uint32_t primAndType;

    static constexpr uint32_t kEndBit = 0x80000000u;

    static SplitEdge make(float t, int primNum, bool end) {
        uint32_t bits;
        std::memcpy(&bits, &t, sizeof bits);
        if (bits == 0x80000000u) bits = 0;
        // Negative floats reversed and below the positives.
        const uint32_t key = (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
        return SplitEdge{key, static_cast<uint32_t>(primNum) | (end ? kEndBit : 0u)};
    }
    float t() const {
        // Branch-free inverse of make: a key with its top bit set is a
        // positive float with that bit added, any other the complement.
        const uint32_t bits = key ^ (0x80000000u | ((key >> 31) - 1u));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    int primNum() const { return static_cast<int>(primAndType & ~kEndBit); }
    bool isStart() const { return (primAndType & kEndBit) == 0; }
};

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

class KdTreeAccel : public Primitive {
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
    static constexpr int kMaxDepth = 64;

    // With `parallel`, the upper levels of a large list are built as
    // parallel tasks; the tree is the same either way.
    KdTreeAccel(std::vector<Primitive *> prims, int primitiveCost, int stepCost,
                float emptySideBonus, int leafSize, int depthLimit, bool parallel = true);
    ~KdTreeAccel();
    KdTreeAccel(const KdTreeAccel &) = delete;
    KdTreeAccel &operator=(const KdTreeAccel &) = delete;

    // The default depth limit for n primitives: round(8 + 1.3 floor(log2 n)).
    static int defaultDepthLimit(int n);

    // True as soon as some primitive reports a hit.
    bool anyHit(const vmath::Ray &ray) const override;
    // As intersect, discarding the record.
    bool hitDistance(const vmath::Ray &ray, float *t) const override;
    // Nearest hit closer than ray.maxDist (the incoming *t is not read). On a
    // miss *t and *info are left untouched.
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override;
    Material *getMaterial() const override { return nullptr; }
    // True when some primitive has a hit strictly nearer than ray.maxDist:
    // the answer a nearest-hit query bounded by ray.maxDist would give, found
    // without looking for the nearest.
    bool occluded(const vmath::Ray &ray) const;

private:
    // The primitive numbers of a leaf, nPrimitives() of them.
    const int *leafPrimitives(const KdNode &leaf) const {
        return leaf.nPrimitives() == 1 ? &leaf.onePrimitive
                                       : leafIndices.data() + leaf.primitiveIndicesOffset;
    }
    // Fills triangles from primitives.
    void cacheTriangles();
};

// A kd-tree with the renderer's build parameters: primitive cost 80, step
// cost 1, empty-side bonus 0.5, leaf size 1 and the default depth limit.
KdTreeAccel *makeKdTreeAccel(std::vector<Primitive *> prims);
