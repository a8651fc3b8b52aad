// The kd-tree's build: boxes by axis, sorted split candidates, the
// surface-area cost model and parallel upper levels.
#include "bvh/kdtree_build.h"

#include <glog/logging.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "bvh/page_allocator.h"
#include "shapes/primitive.h"
#include "util/error.h"
#include "util/render_threads.h"

namespace {

// Node array alignment: a cache line, so that a node and its below child
// usually share one.
constexpr size_t kNodeAlignment = 64;
constexpr int kInitialNodeCapacity = 512;
// Primitive counts and above-child indices live in 30 bits of a node word.
constexpr size_t kMaxPrimitives = (size_t{1} << 30) - 1;
constexpr int kMaxNodes = 1 << 30;
// Below this many edges an insertion sort beats the radix passes.
constexpr size_t kInsertionSortMax = 64;

// What a build may hold: leaf entries (primitive references) of at most
// kReferencesPerPrimitive per primitive plus kReferencesFloor, and twice as
// many nodes. Trees of well-shaped scenes hold 4 to 16 references per
// primitive; long thin primitives that cross each other's boxes (the slivers
// of a polygon split as a fan) put nearly every primitive on both sides of
// every split, thousands of references each. Leaf offsets are ints, and
// the limits keep well inside them.
constexpr uint64_t kReferencesPerPrimitive = 32;
constexpr uint64_t kReferencesFloor = uint64_t{1} << 16;
constexpr uint64_t kMaxReferences = uint64_t{1} << 30;
constexpr uint64_t kMaxBuildNodes = uint64_t{1} << 29;

// Stable sort of n edges by t (their keys): an LSD radix sort with three
// passes of 11 bits, skipping passes whose digit is the same for every edge;
// short runs use an insertion sort. scratch holds at least n records.
// Returns where the sorted edges are: edges or scratch.
SplitEdge *sortEdges(SplitEdge *edges, SplitEdge *scratch, size_t n) {
    if (n <= kInsertionSortMax) {
        for (size_t i = 1; i < n; ++i) {
            const SplitEdge e = edges[i];
            size_t j = i;
            for (; j > 0 && edges[j - 1].key > e.key; --j) edges[j] = edges[j - 1];
            edges[j] = e;
        }
        return edges;
    }
    constexpr int kBits = 8;
    constexpr uint32_t kMask = (1u << kBits) - 1;
    uint32_t counts[4][1u << kBits] = {};
    for (size_t i = 0; i < n; ++i) {
        const uint32_t key = edges[i].key;
        ++counts[0][key & kMask];
        ++counts[1][(key >> kBits) & kMask];
        ++counts[2][(key >> (2 * kBits)) & kMask];
        ++counts[3][key >> (3 * kBits)];
    }
    SplitEdge *src = edges, *dst = scratch;
    for (int pass = 0; pass < 4; ++pass) {
        const int shift = kBits * pass;
        uint32_t *count = counts[pass];
        if (count[(src[0].key >> shift) & kMask] == n) continue;
        uint32_t offset = 0;
        for (uint32_t d = 0; d <= kMask; ++d) {
            const uint32_t c = count[d];
            count[d] = offset;
            offset += c;
        }
        for (size_t i = 0; i < n; ++i) dst[count[(src[i].key >> shift) & kMask]++] = src[i];
        std::swap(src, dst);
    }
    return src;
}

// The counts of an exact build, shared by its parallel pieces. Once either
// passes its limit the build is abandoned (what is left of it becomes empty
// leaves) and a coarser one is made. Counts only grow, and a build over its
// limits ends over them whatever the order its pieces ran in, so whether it
// is abandoned does not depend on the number of threads.
struct BuildCounts {
    uint64_t maxReferences, maxNodes;
    std::atomic<uint64_t> references{0}, nodes{0};
    std::atomic<bool> over{false};

