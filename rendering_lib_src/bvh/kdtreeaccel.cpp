// The kd-tree: built by kdtree_build, its triangle records, and its ray
// queries, a front-to-back walk through the nodes a ray crosses that tests
// the primitives of each leaf on the way.
#include "bvh/kdtreeaccel.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <utility>

#include "bvh/kdtree_build.h"
#include "bvh/page_allocator.h"
#include "shapes/mesh.h"

namespace {

// The walk's node intervals carry a little slack. The split-plane and box
// distances are rounded differently from a primitive's own hit distance, so
// a hit that lies on a split plane, a shared edge or the tree's box may
// compute as just outside the node the walk would otherwise settle for.
// Every interval the walk makes starts a little early and ends a little
// late (the box's, and the children's at a split), and the decisions
// compare with those intervals, so such nodes are visited too. Visiting more
// never changes an answer: a hit is accepted by its own distance and its
// place in the list.
constexpr float kWalkSlack = 1.0f / 2097152.0f; // 2^-21, a few float steps
// t moved down (lowerBound) or up (upperBound) by the slack; infinities
// stay, NaN stays NaN (and then every comparison fails, which visits more).
inline float lowerBound(float t) {
    return t * (1.0f - std::copysign(kWalkSlack, t)) - FLT_MIN;
}
inline float upperBound(float t) {
    return t * (1.0f + std::copysign(kWalkSlack, t)) + FLT_MIN;
}

// The ray's interval in the tree's box, widened by the slack on both ends.
// A NaN slab distance (a zero direction component on the slab's face) fails
// every comparison and so takes nothing away.
bool enterBox(const Bounds3f &box, const vmath::Ray &ray, float *tEnter, float *tExit) {
    float t0 = 0.0f, t1 = upperBound(ray.maxDist);
    for (int i = 0; i < 3; ++i) {
        const float inv = 1.0f / ray.direction[i];
        float tNear = (box.pMin[i] - ray.origin[i]) * inv;
        float tFar = (box.pMax[i] - ray.origin[i]) * inv;
        if (tNear > tFar) std::swap(tNear, tFar);
        tNear = lowerBound(tNear);
        tFar = upperBound(tFar);
        if (tNear > t0) t0 = tNear;
        if (tFar < t1) t1 = tFar;
        if (t0 > t1) return false;
    }
    *tEnter = t0;
    *tExit = t1;
    return true;
}

// A node still to be visited, with the ray's interval inside it.
struct PendingNode {
    const KdNode *node;
    float tMin, tMax;
};

// The walk shared by the queries: front to back through the nodes the ray
// crosses, calling visitLeaf(node) at every leaf. visitLeaf returns true to
// end the walk; skipNode(tMin) passes over a node whose interval starts at
// tMin.
template <typename LeafFn, typename StopFn>
void walkTree(const KdNode *nodes, const Bounds3f &bounds, const vmath::Ray &ray,
              LeafFn &&visitLeaf, StopFn &&skipNode) {
    float tMin, tMax;
    if (!enterBox(bounds, ray, &tMin, &tMax)) return;

    const float origin[3] = {ray.origin.x, ray.origin.y, ray.origin.z};
    const float dir[3] = {ray.direction.x, ray.direction.y, ray.direction.z};
    const float invDir[3] = {1 / dir[0], 1 / dir[1], 1 / dir[2]};

    // At most one entry per tree level is pending, and the build keeps the
    // depth at or below KdTreeAccel::kMaxDepth.
    PendingNode todo[KdTreeAccel::kMaxDepth];
    int todoPos = 0;
    const KdNode *node = &nodes[0];
    for (;;) {
        // A node that starts beyond the nearest hit is skipped, not the end of
        // the walk: a ray lying in a split plane pushes children whose
        // intervals are not ordered front to back, so a node further down the
        // stack may still start before it.
        if (!skipNode(tMin)) {
            if (!node->isLeaf()) {
                const int axis = node->splitAxis();
                const float split = node->splitPos();
                const float tPlane = (split - origin[axis]) * invDir[axis];
                const bool belowFirst =
                    origin[axis] < split || (origin[axis] == split && dir[axis] <= 0);
                const KdNode *below = node + 1;
                const KdNode *above = &nodes[node->aboveChild()];
                const KdNode *first = belowFirst ? below : above;
                const KdNode *second = belowFirst ? above : below;
                if (tPlane > tMax || tPlane <= 0) {
                    // The plane lies beyond the interval, or behind the
                    // origin (or at it: the ray moves into the first child).
                    node = first;
                } else if (tPlane < tMin) {
                    node = second;
                } else {
                    // The far child is visited later: start fetching it now.
                    __builtin_prefetch(second);
                    todo[todoPos++] = PendingNode{second, lowerBound(tPlane), tMax};
                    node = first;
                    tMax = upperBound(tPlane);
                }
                continue;
            }
            if (visitLeaf(*node)) return;
        }
        if (todoPos == 0) return;
        --todoPos;
        node = todo[todoPos].node;
        tMin = todo[todoPos].tMin;
        tMax = todo[todoPos].tMax;
    }
}



// The corners of a cached triangle (always a mesh triangle), for the
// watertight test of rays that pass close to its edges.
TriangleCorners cornersOf(const std::vector<Primitive *> &primitives, int num) {
    const auto *triangle = static_cast<const TrianglePrimitive *>(primitives[num]);
    return triangle->mesh->worldCorners(triangle->index);
}


} // namespace

