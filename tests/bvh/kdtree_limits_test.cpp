// A fan of long thin triangles that all touch one corner puts nearly every
// triangle on both sides of every split of a kd-tree. The tree must stay
// within a small multiple of the triangle count, answer every ray as the
// linear search does, and be the same for any number of build threads.
#include <glog/logging.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bvh/kdtreeaccel.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"

TEST(KdTreeAccel, SliverFanTreeStaysWithinAFewReferencesPerTriangle) {
    // The exact tree of 1200 slivers held over 20,000 references per
    // triangle; 20,000 slivers are built in parallel pieces.
    for (const int corners : {1200, 20000}) {
        const std::string where = std::to_string(corners) + " corners";
        // A polygon around the unit circle, split as a fan from its first
        // corner; its corners climb in z, so that each sliver has a plane of
        // its own and a hit's distance tells which one was hit.
        std::vector<Point3f> points;
        std::vector<int> indices;
        for (int i = 0; i < corners; ++i) {
            const float a = 6.28318531f * static_cast<float>(i) / static_cast<float>(corners);
            points.emplace_back(std::cos(a), std::sin(a), 0.1f * a);
            if (i >= 1 && i + 1 < corners) indices.insert(indices.end(), {0, i, i + 1});
        }
        auto fan = std::make_unique<MeshShape>(Transform(), nullptr);
        fan->setData(corners - 2, corners, indices.data(), points.data(), 0, nullptr, nullptr,
                     nullptr, 0, nullptr);
        World world;
        world.addMesh(std::move(fan));
        world.finishShapes();

        std::unique_ptr<KdTreeAccel> tree;
        {
            LogCapture log;
            ScopedEnv threads("VORTAN_THREADS", "1");
            tree.reset(makeKdTreeAccel(world.primitives));
            const auto warnings = log.texts(google::GLOG_WARNING);
            ASSERT_EQ(warnings.size(), 1u) << where;
            EXPECT_NE(warnings[0].find("building a coarser tree"), std::string::npos) << where;
        }
        ASSERT_NE(tree, nullptr) << where;
        size_t references = 0;
        for (int i = 0; i < tree->nextFreeNode; ++i)
            if (tree->nodes[i].isLeaf()) references += tree->nodes[i].nPrimitives();
        const size_t n = world.primitives.size();
        EXPECT_LE(references, 100 * n) << where;
        EXPECT_LE(static_cast<size_t>(tree->nextFreeNode), 200 * n) << where;

        {
            ScopedEnv threads("VORTAN_THREADS", "2");
            std::unique_ptr<KdTreeAccel> again(makeKdTreeAccel(world.primitives));
            ASSERT_EQ(again->nextFreeNode, tree->nextFreeNode) << where;
            EXPECT_EQ(std::memcmp(again->nodes, tree->nodes,
                                  sizeof(KdNode) * static_cast<size_t>(tree->nextFreeNode)),
                      0)
                << where;
            EXPECT_EQ(again->leafIndices, tree->leafIndices) << where;
        }

        std::mt19937 rng(static_cast<unsigned>(corners));
        std::uniform_real_distribution<float> unit(-1.1f, 1.1f);
        int hits = 0;
        for (int r = 0; r < 300; ++r) {
            const vmath::Ray ray(Point3f(unit(rng), unit(rng), 3.0f),
                                 Vec3f(0.2f * unit(rng), 0.2f * unit(rng), -1.0f));
            IntersectInfo linear, fast;
            world.accelerator = nullptr;
            const float tLinear = world.intersect(linear, ray, vmath::kMaxFloat);
            world.accelerator = tree.get();
            const float tFast = world.intersect(fast, ray, vmath::kMaxFloat);
            world.accelerator = nullptr;
            ASSERT_EQ(fast.id, linear.id) << where << ", ray " << r;
            if (linear.id == -1) continue;
            ++hits;
            ASSERT_EQ(tFast, tLinear) << where << ", ray " << r;
        }
        EXPECT_GT(hits, 150) << where;
    }
}