    BuildCounts(uint64_t refs, uint64_t nodes_) : maxReferences(refs), maxNodes(nodes_) {}
    void addNode() {
        if (nodes.fetch_add(1, std::memory_order_relaxed) + 1 > maxNodes)
            over.store(true, std::memory_order_relaxed);
    }
    void addLeaf(int n) {
        const uint64_t before =
            references.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
        if (before + static_cast<uint64_t>(n) > maxReferences)
            over.store(true, std::memory_order_relaxed);
    }
    bool abandoned() const { return over.load(std::memory_order_relaxed); }
};

// A node's share of a coarser build: the leaf entries and the nodes its
// subtree may use. A node splits only when its children's lists fit in its
// references and it has room for two children; what its children need
// beyond their lists is divided in proportion to their lengths. The tree
// then never holds more than the root's share, whatever the input.
struct Allowance {
    uint64_t references, nodes;
};

// The two children's shares of a node's allowance `a`, for children lists
// of n0 and n1 entries that fit in it (n0 + n1 <= a.references, a.nodes >= 3).
void divideAllowance(const Allowance &a, int n0, int n1, Allowance *a0, Allowance *a1) {
    const uint64_t total = static_cast<uint64_t>(n0) + static_cast<uint64_t>(n1);
    const uint64_t spare = a.references - total;
    // Both at most 2^30: the products stay within 64 bits.
    a0->references = static_cast<uint64_t>(n0) + (total > 0 ? spare * n0 / total : spare / 2);
    a1->references = a.references - a0->references;
    const uint64_t rest = a.nodes - 1;
    uint64_t m0 = total > 0 ? rest * static_cast<uint64_t>(n0) / total : rest / 2;
    m0 = std::min(std::max<uint64_t>(m0, 1), rest - 1);
    a0->nodes = m0;
    a1->nodes = rest - m0;
}

// What every node of one build shares.
struct BuildSettings {
    // The primitives' boxes by axis: lo[a][p] and hi[a][p] are the box of
    // primitive p along axis a. A sweep reads one axis, so its values sit
    // together in memory.
    const float *lo[3];
    const float *hi[3];
    int primitiveCost, stepCost, leafSize;
    float emptySideBonus;
    // Exact build: its counts (the allowances are not looked at). Null for
    // a coarser build, where every node keeps within its allowance.
    BuildCounts *counts;
};

// Working memory of a serial build over at most n primitives with the given
// depth limit, left uninitialised: every entry is written before it is read.
template <typename T> using BuildVector = std::vector<T, PageAllocator<T>>;

// An uninitialised array of mapped pages (for large sizes): pages never
// written are never made resident.
template <typename T> class BuildArray {
public:
    BuildArray(size_t n, bool hugePages) : m_n(n), m_data(PageAllocator<T>().allocate(n, hugePages)) {}
    ~BuildArray() { PageAllocator<T>().deallocate(m_data, m_n); }
    BuildArray(const BuildArray &) = delete;
    BuildArray &operator=(const BuildArray &) = delete;
    T *get() const { return m_data; }

private:
    size_t m_n;
    T *m_data;
};

struct BuildScratch {
    BuildArray<SplitEdge> edges, sortScratch;
    BuildArray<int> prims0, prims1;
    BuildScratch(size_t n, int depth)
        : edges(2 * n, true), sortScratch(2 * n, true), prims0(n, true),
          // One level's worth of entries per tree level: written sparsely.
          prims1((static_cast<size_t>(depth) + 1) * n, false) {}
};

// The split a node is given, with the lists of its children written to
// prims0 (below, n0 entries) and prims1 (above, n1 entries).
struct SplitChoice {
    int axis = -1;
    float position = 0.0f;
    int n0 = 0, n1 = 0;
    int poorSplits = 0;
};

// Decides whether a node becomes a leaf (false) or splits (true, with the
// children's lists written). Only one axis is swept at a time, and another
// only when the first offered no candidate, so one edge array serves all.
// In a coarser build a split that does not fit the node's allowance makes
// it a leaf too; this is decided before any list is written, as primNums
// may share its memory with prims0.
bool chooseSplit(const BuildSettings &s, const Bounds3f &nodeBounds, const int *primNums,
                 int nPrimitives, int depth, int poorSplits, const Allowance &allowance,
                 SplitEdge *edges, SplitEdge *sortScratch, int *prims0, int *prims1,
                 SplitChoice *choice) {
    if (nPrimitives <= s.leafSize || depth == 0) return false;
    if (s.counts == nullptr && allowance.nodes < 3) return false;

    int bestAxis = -1, bestOffset = -1;
    int bestBelow = 0, bestAbove = 0; // the children's list lengths at the best split
    float bestCost = std::numeric_limits<float>::infinity();
    const float oldCost = s.primitiveCost * static_cast<float>(nPrimitives);
    const float totalSA = nodeBounds.surfaceArea();
    const float invTotalSA = 1 / totalSA;
    const Vec3f d = nodeBounds.diagonal();
    const size_t nEdges = 2 * static_cast<size_t>(nPrimitives);

    // The sorted edges of the axis tried last. Retries happen only when an
    // axis offered no candidate, so these are the best axis's edges.
    const SplitEdge *sorted = nullptr;
    int axis = nodeBounds.maximumExtent();
    int retries = 0;
    for (;;) {
        SplitEdge *e = edges;
        // All start edges first, then all end edges: the stable sort on t then
        // puts every start edge before every end edge at the same t.
        const float *lo = s.lo[axis], *hi = s.hi[axis];
        constexpr int kAhead = 16;
        for (int i = 0; i < nPrimitives; ++i) {
            if (i + kAhead < nPrimitives) {
                __builtin_prefetch(lo + primNums[i + kAhead]);
                __builtin_prefetch(hi + primNums[i + kAhead]);
            }
            const int p = primNums[i];
            e[i] = SplitEdge::make(lo[p], p, false);
            e[nPrimitives + i] = SplitEdge::make(hi[p], p, true);
        }
        e = sortEdges(e, sortScratch, nEdges);
        sorted = e;

        int nBelow = 0, nAbove = nPrimitives;
        const float boxMin = nodeBounds.pMin[axis], boxMax = nodeBounds.pMax[axis];
        const int o1 = (axis + 1) % 3, o2 = (axis + 2) % 3;
        const float faceArea = d[o1] * d[o2];
        const float sidePerimeter = d[o1] + d[o2];
        for (size_t i = 0; i < nEdges; ++i) {
            const bool start = e[i].isStart();
            nAbove -= !start;
            const float t = e[i].t();
            if (t > boxMin && t < boxMax) {
                const float belowSA = 2 * (faceArea + (t - boxMin) * sidePerimeter);
                const float aboveSA = 2 * (faceArea + (boxMax - t) * sidePerimeter);
                const float pBelow = belowSA * invTotalSA;
                const float pAbove = aboveSA * invTotalSA;
                const float bonus = (nAbove == 0 || nBelow == 0) ? s.emptySideBonus : 0.0f;
                const float cost = s.stepCost + s.primitiveCost * (1 - bonus) *
                                                    (pBelow * nBelow + pAbove * nAbove);
                if (cost < bestCost) {
                    bestCost = cost;
                    bestAxis = axis;
                    bestOffset = static_cast<int>(i);
                    bestBelow = nBelow;
                    bestAbove = nAbove;
                }
            }
            nBelow += start;
        }
        CHECK(nBelow == nPrimitives && nAbove == 0);

        if (bestAxis == -1 && retries < 2) {
            ++retries;
            axis = (axis + 1) % 3;
            continue;
        }
        break;
    }

    if (bestCost > oldCost) ++poorSplits;
    if ((bestCost > 4 * oldCost && nPrimitives < 16) || bestAxis == -1 || poorSplits == 3)
        return false;
    if (s.counts == nullptr &&
        static_cast<uint64_t>(bestBelow) + static_cast<uint64_t>(bestAbove) > allowance.references)
        return false;

    // The primitive of the split edge itself goes only to the side its other
    // edge lies on.
    const SplitEdge *e = sorted;
    int n0 = 0, n1 = 0;
    for (int i = 0; i < bestOffset; ++i)
        if (e[i].isStart()) prims0[n0++] = e[i].primNum();
    for (size_t i = static_cast<size_t>(bestOffset) + 1; i < nEdges; ++i)
        if (!e[i].isStart()) prims1[n1++] = e[i].primNum();

    // The split lies at the edge's own coordinate, read from its box: the
    // sort key folds -0 into +0, and the node keeps the position as given.
    const SplitEdge &splitEdge = e[bestOffset];
    const int splitPrim = splitEdge.primNum();
    choice->axis = bestAxis;
    choice->position = splitEdge.isStart() ? s.lo[bestAxis][splitPrim] : s.hi[bestAxis][splitPrim];
    choice->n0 = n0;
    choice->n1 = n1;
    choice->poorSplits = poorSplits;
    return true;
}

// Nodes and leaf lists of a subtree built on one thread, numbered from its
// own root: child indices and leaf offsets are relative to the subtree.
struct Subtree {
    BuildVector<KdNode> nodes;
    BuildVector<int> leafIndices;
};

void buildSerial(const BuildSettings &s, Subtree &out, int nodeNum, const Bounds3f &nodeBounds,
                 const int *primNums, int nPrimitives, int depth, BuildScratch &scratch,
                 int *prims0, int *prims1, int poorSplits, const Allowance &allowance) {
    CHECK_EQ(nodeNum, static_cast<int>(out.nodes.size()));
    out.nodes.emplace_back();
    if (s.counts != nullptr) {
        // An abandoned build ends as quickly as it can.
        if (s.counts->abandoned()) {
            out.nodes[nodeNum].initLeaf(primNums, 0, &out.leafIndices);
            return;
        }
        s.counts->addNode();
    }

    SplitChoice c;
    if (!chooseSplit(s, nodeBounds, primNums, nPrimitives, depth, poorSplits, allowance,
                     scratch.edges.get(), scratch.sortScratch.get(), prims0, prims1, &c)) {
        if (s.counts != nullptr) s.counts->addLeaf(nPrimitives);
        out.nodes[nodeNum].initLeaf(primNums, nPrimitives, &out.leafIndices);
        return;
    }
    Allowance a0 = allowance, a1 = allowance;
    if (s.counts == nullptr) divideAllowance(allowance, c.n0, c.n1, &a0, &a1);
    Bounds3f bounds0 = nodeBounds, bounds1 = nodeBounds;
    bounds0.pMax[c.axis] = c.position;
    bounds1.pMin[c.axis] = c.position;
    // The below child reads its list from prims0 and may overwrite it: it
    // turns the list into edges before writing any list of its own.
    buildSerial(s, out, nodeNum + 1, bounds0, prims0, c.n0, depth - 1, scratch, prims0,
                prims1 + nPrimitives, c.poorSplits, a0);
    const int aboveChild = static_cast<int>(out.nodes.size());
    out.nodes[nodeNum].initInterior(c.axis, aboveChild, c.position);
    buildSerial(s, out, aboveChild, bounds1, prims1, c.n1, depth - 1, scratch, prims0,
                prims1 + nPrimitives, c.poorSplits, a1);
}

// The upper levels of a large tree are split one node at a time and their
// two subtrees built as parallel tasks; below them each subtree is built
// serially. Every node is decided exactly as in a serial build, and the
// pieces are laid out in the serial build's order, so the tree is the same
// for any number of threads.
struct TopNode {
    bool interior = false;
    KdNode node{};   // interior: axis and position (child index set on output)
    Subtree subtree; // not interior: a serially built subtree
    std::unique_ptr<TopNode> below, above;
    size_t nodeCount = 0; // nodes of the whole piece
    size_t leafCount = 0; // leafIndices entries of the whole piece
};

// Lists below this many primitives are built serially; at most this many
// levels are split into parallel tasks.
constexpr int kParallelMinPrimitives = 16384;
constexpr int kParallelLevels = 4;

std::unique_ptr<TopNode> serialPiece(const BuildSettings &s, const Bounds3f &nodeBounds,
                                     const std::vector<int> &primNums, int depth,
                                     int poorSplits, const Allowance &allowance) {
    auto top = std::make_unique<TopNode>();
    const size_t n = primNums.size();
    // Room for the subtree reserved up front, as mapped pages that only
    // become memory when written: no growth by copying.
    top->subtree.nodes.reserve(8 * n + 8);
    top->subtree.leafIndices.reserve(8 * n + 8);
    BuildScratch scratch(n > 0 ? n : 1, depth);
    buildSerial(s, top->subtree, 0, nodeBounds, primNums.data(), static_cast<int>(n), depth,
                scratch, scratch.prims0.get(), scratch.prims1.get(), poorSplits, allowance);
    top->nodeCount = top->subtree.nodes.size();
    top->leafCount = top->subtree.leafIndices.size();
    return top;
}

std::unique_ptr<TopNode> buildTop(const BuildSettings &s, const Bounds3f &nodeBounds,
                                  std::vector<int> primNums, int depth, int level,
                                  int poorSplits, const Allowance &allowance) {
    const int n = static_cast<int>(primNums.size());
    if (level >= kParallelLevels || n < kParallelMinPrimitives ||
        (s.counts != nullptr && s.counts->abandoned()))
        return serialPiece(s, nodeBounds, primNums, depth, poorSplits, allowance);

    SplitChoice c;
    std::vector<int> below, above;
    {
        BuildScratch scratch(static_cast<size_t>(n), 0);
        if (!chooseSplit(s, nodeBounds, primNums.data(), n, depth, poorSplits, allowance,
                         scratch.edges.get(), scratch.sortScratch.get(), scratch.prims0.get(),
                         scratch.prims1.get(), &c))
            return serialPiece(s, nodeBounds, primNums, depth, poorSplits, allowance);
        below.assign(scratch.prims0.get(), scratch.prims0.get() + c.n0);
        above.assign(scratch.prims1.get(), scratch.prims1.get() + c.n1);
    }
    std::vector<int>().swap(primNums);
    // This node is counted here; its leaves are counted in the pieces.
    if (s.counts != nullptr) s.counts->addNode();
    Allowance a0 = allowance, a1 = allowance;
    if (s.counts == nullptr) divideAllowance(allowance, c.n0, c.n1, &a0, &a1);

    auto top = std::make_unique<TopNode>();
    top->interior = true;
    top->node.initInterior(c.axis, 0, c.position);
    Bounds3f bounds0 = nodeBounds, bounds1 = nodeBounds;
    bounds0.pMax[c.axis] = c.position;
    bounds1.pMin[c.axis] = c.position;
    TopNode *t = top.get();
    const int childDepth = depth - 1, childLevel = level + 1, childPoor = c.poorSplits;
#pragma omp task default(none) shared(s, below, bounds0, a0) firstprivate(t, childDepth, childLevel, childPoor)
    t->below = buildTop(s, bounds0, std::move(below), childDepth, childLevel, childPoor, a0);
#pragma omp task default(none) shared(s, above, bounds1, a1) firstprivate(t, childDepth, childLevel, childPoor)
    t->above = buildTop(s, bounds1, std::move(above), childDepth, childLevel, childPoor, a1);
#pragma omp taskwait
    top->nodeCount = 1 + top->below->nodeCount + top->above->nodeCount;
    top->leafCount = top->below->leafCount + top->above->leafCount;
    return top;
}

// Writes a piece at node index `base` of dst, its leaf lists at `leafBase`
// of leafDst, and lets go of the piece's own arrays.
void emitTop(TopNode &top, KdNode *dst, size_t base, int *leafDst, size_t leafBase) {
    if (!top.interior) {
        Subtree &sub = top.subtree;
        for (size_t i = 0; i < sub.nodes.size(); ++i) {
            KdNode node = sub.nodes[i];
            if (!node.isLeaf())
                node.initInterior(node.splitAxis(), node.aboveChild() + static_cast<int>(base),
                                  node.splitPos());
            else if (node.nPrimitives() >= 2)
                node.primitiveIndicesOffset += static_cast<int>(leafBase);
            dst[base + i] = node;
        }
        std::copy(sub.leafIndices.begin(), sub.leafIndices.end(), leafDst + leafBase);
        BuildVector<KdNode>().swap(sub.nodes);
        BuildVector<int>().swap(sub.leafIndices);
        return;
    }
    const size_t aboveBase = base + 1 + top.below->nodeCount;
    KdNode node = top.node;
    node.initInterior(node.splitAxis(), static_cast<int>(aboveBase), node.splitPos());
    dst[base] = node;
    emitTop(*top.below, dst, base + 1, leafDst, leafBase);
    emitTop(*top.above, dst, aboveBase, leafDst, leafBase + top.below->leafCount);
    top.below.reset();
    top.above.reset();
}

// Builds the whole tree; the upper levels run as tasks on the renderer's
// threads (VORTAN_THREADS, every hardware thread by default).
std::unique_ptr<TopNode> buildTree(const BuildSettings &s, const Bounds3f &rootBounds,
                                   std::vector<int> primNums, int depth, bool parallel,
                                   const Allowance &allowance) {
    if (!parallel || primNums.size() < static_cast<size_t>(kParallelMinPrimitives))
        return serialPiece(s, rootBounds, primNums, depth, 0, allowance);
    std::unique_ptr<TopNode> top;
    [[maybe_unused]] const int threads = renderThreadsFromEnvironment();
#pragma omp parallel num_threads(threads) default(none) \
    shared(s, rootBounds, primNums, depth, top, allowance)
#pragma omp single
    top = buildTop(s, rootBounds, std::move(primNums), depth, 0, 0, allowance);
    return top;
}

std::vector<int> allPrimitives(size_t n) {
    std::vector<int> primNums(n);
    for (size_t i = 0; i < n; ++i) primNums[i] = static_cast<int>(i);
    return primNums;
}
} // namespace

