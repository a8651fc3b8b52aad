// Kd-tree build and traversal: small trees checked node by node, the
// traversal order observed through counting test primitives, structural
// properties of trees over random boxes, and the parallel build. The
// accelerated World query against the linear one is in accelerators_test.
#include <glog/logging.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "bvh/kdtreeaccel.h"
#include "materials/material.h"
#include "shapes/mesh.h"
#include "shapes/sphere.h"
#include "scene/world.h"
#include "support/scoped_env.h"

namespace {

// An axis-aligned box that reports its entry distance as a hit and records
// every test it is asked for (in a shared log, when given one).
class BoxPrim final : public Primitive {
public:
    Bounds3f box;
    mutable int tests = 0;
    std::vector<int> *log = nullptr;

    BoxPrim(const Point3f &lo, const Point3f &hi, int id_, std::vector<int> *log_ = nullptr)
        : box(lo, hi), log(log_) {
        id = id_;
    }

    bool anyHit(const vmath::Ray &ray) const override {
        record();
        return box.intersectP(ray, nullptr, nullptr);
    }
    bool hitDistance(const vmath::Ray &ray, float *t) const override {
        IntersectInfo scratch;
        return intersect(ray, t, &scratch);
    }
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override {
        record();
        float t0, t1;
        if (!box.intersectP(ray, &t0, &t1) || !(t0 < *t)) return false;
        *t = t0;
        info->id = id;
        info->position = ray.at(t0);
        return true;
    }
    Bounds3f worldBounds() const override { return box; }
    Material *getMaterial() const override { return nullptr; }

private:
    void record() const {
        ++tests;
        if (log) log->push_back(id);
    }
};

// A primitive without bounds of its own: worldBounds stays the empty box.
class UnboundedPrim final : public Primitive {
public:
    bool anyHit(const vmath::Ray &) const override { return true; }
    bool hitDistance(const vmath::Ray &, float *) const override { return true; }
    bool intersect(const vmath::Ray &, float *, IntersectInfo *) const override { return true; }
    Material *getMaterial() const override { return nullptr; }
};

std::vector<Primitive *> asPrimitives(std::vector<std::unique_ptr<BoxPrim>> &boxes) {
    std::vector<Primitive *> out;
    for (auto &b : boxes) out.push_back(b.get());
    return out;
}

// Primitive numbers held by a leaf, in leaf order.
std::vector<int> leafContents(const KdTreeAccel &tree, const KdNode &leaf) {
    const int n = leaf.nPrimitives();
    if (n == 1) return {leaf.onePrimitive};
    std::vector<int> out;
    for (int i = 0; i < n; ++i) out.push_back(tree.leafIndices[leaf.primitiveIndicesOffset + i]);
    return out;
}

struct Leaf {
    Bounds3f region;
    std::vector<int> prims;
    int depth;
};

// Every leaf with the region of space it covers, found by descending from the
// root with the tree's bounds.
void collectLeaves(const KdTreeAccel &tree, int nodeNum, const Bounds3f &region, int depth,
                   std::vector<Leaf> *out) {
    const KdNode &node = tree.nodes[nodeNum];
    if (node.isLeaf()) {
        out->push_back({region, leafContents(tree, node), depth});
        return;
    }
    Bounds3f below = region, above = region;
    below.pMax[node.splitAxis()] = node.splitPos();
    above.pMin[node.splitAxis()] = node.splitPos();
    collectLeaves(tree, nodeNum + 1, below, depth + 1, out);
    collectLeaves(tree, node.aboveChild(), above, depth + 1, out);
}

std::vector<Leaf> leavesOf(const KdTreeAccel &tree) {
    std::vector<Leaf> leaves;
    collectLeaves(tree, 0, tree.bounds, 0, &leaves);
    return leaves;
}

} // namespace

TEST(KdTreeAccel, DefaultDepthLimitFollowsSinglePrecisionFormula) {
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(1), 8);
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(2), 9);
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(3), 9);
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(4), 11);
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(100), 16);
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(1000), 20);
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(1000000), 33);
    // 8 + 1.3f * 5 is exactly 14.5 in float: halves round away from zero.
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(32), 15);
    // The float logarithm of 8192 floors to 12, not 13.
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(8191), 24);
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(8192), 24);
    EXPECT_EQ(KdTreeAccel::defaultDepthLimit(16384), 26);
}

