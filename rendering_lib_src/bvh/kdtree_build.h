// The kd-tree's build: an axis-aligned binary partition of the primitives'
// common box with a surface-area cost model, its upper levels built as
// parallel tasks for large lists (the tree is the same either way).
#pragma once

#include <vector>

#include "bvh/kdtree_nodes.h"
#include "util/bounds.h"

class Primitive;

struct KdBuildParams {
    int primitiveCost;    // cost of testing one primitive against a ray
    int stepCost;         // cost of one traversal step
    int leafSize;         // a node with at most this many primitives becomes a leaf
    float emptySideBonus; // cost reduction (0..1) of a split with one empty side
    int depthLimit;       // <= 0: kdDefaultDepthLimit; lowered to kKdMaxDepth
    bool parallel;
};

// The built tree: nodes[0] is the root; primitives are numbered by their
// place in the list built over.
struct KdBuild {
    KdNode *nodes = nullptr; // nodeCapacity entries, 64-byte aligned; free with std::free
    int nodeCapacity = 0;
    int nodeCount = 0;
    std::vector<int> leafIndices; // primitive numbers of leaves with >= 2 primitives
    Bounds3f bounds;              // union of the primitives' world bounds
};

// The default depth limit for n primitives: round(8 + 1.3 floor(log2 n)).
int kdDefaultDepthLimit(int n);

// Builds the tree over `primitives` into *out. A list whose exact tree would
// hold too many primitive references or nodes for its size (long thin
// primitives crossing each other's boxes) gets a coarser tree within those
// limits, with a Warning. False, with a Warning and no nodes, when no tree
// can be made (a list too long for the node format, or no memory for the
// nodes).
bool buildKdTree(const std::vector<Primitive *> &primitives, const KdBuildParams &params,
                 KdBuild *out);