int kdDefaultDepthLimit(int n) {
    // An empty list becomes a single leaf whatever the limit; skip log(0).
    if (n <= 1) return 8;
    static const float invLog2 = 1.0f / logf(2.0f);
    const float log2n = floorf(logf(static_cast<float>(n)) * invLog2);
    // roundf: halves go away from zero.
    return static_cast<int>(roundf(8.0f + 1.3f * log2n));
}

bool buildKdTree(const std::vector<Primitive *> &primitives, const KdBuildParams &params,
                 KdBuild *out) {
    if (primitives.size() > kMaxPrimitives) {
        Warning("A kd-tree holds at most %zu primitives, not %zu", kMaxPrimitives,
                primitives.size());
        return false;
    }
    const int n = static_cast<int>(primitives.size());
    int depthLimit = params.depthLimit;
    if (depthLimit <= 0) depthLimit = kdDefaultDepthLimit(n);
    // The traversal keeps one pending node per level on a fixed stack.
    depthLimit = std::min(depthLimit, kKdMaxDepth);
    const bool parallel = params.parallel;
    Bounds3f &bounds = out->bounds;

    // Boxes by axis, in one block: lo for x, y, z, then hi for x, y, z.
    const size_t nPrims = primitives.size();
    std::vector<float, PageAllocator<float>> boxes(6 * nPrims);
    BuildSettings settings{{},
                           {},
                           params.primitiveCost,
                           params.stepCost,
                           params.leafSize,
                           params.emptySideBonus,
                           nullptr};
    for (int a = 0; a < 3; ++a) {
        settings.lo[a] = boxes.data() + a * nPrims;
        settings.hi[a] = boxes.data() + (3 + a) * nPrims;
    }
    for (size_t i = 0; i < nPrims; ++i) {
        Bounds3f b = primitives[i]->worldBounds();
        // A box with a NaN bound (a shape with a NaN size) cannot be placed by
        // a split: it is taken as the whole space and so sits in every leaf,
        // where it is asked like everything else.
        bool nan = false;
        for (int a = 0; a < 3; ++a) nan |= std::isnan(b.pMin[a]) || std::isnan(b.pMax[a]);
        if (nan) b = Bounds3f(Point3f(-vmath::kMaxFloat, -vmath::kMaxFloat, -vmath::kMaxFloat),
                              Point3f(vmath::kMaxFloat, vmath::kMaxFloat, vmath::kMaxFloat));
        bounds = unionOf(bounds, b);
        for (int a = 0; a < 3; ++a) {
            boxes[a * nPrims + i] = b.pMin[a];
            boxes[(3 + a) * nPrims + i] = b.pMax[a];
        }
    }

    // The exact tree, unless it would hold more than the limits allow;
    // then a coarser one that keeps within them.
    const uint64_t maxReferences =
        std::min(kReferencesPerPrimitive * nPrims + kReferencesFloor, kMaxReferences);
    const uint64_t maxNodes = std::min(2 * maxReferences, kMaxBuildNodes);
    const Allowance whole{maxReferences, maxNodes};
    std::unique_ptr<TopNode> top;
    {
        BuildCounts counts(maxReferences, maxNodes);
        settings.counts = &counts;
        top = buildTree(settings, bounds, allPrimitives(nPrims), depthLimit, parallel, whole);
        settings.counts = nullptr;
        if (counts.abandoned()) {
            top.reset();
            Warning("The kd-tree over %zu primitives would hold more than %llu references to "
                    "them (long thin primitives crossing each other's boxes); building a "
                    "coarser tree",
                    nPrims, static_cast<unsigned long long>(maxReferences));
            top = buildTree(settings, bounds, allPrimitives(nPrims), depthLimit, parallel,
                            whole);
        }
    }
    std::vector<float, PageAllocator<float>>().swap(boxes);

    // The nodes in one array, 64-byte aligned, its capacity the one the
    // array would have reached by doubling from 512.
    const size_t count = top->nodeCount;
    CHECK_LE(count, static_cast<size_t>(kMaxNodes)) << "Too many kd-tree nodes";
    size_t capacity = kInitialNodeCapacity;
    while (capacity < count) capacity *= 2;
    KdNode *nodes =
        static_cast<KdNode *>(std::aligned_alloc(kNodeAlignment, capacity * sizeof(KdNode)));
    if (nodes == nullptr) {
        Warning("Out of memory for the %zu nodes of the kd-tree", count);
        return false;
    }
    adviseHugePages(nodes, count * sizeof(KdNode));
    out->nodes = nodes;
    out->nodeCapacity = static_cast<int>(capacity);
    out->nodeCount = static_cast<int>(count);
    std::vector<int> &leafIndices = out->leafIndices;
    CHECK_LE(top->leafCount, static_cast<size_t>(std::numeric_limits<int>::max()))
        << "Too many kd-tree leaf entries";
    leafIndices.reserve(top->leafCount);
    adviseHugePages(leafIndices.data(), top->leafCount * sizeof(int));
    leafIndices.resize(top->leafCount);
    emitTop(*top, nodes, 0, leafIndices.data(), 0);
    return true;
}