TEST(KdTreeAccel, NodeIsTwoWordsInAlignedArray) {
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), 0));
    KdTreeAccel tree(asPrimitives(boxes), 80, 1, 0.5f, 1, -1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(tree.nodes) % 64, 0u);
    EXPECT_EQ(tree.nodeCapacity, 512);

    KdNode node;
    node.initInterior(2, 12345, -1.5f);
    EXPECT_FALSE(node.isLeaf());
    EXPECT_EQ(node.splitAxis(), 2);
    EXPECT_EQ(node.aboveChild(), 12345);
    EXPECT_EQ(node.splitPos(), -1.5f);
    EXPECT_EQ(node.flags, 12345u * 4 + 2);
}

TEST(KdTreeAccel, EmptyListIsOneEmptyLeaf) {
    KdTreeAccel tree({}, 80, 1, 0.5f, 1, -1);
    ASSERT_EQ(tree.nextFreeNode, 1);
    EXPECT_TRUE(tree.nodes[0].isLeaf());
    EXPECT_EQ(tree.nodes[0].nPrimitives(), 0);
    EXPECT_EQ(tree.nodes[0].onePrimitive, 0);
    EXPECT_EQ(tree.bounds.pMin.x, vmath::kMaxFloat);
    EXPECT_EQ(tree.bounds.pMax.z, -vmath::kMaxFloat);

    float t = 7.0f;
    IntersectInfo info;
    EXPECT_FALSE(tree.intersect(vmath::Ray(Point3f(0, 0, 0), Vec3f(0, 0, 1)), &t, &info));
    EXPECT_FALSE(tree.occluded(vmath::Ray(Point3f(0, 0, 0), Vec3f(0, 0, 0))));
    EXPECT_EQ(t, 7.0f);
}

TEST(KdTreeAccel, SinglePrimitiveIsLeafInNode) {
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 2, 3), 5));
    KdTreeAccel tree(asPrimitives(boxes), 80, 1, 0.5f, 1, -1);
    ASSERT_EQ(tree.nextFreeNode, 1);
    EXPECT_TRUE(tree.nodes[0].isLeaf());
    EXPECT_EQ(tree.nodes[0].nPrimitives(), 1);
    EXPECT_EQ(tree.nodes[0].onePrimitive, 0);
    EXPECT_TRUE(tree.leafIndices.empty());
    EXPECT_EQ(tree.bounds.pMax, Point3f(1, 2, 3));
}

TEST(KdTreeAccel, TwoSeparateBoxesSplitAtFirstEqualCostCandidate) {
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), 0));
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(2, 0, 0), Point3f(3, 1, 1), 1));
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(asPrimitives(boxes)));
    ASSERT_EQ(tree->nextFreeNode, 3);
    const KdNode &root = tree->nodes[0];
    ASSERT_FALSE(root.isLeaf());
    EXPECT_EQ(root.splitAxis(), 0);
    EXPECT_EQ(root.splitPos(), 1.0f);
    EXPECT_EQ(root.aboveChild(), 2);
    ASSERT_TRUE(tree->nodes[1].isLeaf());
    EXPECT_EQ(leafContents(*tree, tree->nodes[1]), std::vector<int>{0});
    ASSERT_TRUE(tree->nodes[2].isLeaf());
    EXPECT_EQ(leafContents(*tree, tree->nodes[2]), std::vector<int>{1});
}

TEST(KdTreeAccel, SplitKeepsTheSignOfAZeroEdge) {
    // The first box ends at -0; its end edge and the second box's start edge
    // cost the same, so the split lies at -0, sign included.
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(-1, 0, 0), Point3f(-0.0f, 1, 1), 0));
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(1, 0, 0), Point3f(2, 1, 1), 1));
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(asPrimitives(boxes)));
    ASSERT_EQ(tree->nextFreeNode, 3);
    ASSERT_FALSE(tree->nodes[0].isLeaf());
    EXPECT_EQ(tree->nodes[0].splitAxis(), 0);
    EXPECT_EQ(tree->nodes[0].splitPos(), 0.0f);
    EXPECT_TRUE(std::signbit(tree->nodes[0].splitPos()));
    EXPECT_EQ(leafContents(*tree, tree->nodes[1]), std::vector<int>{0});
    EXPECT_EQ(leafContents(*tree, tree->nodes[2]), std::vector<int>{1});
}