int KdTreeAccel::defaultDepthLimit(int n) { return kdDefaultDepthLimit(n); }

KdTreeAccel::KdTreeAccel(std::vector<Primitive *> prims, int primitiveCost_, int stepCost_,
                         float emptySideBonus_, int leafSize_, int depthLimit, bool parallel)
    : primitiveCost(primitiveCost_),
      stepCost(stepCost_),
      leafSize(leafSize_),
      emptySideBonus(emptySideBonus_),
      primitives(std::move(prims)) {
    KdBuild built;
    if (!buildKdTree(primitives,
                     {primitiveCost, stepCost, leafSize, emptySideBonus, depthLimit, parallel},
                     &built))
        return;
    nodes = built.nodes;
    nodeCapacity = built.nodeCapacity;
    nextFreeNode = built.nodeCount;
    leafIndices = std::move(built.leafIndices);
    bounds = built.bounds;
    cacheTriangles();
}

KdTreeAccel::~KdTreeAccel() { std::free(nodes); }

void KdTreeAccel::cacheTriangles() {
    triangles.reserve(primitives.size());
    adviseHugePages(triangles.data(), primitives.size() * sizeof(KdTriangle));
    triangles.resize(primitives.size());
    for (size_t i = 0; i < primitives.size(); ++i) {
        KdTriangle &record = triangles[i];
        const TrianglePrimitive *tri = primitives[i]->meshTriangle();
        if (tri == nullptr || tri->mesh == nullptr ||
            !tri->mesh->worldEdges(tri->index, &record.p0, &record.e1, &record.e2) ||
            !tri->mesh->attributesValid(tri->index)) {
            record.markNotCached();
            continue;
        }
        // Any NaN corner fails every test alike; keep it from looking like
        // the mark.
        if (std::isnan(record.p0.x)) record.p0.x = std::numeric_limits<float>::quiet_NaN();
    }
}

KdTreeAccel *makeKdTreeAccel(std::vector<Primitive *> prims) {
    auto *tree = new KdTreeAccel(std::move(prims), 80, 1, 0.5f, 1, -1);
    if (tree->built()) return tree;
    delete tree;
    return nullptr;
}

// Tests the primitives of one leaf that the query has not tested yet, in
// list order. The query gives the distance bound each test runs to
// (triangleBound for the cached triangle records, primitiveBound for a
// primitive's own test, which takes hits strictly below it) and hears of
// every hit through hit(num, t, b1, b2, info): the barycentrics of a cached
// triangle, or the record a primitive filled. hit returns true to end the
// walk, and so does testLeaf then.
template <class Query>
bool KdTreeAccel::testLeaf(const KdNode &leaf, const vmath::Ray &ray, RecentlyTested &recent,
                           uint32_t &tests, IntersectInfo *scratch, Query &query) const {
    const int n = leaf.nPrimitives();
    const int *index = leafPrimitives(leaf);
    for (int i = 0; i < n; ++i) {
        const int num = index[i];
        if (recent.contains(num)) continue;
        recent.add(num);
        const KdTriangle &tri = triangles[num];
        float t;
        if (tri.cached()) {
            ++tests;
            float b1, b2;
            if (!rayTriangle(ray, tri.p0, tri.e1, tri.e2, query.triangleBound(), &t, &b1, &b2,
                             [&] { return cornersOf(primitives, num); }))
                continue;
            if (query.hit(num, t, b1, b2, nullptr)) return true;
        } else {
            t = query.primitiveBound();
            if (!primitives[num]->intersect(ray, &t, scratch)) continue;
            if (query.hit(num, t, 0.0f, 0.0f, scratch)) return true;
        }
    }
    return false;
}

