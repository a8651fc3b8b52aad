// Kd-tree build and traversal: small trees checked node by node, the
// traversal order observed through counting test primitives, structural
// properties of trees over random boxes, and the accelerated World query
// against the linear one.
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

namespace {

// A seeded scene of spheres and three meshes (a bumpy tessellated sphere, a
// soup of small random triangles, an axis-aligned box whose faces lie in
// split planes), each bound to its own material through the World.
struct RandomScene {
    World world;
    explicit RandomScene(unsigned seed) {
        // The World logs every primitive it adds; keep the test output short.
        const int oldLevel = FLAGS_minloglevel;
        FLAGS_minloglevel = google::GLOG_WARNING;
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        int shapes = 0;
        auto nextMaterial = [&]() {
            const std::string n = std::to_string(shapes++);
            return world.addMaterial(
                std::make_unique<Lambert>(("mat" + n).c_str(), 1.0f, ColorChannel(1.0f)));
        };
        for (int i = 0; i < 12; ++i) {
            auto s = std::make_unique<SpherePrimitive>(
                Transform(), nextMaterial(), Point3f(5 * unit(rng), 5 * unit(rng), 5 * unit(rng)),
                0.6f + 0.5f * unit(rng));
            world.addPrimitive(std::move(s));
        }

        std::vector<Point3f> vertices;
        std::vector<int> indices;
        // Bumpy sphere: a latitude-longitude grid with random radii.
        const int rings = 16, segments = 24;
        for (int r = 0; r <= rings; ++r)
            for (int k = 0; k < segments; ++k) {
                const float theta = 3.14159265f * r / rings, phi = 6.2831853f * k / segments;
                const float rad = 2.0f + 0.3f * unit(rng);
                vertices.emplace_back(rad * std::sin(theta) * std::cos(phi) + 1.0f,
                                      rad * std::cos(theta), rad * std::sin(theta) * std::sin(phi));
            }
        for (int r = 0; r < rings; ++r)
            for (int k = 0; k < segments; ++k) {
                const int a = r * segments + k, b = r * segments + (k + 1) % segments;
                indices.insert(indices.end(), {a, a + segments, b, b, a + segments, b + segments});
            }
        addMesh(vertices, indices, rng, nextMaterial());

        // Soup of small triangles.
        vertices.clear();
        indices.clear();
        for (int i = 0; i < 400; ++i) {
            const Point3f c(6 * unit(rng), 6 * unit(rng), 6 * unit(rng));
            for (int k = 0; k < 3; ++k) {
                vertices.emplace_back(c.x + unit(rng), c.y + unit(rng), c.z + unit(rng));
                indices.push_back(3 * i + k);
            }
        }
        addMesh(vertices, indices, rng, nextMaterial());

        // Axis-aligned box [-4, -2] x [-1, 3] x [2, 3].
        vertices.clear();
        for (int k = 0; k < 8; ++k)
            vertices.emplace_back(k & 1 ? -2.0f : -4.0f, k & 2 ? 3.0f : -1.0f, k & 4 ? 3.0f : 2.0f);
        indices = {0, 1, 3, 0, 3, 2, 4, 5, 7, 4, 7, 6, 0, 1, 5, 0, 5, 4,
                   2, 3, 7, 2, 7, 6, 0, 2, 6, 0, 6, 4, 1, 3, 7, 1, 7, 5};
        addMesh(vertices, indices, rng, nextMaterial());

        world.finishShapes();
        FLAGS_minloglevel = oldLevel;
    }

    // A mesh with random per-vertex normals and uvs, so records differ
    // between triangles.
    void addMesh(const std::vector<Point3f> &vertices, const std::vector<int> &indices,
                 std::mt19937 &rng, Material *material) {
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        std::vector<Vec3f> normals;
        std::vector<Point2f> uvs;
        for (size_t i = 0; i < vertices.size(); ++i) {
            normals.emplace_back(unit(rng), unit(rng), 1.0f);
            uvs.emplace_back(unit(rng), unit(rng));
        }
        std::vector<Vec3f> tangents(indices.size(), Vec3f(1, 0, 0));
        auto mesh = std::make_unique<MeshShape>(Transform(), material);
        const int nTri = static_cast<int>(indices.size() / 3), nVert = static_cast<int>(vertices.size());
        mesh->setData(nTri, nVert, indices.data(), vertices.data(), nVert, indices.data(),
                      normals.data(), tangents.data(), nVert, uvs.data());
        world.addMesh(std::move(mesh));
    }

    // Primitives hit at exactly distance t by the (bounded) ray.
    int hitsAt(const vmath::Ray &ray, float t) const {
        int n = 0;
        for (const Primitive *p : world.primitives) {
            float tp = vmath::kMaxFloat;
            IntersectInfo scratch;
            if (p->intersect(ray, &tp, &scratch) && tp == t) ++n;
        }
        return n;
    }
};

} // namespace