TEST(KdTreeAccel, StartEdgesSortBeforeEndEdgesAtTheSamePosition) {
    // The first box ends at -0 and the second starts at +0: equal positions,
    // so the second's start edge is swept first and wins the tie in cost.
    // The first box then reaches both children.
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(-1, 0, 0), Point3f(-0.0f, 1, 1), 0));
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0.0f, 0, 0), Point3f(1, 1, 1), 1));
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(asPrimitives(boxes)));
    ASSERT_EQ(tree->nextFreeNode, 3);
    EXPECT_EQ(tree->nodes[0].splitAxis(), 0);
    EXPECT_EQ(tree->nodes[0].splitPos(), 0.0f);
    EXPECT_EQ(leafContents(*tree, tree->nodes[1]), std::vector<int>{0});
    EXPECT_EQ(leafContents(*tree, tree->nodes[2]), (std::vector<int>{0, 1}));
}

TEST(KdTreeAccel, UnsplittableOrSmallListsStayOneLeafInListOrder) {
    // Boxes spanning the whole node on every axis offer no candidate.
    std::vector<std::unique_ptr<BoxPrim>> same;
    for (int i = 0; i < 3; ++i)
        same.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), i));
    KdTreeAccel spanning(asPrimitives(same), 80, 1, 0.5f, 1, -1);
    ASSERT_EQ(spanning.nextFreeNode, 1);
    EXPECT_EQ(leafContents(spanning, spanning.nodes[0]), (std::vector<int>{0, 1, 2}));

    // A leaf size of at least N keeps separate boxes together.
    std::vector<std::unique_ptr<BoxPrim>> apart;
    for (int i = 0; i < 5; ++i)
        apart.push_back(std::make_unique<BoxPrim>(Point3f(4.0f * i, 0, 0),
                                                  Point3f(4.0f * i + 1, 1, 1), i));
    KdTreeAccel big(asPrimitives(apart), 80, 1, 0.5f, 5, -1);
    ASSERT_EQ(big.nextFreeNode, 1);
    EXPECT_EQ(leafContents(big, big.nodes[0]), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(big.nodes[0].primitiveIndicesOffset, 0);
}

TEST(KdTreeAccel, PrimitiveWithoutBoundsReachesNoChild) {
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), 0));
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(2, 0, 0), Point3f(3, 1, 1), 1));
    UnboundedPrim unbounded;
    std::vector<Primitive *> prims = asPrimitives(boxes);
    prims.push_back(&unbounded);
    KdTreeAccel tree(prims, 80, 1, 0.5f, 1, -1);
    for (const Leaf &leaf : leavesOf(tree))
        EXPECT_EQ(std::count(leaf.prims.begin(), leaf.prims.end(), 2), 0);

    // Kept when its node becomes a leaf without splitting.
    KdTreeAccel alone({&unbounded}, 80, 1, 0.5f, 1, -1);
    EXPECT_EQ(leafContents(alone, alone.nodes[0]), std::vector<int>{0});
}

TEST(KdTreeAccel, DepthLimitBoundsTheTree) {
    // A hundred unit boxes in a row along x. A negative step cost accepts
    // every split and a negative primitive cost prefers the most lopsided
    // one, so each level cuts off one box or the gap after it: the tree is
    // as deep as its limit allows.
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    for (int i = 0; i < 100; ++i)
        boxes.push_back(std::make_unique<BoxPrim>(Point3f(2.0f * i, 0, 0),
                                                  Point3f(2.0f * i + 1, 1, 1), i));
    auto maxDepth = [](const KdTreeAccel &tree) {
        int depth = 0;
        for (const Leaf &leaf : leavesOf(tree)) depth = std::max(depth, leaf.depth);
        return depth;
    };
    const int stepCost = -1000000;
    KdTreeAccel shallow(asPrimitives(boxes), -80, stepCost, 0.0f, 1, 3);
    EXPECT_EQ(maxDepth(shallow), 3);
    KdTreeAccel deep(asPrimitives(boxes), -80, stepCost, 0.0f, 1, 50);
    EXPECT_EQ(maxDepth(deep), 50);
    // Limits beyond the traversal stack are lowered to it.
    KdTreeAccel clamped(asPrimitives(boxes), -80, stepCost, 0.0f, 1, 1000);
    ASSERT_EQ(maxDepth(clamped), KdTreeAccel::kMaxDepth);

    // The deepest tree is still walked correctly. Along -x every level
    // leaves its below child pending: a full stack.
    float t = 0;
    IntersectInfo info;
    ASSERT_TRUE(clamped.intersect(vmath::Ray(Point3f(300, 0.5f, 0.5f), Vec3f(-1, 0, 0)), &t, &info));
    EXPECT_EQ(info.id, 99);
    EXPECT_EQ(t, 101.0f);
    for (int i = 0; i < 100; ++i) {
        const Point3f c(2.0f * i + 0.5f, 0.5f, -1.0f);
        ASSERT_TRUE(clamped.intersect(vmath::Ray(c, Vec3f(0, 0, 1)), &t, &info)) << "box " << i;
        EXPECT_EQ(info.id, i);
        EXPECT_EQ(t, 1.0f);
    }
}