namespace {

// The nearest hit. Of equally distant hits the primitive earliest in the
// list wins, whatever order the leaves are visited in, so that the answer is
// the one a linear search over the list gives. Each primitive is therefore
// asked for hits up to and including the nearest distance so far. A
// triangle hit is kept as its barycentrics; its record is filled once the
// nearest is known. Other primitives fill a record as they hit.
struct NearestQuery {
    const std::vector<Primitive *> &primitives;
    IntersectInfo *info;
    bool found = false;
    float nearest;
    int nearestNum = 0; // primitive number of the nearest hit
    const TrianglePrimitive *nearestTriangle = nullptr;
    float nearestB1 = 0.0f, nearestB2 = 0.0f;

    // A hit at exactly the nearest distance still counts when it comes from
    // a primitive earlier in the list.
    float triangleBound() const { return found ? nearest : vmath::kMaxFloat; }
    // A primitive's own test takes hits strictly below its bound: ask for
    // hits up to and including the nearest.
    float primitiveBound() const {
        constexpr float kInfinity = std::numeric_limits<float>::infinity();
        return found ? std::nextafter(nearest, kInfinity) : vmath::kMaxFloat;
    }
    bool hit(int num, float t, float b1, float b2, const IntersectInfo *filled) {
        if (!(t < nearest || (found && t == nearest && num < nearestNum))) return false;
        if (filled == nullptr) {
            // Only mesh triangles have cached records.
            nearestTriangle = static_cast<const TrianglePrimitive *>(primitives[num]);
            nearestB1 = b1;
            nearestB2 = b2;
        } else {
            nearestTriangle = nullptr;
            *info = *filled;
        }
        found = true;
        nearest = t;
        nearestNum = num;
        return false;
    }
};

// Any hit strictly before the ray's bound, as in the nearest-hit query.
struct OcclusionQuery {
    float limit;
    bool blocked = false;

    float triangleBound() const { return limit; }
    float primitiveBound() const { return limit; }
    bool hit(int, float t, float, float, const IntersectInfo *) {
        if (!(t < limit)) return false;
        blocked = true;
        return true;
    }
};

} // namespace

bool KdTreeAccel::intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const {
    if (!built()) return false;
    NearestQuery query{primitives, info, false, ray.maxDist};
    uint32_t tests = 0;
    RecentlyTested recent;
    IntersectInfo localInfo;
    walkTree(
        nodes, bounds, ray,
        [&](const KdNode &leaf) {
            return testLeaf(leaf, ray, recent, tests, &localInfo, query);
        },
        // Nothing in a node that starts beyond the nearest hit can be
        // nearer, or as near: node intervals already start early.
        [&](float tMin) { return query.nearest < tMin; });
    g_intersected += tests;
    if (!query.found) return false;
    *t = query.nearest;
    if (query.nearestTriangle != nullptr)
        query.nearestTriangle->fillHit(ray, query.nearest, query.nearestB1, query.nearestB2,
                                       info);
    return true;
}

bool KdTreeAccel::occluded(const vmath::Ray &ray) const {
    if (!built()) return false;
    OcclusionQuery query{ray.maxDist};
    uint32_t tests = 0;
    RecentlyTested recent;
    IntersectInfo scratch;
    walkTree(
        nodes, bounds, ray,
        [&](const KdNode &leaf) { return testLeaf(leaf, ray, recent, tests, &scratch, query); },
        [](float) { return false; });
    g_intersected += tests;
    return query.blocked;
}