TEST(KdTreeAccel, AcceleratedWorldAgreesWithLinearSearch) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
        RandomScene scene(seed);
        World &world = scene.world;
        std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(world.primitives));
        std::mt19937 rng(1000 + seed);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f), dist(0.05f, 6.0f);
        int hits = 0;
        for (int r = 0; r < 2000; ++r) {
            Point3f o(7 * unit(rng), 7 * unit(rng), 7 * unit(rng));
            Vec3f d(unit(rng), unit(rng), unit(rng));
            float tMax = vmath::kMaxFloat, rayMax = vmath::kMaxFloat;
            switch (r % 6) {
            case 0: // from outside the scene towards it
                o = Point3f(20 * d.x, 20 * d.y, 20 * d.z);
                d = Point3f(3 * unit(rng), 3 * unit(rng), 3 * unit(rng)) - o;
                break;
            case 1: // along an axis, parallel to two split planes
                d = Vec3f();
                d[r / 6 % 3] = (r / 18) % 2 ? 1.0f : -1.0f;
                break;
            case 2: // parallel to one split plane
                d[r / 6 % 3] = 0.0f;
                break;
            case 3: // shadow-style query with a short bound
                d = vmath::normalized(d);
                tMax = dist(rng);
                break;
            case 4: // the bound carried by the ray itself
                rayMax = dist(rng);
                break;
            default: // secondary ray leaving the hit of a first one
                break;
            }
            vmath::Ray ray(o, d, rayMax);
            if (r % 6 == 5) {
                IntersectInfo first;
                world.accelerator = nullptr;
                world.intersect(first, ray, tMax);
                if (first.id != -1) {
                    d = vmath::reflect(vmath::normalized(d), first.normal);
                    ray = vmath::Ray(first.position + d * 0.01f, d);
                }
            }

            IntersectInfo linear, fast;
            world.accelerator = nullptr;
            const float tLinear = world.intersect(linear, ray, tMax);
            world.accelerator = tree.get();
            const float tFast = world.intersect(fast, ray, tMax);
            world.accelerator = nullptr;

            const std::string where = "seed " + std::to_string(seed) + " ray " + std::to_string(r);
            if (linear.id == -1) {
                ASSERT_EQ(fast.id, -1) << where;
                continue;
            }
            ++hits;
            ASSERT_EQ(tFast, tLinear) << where;
            ASSERT_EQ(fast.ray.origin, ray.origin) << where;
            ASSERT_EQ(fast.ray.direction, ray.direction) << where;
            ASSERT_EQ(fast.ray.maxDist, ray.maxDist) << where;
            const bool same = fast.id == linear.id && fast.material == linear.material &&
                              fast.position == linear.position && fast.normal == linear.normal &&
                              fast.u == linear.u && fast.v == linear.v;
            if (!same) {
                // Only two primitives hit at exactly the same distance may
                // be reported differently.
                vmath::Ray bounded = ray;
                bounded.maxDist = std::min(tMax, ray.maxDist);
                ASSERT_GE(scene.hitsAt(bounded, tLinear), 2) << where;
            }
        }
        // The rays must actually hit things for the comparison to mean much.
        EXPECT_GT(hits, 450) << "seed " << seed;
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

namespace {

// A unit quad of two triangles in the plane z = 0, spanning [x0, x0 + 1] x [0, 1].
std::unique_ptr<MeshShape> flatQuad(float x0) {
    auto mesh = std::make_unique<MeshShape>(Transform(), nullptr);
    const Point3f p[4] = {Point3f(x0, 0, 0), Point3f(x0 + 1, 0, 0), Point3f(x0 + 1, 1, 0),
                          Point3f(x0, 1, 0)};
    const int vi[6] = {0, 1, 2, 0, 2, 3};
    const Vec3f n[1] = {Vec3f(0, 0, 1)};
    const int ni[6] = {0, 0, 0, 0, 0, 0};
    const Vec3f tg[6] = {Vec3f(1, 0, 0), Vec3f(1, 0, 0), Vec3f(1, 0, 0),
                         Vec3f(1, 0, 0), Vec3f(1, 0, 0), Vec3f(1, 0, 0)};
    const Point2f uv[4] = {Point2f(0, 0), Point2f(1, 0), Point2f(1, 1), Point2f(0, 1)};
    mesh->setData(2, 4, vi, p, 1, ni, n, tg, 4, uv);
    return mesh;
}

} // namespace