TEST(KdTreeAccel, LeavesHoldExactlyTheBoxesOverlappingThem) {
    // Random boxes, some touching, some repeated, some at +-0, across the
    // sign change of the coordinates.
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> pos(-10.0f, 10.0f), size(0.0f, 3.0f);
        std::vector<std::unique_ptr<BoxPrim>> boxes;
        for (int i = 0; i < 300; ++i) {
            Point3f lo(pos(rng), pos(rng), pos(rng));
            if (i % 17 == 0) lo.x = (i % 2) ? -0.0f : 0.0f;
            if (i % 23 == 0 && i > 0) lo = boxes[i - 1]->box.pMax;
            Point3f hi(lo.x + size(rng), lo.y + size(rng), lo.z + size(rng));
            if (i % 29 == 0 && i > 0) {
                lo = boxes[i - 1]->box.pMin;
                hi = boxes[i - 1]->box.pMax;
            }
            boxes.push_back(std::make_unique<BoxPrim>(lo, hi, i));
        }
        const int leafSize = static_cast<int>(seed % 3) + 1;
        KdTreeAccel tree(asPrimitives(boxes), 80, 1, 0.5f, leafSize, -1);
        for (const Leaf &leaf : leavesOf(tree)) {
            for (size_t i = 0; i < boxes.size(); ++i) {
                const Bounds3f &b = boxes[i]->box;
                bool overlapsInside = true, touches = true;
                for (int a = 0; a < 3; ++a) {
                    overlapsInside &= b.pMin[a] < leaf.region.pMax[a] &&
                                      b.pMax[a] > leaf.region.pMin[a];
                    touches &= b.pMin[a] <= leaf.region.pMax[a] &&
                               b.pMax[a] >= leaf.region.pMin[a];
                }
                const long held = std::count(leaf.prims.begin(), leaf.prims.end(),
                                             static_cast<int>(i));
                ASSERT_LE(held, 1) << "seed " << seed << " box " << i;
                if (overlapsInside) {
                    ASSERT_EQ(held, 1) << "seed " << seed << " box " << i;
                }
                if (held) {
                    ASSERT_TRUE(touches) << "seed " << seed << " box " << i;
                }
            }
        }
    }
}

TEST(KdTreeAccel, MissOfBoundsLeavesCallerStateUntouched) {
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), 3));
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(2, 0, 0), Point3f(3, 1, 1), 4));
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(asPrimitives(boxes)));

    float t = 42.0f;
    IntersectInfo info;
    info.id = 99;
    info.u = 0.25f;
    EXPECT_FALSE(tree->intersect(vmath::Ray(Point3f(0, 5, 0), Vec3f(1, 0, 0)), &t, &info));
    EXPECT_FALSE(tree->occluded(vmath::Ray(Point3f(0, 5, 0), Vec3f(1, 0, 0))));
    // Box behind the origin, and box beyond the ray's maximum distance.
    EXPECT_FALSE(tree->intersect(vmath::Ray(Point3f(4, 0.5f, 0.5f), Vec3f(1, 0, 0)), &t, &info));
    EXPECT_FALSE(tree->intersect(vmath::Ray(Point3f(-1, 0.5f, 0.5f), Vec3f(1, 0, 0), 0.5f), &t,
                                 &info));
    EXPECT_EQ(t, 42.0f);
    EXPECT_EQ(info.id, 99);
    EXPECT_EQ(info.u, 0.25f);
    EXPECT_EQ(boxes[0]->tests + boxes[1]->tests, 0);
}

