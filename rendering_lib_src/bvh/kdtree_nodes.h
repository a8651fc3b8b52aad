// The kd-tree's records: its nodes, and the box sides its build sorts.
#pragma once

#include <glog/logging.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// The deepest tree the traversal stack can walk; builds never go deeper.
constexpr int kKdMaxDepth = 64;

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