TEST(KdTreeAccel, AgreesWithLinearSearchOnSharedEdgesOfAFlatScene) {
    // Two quads sharing the edge x = 0 in one plane: the tree's box is flat
    // and the shared edge lies in a split plane. The right-hand quad comes
    // first in the list, so at equal distances it must win in both searches.
    World world;
    world.addMesh(flatQuad(0.0f));
    world.addMesh(flatQuad(-1.0f));
    world.finishShapes();
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(world.primitives));
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int hits = 0;
    for (int r = 0; r < 20000; ++r) {
        // Aimed at the shared edge, or at the quads' diagonals, from above
        // and below at many angles.
        const float x = (r % 3 == 0) ? 0.0f : unit(rng) * 4e-7f;
        const float y = 0.5f * (unit(rng) + 1.0f);
        const Point3f target(r % 5 == 0 ? 0.5f + x : x, r % 5 == 0 ? 0.5f + x : y, 0.0f);
        const Vec3f d(unit(rng), unit(rng), r % 2 ? -1.0f : 1.0f);
        const vmath::Ray ray(target - 2.0f * d, d);

        IntersectInfo linear, fast;
        world.accelerator = nullptr;
        const float tLinear = world.intersect(linear, ray, vmath::kMaxFloat);
        const bool blockedLinear = world.occluded(ray, tLinear);
        world.accelerator = tree.get();
        const float tFast = world.intersect(fast, ray, vmath::kMaxFloat);
        const bool blockedFast = world.occluded(ray, tLinear);
        world.accelerator = nullptr;

        const std::string where = "ray " + std::to_string(r);
        ASSERT_EQ(fast.id, linear.id) << where;
        // A hit exactly at the bound does not block.
        EXPECT_FALSE(blockedLinear) << where;
        EXPECT_FALSE(blockedFast) << where;
        if (linear.id == -1) continue;
        ++hits;
        ASSERT_EQ(tFast, tLinear) << where;
        ASSERT_EQ(fast.normal, linear.normal) << where;
        ASSERT_EQ(fast.u, linear.u) << where;
        ASSERT_EQ(fast.v, linear.v) << where;
    }
    EXPECT_GT(hits, 15000);
}

TEST(KdTreeAccel, OcclusionCountsOnlyHitsBeforeTheBound) {
    // A quad at distance 2 and a sphere behind it, with and without the tree:
    // a bound at the hit distance itself does not block, just beyond it does.
    World world;
    world.addMesh(flatQuad(-0.5f));
    world.addPrimitive(
        std::make_unique<SpherePrimitive>(Transform(), nullptr, Point3f(0, 0.5f, -4), 1.0f));
    world.finishShapes();
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(world.primitives));
    const vmath::Ray toQuad(Point3f(0, 0.5f, 2), Vec3f(0, 0, -1));
    const vmath::Ray toSphere(Point3f(0, 0.5f, -1), Vec3f(0, 0, -1)); // sphere front at t = 2
    for (bool accelerated : {false, true}) {
        world.accelerator = accelerated ? tree.get() : nullptr;
        for (const vmath::Ray &ray : {toQuad, toSphere}) {
            IntersectInfo info;
            const float t = world.intersect(info, ray, vmath::kMaxFloat);
            ASSERT_NE(info.id, -1);
            EXPECT_EQ(t, 2.0f);
            EXPECT_FALSE(world.occluded(ray, 2.0f)) << accelerated;
            EXPECT_TRUE(world.occluded(ray, std::nextafter(2.0f, 3.0f))) << accelerated;
            EXPECT_FALSE(world.occluded(ray, 1.5f)) << accelerated;
        }
    }
    world.accelerator = nullptr;
}

TEST(KdTreeAccel, ShapeWithNaNBoundsIsAskedLikeInTheLinearSearch) {
    // A sphere whose radius is NaN has no usable box; the tree must still
    // give every ray the answer the linear search gives, whatever that is.
    World world;
    world.addMesh(flatQuad(-0.5f));
    world.addPrimitive(std::make_unique<SpherePrimitive>(Transform(), nullptr, Point3f(0, 0, -3),
                                                         -std::numeric_limits<float>::quiet_NaN()));
    world.finishShapes();
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(world.primitives));
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int r = 0; r < 200; ++r) {
        const vmath::Ray ray(Point3f(unit(rng), unit(rng), 3), Vec3f(unit(rng), unit(rng), -1));
        IntersectInfo linear, fast;
        world.accelerator = nullptr;
        const float tLinear = world.intersect(linear, ray, vmath::kMaxFloat);
        world.accelerator = tree.get();
        const float tFast = world.intersect(fast, ray, vmath::kMaxFloat);
        world.accelerator = nullptr;
        ASSERT_EQ(fast.id, linear.id) << "ray " << r;
        if (linear.id != -1) {
            ASSERT_EQ(tFast, tLinear) << "ray " << r;
        }
    }
}