TEST(KdTreeAccel, NearestHitIgnoresIncomingDistanceAndRespectsRayBound) {
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), 3));
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(2, 0, 0), Point3f(3, 1, 1), 4));
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(asPrimitives(boxes)));

    // Origin inside the tree's box, between the two boxes: each direction
    // finds the box on its side, at the distance of its near face.
    float t = 0.0f;
    IntersectInfo info;
    ASSERT_TRUE(tree->intersect(vmath::Ray(Point3f(1.5f, 0.5f, 0.5f), Vec3f(1, 0, 0)), &t, &info));
    EXPECT_EQ(info.id, 4);
    EXPECT_EQ(t, 0.5f);
    ASSERT_TRUE(tree->intersect(vmath::Ray(Point3f(1.5f, 0.5f, 0.5f), Vec3f(-2, 0, 0)), &t, &info));
    EXPECT_EQ(info.id, 3);
    EXPECT_EQ(t, 0.25f);
    EXPECT_TRUE(tree->intersect(vmath::Ray(Point3f(-1, 0.5f, 0.5f), Vec3f(1, 0, 0)), &t, &info));
    EXPECT_EQ(t, 1.0f);

    // A hit exactly at the ray's maximum distance does not count.
    t = 17.0f;
    EXPECT_FALSE(tree->intersect(vmath::Ray(Point3f(-1, 0.5f, 0.5f), Vec3f(1, 0, 0), 1.0f), &t,
                                 &info));
    EXPECT_EQ(t, 17.0f);
    EXPECT_TRUE(tree->intersect(vmath::Ray(Point3f(-1, 0.5f, 0.5f), Vec3f(1, 0, 0), 1.0001f), &t,
                                &info));
}

TEST(KdTreeAccel, WalksFrontToBackAndStopsAfterFrontLeaf) {
    std::vector<int> log;
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), 0, &log));
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(2, 0, 0), Point3f(3, 1, 1), 1, &log));
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(asPrimitives(boxes)));

    // Both boxes lie on the ray; only the front one is ever asked.
    EXPECT_TRUE(tree->occluded(vmath::Ray(Point3f(-1, 0.5f, 0.5f), Vec3f(1, 0, 0))));
    EXPECT_EQ(log, std::vector<int>{0});
    log.clear();
    float t;
    IntersectInfo info;
    EXPECT_TRUE(tree->intersect(vmath::Ray(Point3f(-1, 0.5f, 0.5f), Vec3f(1, 0, 0)), &t, &info));
    EXPECT_EQ(info.id, 0);
    EXPECT_EQ(log, std::vector<int>{0});

    // From the far side the above child comes first.
    log.clear();
    EXPECT_TRUE(tree->intersect(vmath::Ray(Point3f(5, 0.5f, 0.5f), Vec3f(-1, 0, 0)), &t, &info));
    EXPECT_EQ(info.id, 1);
    EXPECT_EQ(log, std::vector<int>{1});

    // Parallel to the split plane and off it: only the child on the origin's side.
    log.clear();
    EXPECT_TRUE(tree->intersect(vmath::Ray(Point3f(0.5f, 0.5f, -1), Vec3f(0, 0, 1)), &t, &info));
    EXPECT_EQ(log, std::vector<int>{0});
    log.clear();
    EXPECT_TRUE(tree->intersect(vmath::Ray(Point3f(2.5f, 0.5f, -1), Vec3f(0, 1e-3f, 1)), &t, &info));
    EXPECT_EQ(log, std::vector<int>{1});

    // Starting on the split plane: only the child the ray moves into.
    log.clear();
    tree->intersect(vmath::Ray(Point3f(1, 0.5f, 0.5f), Vec3f(1, 0, 0)), &t, &info);
    EXPECT_EQ(log, std::vector<int>{1});
    log.clear();
    tree->intersect(vmath::Ray(Point3f(1, 0.5f, 0.5f), Vec3f(-1, 0, 0)), &t, &info);
    EXPECT_EQ(log, std::vector<int>{0});

    // In the split plane: both children, the below child first, whichever
    // way the ray runs along the plane.
    for (float dz : {1.0f, -1.0f}) {
        log.clear();
        tree->intersect(vmath::Ray(Point3f(1, 0.5f, 0.5f - 2 * dz), Vec3f(0, 0, dz)), &t, &info);
        EXPECT_EQ(log, (std::vector<int>{0, 1})) << "dz " << dz;
    }
}

TEST(KdTreeAccel, EqualDistancesInOneLeafGoToLeafOrder) {
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), 10));
    boxes.push_back(std::make_unique<BoxPrim>(Point3f(0, 0, 0), Point3f(1, 1, 1), 20));
    const vmath::Ray ray(Point3f(0.5f, 0.5f, -1), Vec3f(0, 0, 1));
    float t;
    IntersectInfo info;

    std::vector<Primitive *> prims = asPrimitives(boxes);
    std::unique_ptr<KdTreeAccel> forward(makeKdTreeAccel(prims));
    ASSERT_TRUE(forward->intersect(ray, &t, &info));
    EXPECT_EQ(info.id, 10);

    std::reverse(prims.begin(), prims.end());
    std::unique_ptr<KdTreeAccel> backward(makeKdTreeAccel(prims));
    ASSERT_TRUE(backward->intersect(ray, &t, &info));
    EXPECT_EQ(info.id, 20);
}

TEST(KdTreeAccel, AgreesWithBruteForceOverRandomBoxes) {
    struct Params {
        int primitiveCost, stepCost;
        float bonus;
        int leafSize;
    };
    const Params params[] = {{80, 1, 0.5f, 1}, {10, 5, 0.0f, 4}, {80, 1, 1.0f, 2}};
    for (unsigned seed = 1; seed <= 3; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> pos(-10.0f, 10.0f), size(0.01f, 2.0f);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        std::vector<std::unique_ptr<BoxPrim>> boxes;
        for (int i = 0; i < 400; ++i) {
            Point3f lo(pos(rng), pos(rng), pos(rng));
            boxes.push_back(std::make_unique<BoxPrim>(
                lo, Point3f(lo.x + size(rng), lo.y + size(rng), lo.z + size(rng)), i));
        }
        const Params &p = params[seed - 1];
        KdTreeAccel tree(asPrimitives(boxes), p.primitiveCost, p.stepCost, p.bonus, p.leafSize, -1);
        for (int r = 0; r < 2000; ++r) {
            Vec3f d(unit(rng), unit(rng), unit(rng));
            if (r % 5 == 0) d[r % 3] = 0.0f;
            const vmath::Ray ray(Point3f(1.3f * pos(rng), 1.3f * pos(rng), 1.3f * pos(rng)), d,
                                 r % 4 == 0 ? 5.0f : vmath::kMaxFloat);
            float bestT = ray.maxDist;
            int bestId = -1;
            for (const auto &b : boxes) {
                float t0;
                if (b->box.intersectP(ray, &t0, nullptr) && t0 < bestT) {
                    bestT = t0;
                    bestId = b->id;
                }
            }
            float t = -1.0f;
            IntersectInfo info;
            const bool hit = tree.intersect(ray, &t, &info);
            ASSERT_EQ(hit, bestId >= 0) << "seed " << seed << " ray " << r;
            ASSERT_EQ(tree.occluded(ray), hit) << "seed " << seed << " ray " << r;
            if (!hit) continue;
            ASSERT_EQ(t, bestT) << "seed " << seed << " ray " << r;
            // Boxes entered at the same distance may be reported either way.
            if (info.id != bestId) {
                float t0;
                ASSERT_TRUE(boxes[info.id]->box.intersectP(ray, &t0, nullptr));
                ASSERT_EQ(t0, bestT) << "seed " << seed << " ray " << r;
            }
        }
    }
}

TEST(KdTreeAccel, ParallelBuildIsTheSerialTree) {
    // Enough boxes for the upper levels to be split into parallel tasks; many
    // share coordinates, so edge order at equal positions matters too.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> cell(0, 400);
    std::uniform_int_distribution<int> size(0, 3);
    std::vector<std::unique_ptr<BoxPrim>> boxes;
    for (int i = 0; i < 40000; ++i) {
        const Point3f lo(cell(rng) * 0.25f, cell(rng) * 0.25f, cell(rng) * 0.25f);
        const Point3f hi(lo.x + size(rng) * 0.25f, lo.y + size(rng) * 0.25f,
                         lo.z + size(rng) * 0.25f);
        boxes.push_back(std::make_unique<BoxPrim>(lo, hi, i));
    }
    const std::vector<Primitive *> prims = asPrimitives(boxes);
    const KdTreeAccel serial(prims, 80, 1, 0.5f, 1, -1, false);
    for (const char *threads : {"1", "2", "3"}) {
        ScopedEnv env("VORTAN_THREADS", threads);
        const KdTreeAccel parallel(prims, 80, 1, 0.5f, 1, -1, true);
        ASSERT_EQ(parallel.nextFreeNode, serial.nextFreeNode) << threads << " threads";
        EXPECT_EQ(parallel.nodeCapacity, serial.nodeCapacity);
        EXPECT_EQ(std::memcmp(parallel.nodes, serial.nodes,
                              sizeof(KdNode) * static_cast<size_t>(serial.nextFreeNode)),
                  0)
            << threads << " threads";
        EXPECT_EQ(parallel.leafIndices, serial.leafIndices) << threads << " threads";
    }
}
