// Every accelerator against the linear search, in one table: random rays
// over seeded scenes of spheres, meshes and copies of a mesh; rays at the
// shared edges of a flat scene; the distance bound of the shadow query; a
// shape without a usable box. The kd-tree tests triangles with the mesh's
// own arithmetic and must agree bit for bit. Embree's triangle test rounds
// its own way: it must report the same primitive at a distance within a
// relative 1e-5, except for rays that pass close to an edge, and it must
// leave no crack between triangles that share an edge.
#include <glog/logging.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bvh/kdtreeaccel.h"
#include "materials/material.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "shapes/sphere.h"
#if VORTAN_HAVE_EMBREE
#include "bvh/embree_accel.h"
#endif

namespace {

struct AcceleratorCase {
    const char *name;
    // Tests triangles with the mesh's own arithmetic: agrees bit for bit.
    bool exact;
    std::unique_ptr<Accelerator> (*make)(const std::vector<Primitive *> &prims);
};

std::unique_ptr<Accelerator> makeKdTree(const std::vector<Primitive *> &prims) {
    return std::unique_ptr<Accelerator>(makeKdTreeAccel(prims));
}
#if VORTAN_HAVE_EMBREE
std::unique_ptr<Accelerator> makeEmbree(const std::vector<Primitive *> &prims) {
    return EmbreeAccel::build(prims, 2, false);
}
#endif

const AcceleratorCase kAccelerators[] = {
    {"kdtree", true, makeKdTree},
#if VORTAN_HAVE_EMBREE
    {"embree", false, makeEmbree},
#endif
};

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

// A seeded scene of spheres and three meshes (a bumpy tessellated sphere, a
// soup of small random triangles, an axis-aligned box whose faces lie in
// split planes), each bound to its own material through the World, and two
// copies of the bumpy sphere that read its lists (turned, scaled, moved).
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
        const MeshShape &bumpy = addMesh(vertices, indices, rng, nextMaterial());
        const Transform copies[2] = {
            makeTranslate(Vec3f(-4.0f, 3.0f, -3.0f)) * makeScale(0.6f, 0.6f, 0.6f),
            Transform(Matrix4x4(0.0f, -0.9f, 0.0f, 4.0f, 0.9f, 0.0f, 0.0f, -4.0f, 0.0f, 0.0f,
                                0.7f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f))};
        for (const Transform &place : copies)
            world.addMesh(std::make_unique<MeshShape>(place, nextMaterial(), bumpy));

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
    const MeshShape &addMesh(const std::vector<Point3f> &vertices,
                             const std::vector<int> &indices, std::mt19937 &rng,
                             Material *material) {
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
        return *world.addMesh(std::move(mesh));
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


// The number of the primitive whose hit the linear search reports for the
// ray (below its maxDist), or -1.
int nearestPrimitive(const std::vector<Primitive *> &prims, const vmath::Ray &ray) {
    int nearest = -1;
    float bound = ray.maxDist;
    for (size_t i = 0; i < prims.size(); ++i) {
        float t = bound;
        IntersectInfo scratch;
        if (prims[i]->intersect(ray, &t, &scratch) && t < bound) {
            bound = t;
            nearest = static_cast<int>(i);
        }
    }
    return nearest;
}

// True when the ray passes close to an edge (or grazes a surface): moved by
// a thousandth sideways, it meets another primitive first, or none.
bool nearAnEdge(const std::vector<Primitive *> &prims, const vmath::Ray &ray) {
    const int here = nearestPrimitive(prims, ray);
    const Vec3f d = vmath::normalized(ray.direction);
    const Vec3f helper = std::fabs(d.x) < 0.6f ? Vec3f(1, 0, 0) : Vec3f(0, 1, 0);
    const Vec3f side1 = vmath::normalized(vmath::cross(d, helper));
    const Vec3f side2 = vmath::cross(d, side1);
    for (const Vec3f &side : {side1, side2, -side1, -side2}) {
        vmath::Ray moved = ray;
        moved.origin = ray.origin + 1e-3f * side;
        if (nearestPrimitive(prims, moved) != here) return true;
    }
    return false;
}

} // namespace

TEST(Accelerators, AgreeWithLinearSearchOnRandomScenes) {
    for (const AcceleratorCase &accel : kAccelerators) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            RandomScene scene(seed);
            World &world = scene.world;
            std::unique_ptr<Accelerator> fastSearch = accel.make(world.primitives);
            ASSERT_NE(fastSearch, nullptr) << accel.name;
            std::mt19937 rng(1000 + seed);
            std::uniform_real_distribution<float> unit(-1.0f, 1.0f), dist(0.05f, 6.0f);
            int hits = 0, nearEdges = 0;
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
                const bool blockedLinear = world.occluded(ray, tMax);
                world.accelerator = fastSearch.get();
                const float tFast = world.intersect(fast, ray, tMax);
                const bool blockedFast = world.occluded(ray, tMax);
                world.accelerator = nullptr;

                const std::string where = std::string(accel.name) + " seed " +
                                          std::to_string(seed) + " ray " + std::to_string(r);
                vmath::Ray bounded = ray;
                bounded.maxDist = std::min(tMax, ray.maxDist);
                if (!accel.exact) {
                    // The same primitive at nearly the same distance, or a
                    // ray close to an edge.
                    const bool agree =
                        fast.id == linear.id && blockedFast == blockedLinear &&
                        (linear.id == -1 || std::fabs(tFast - tLinear) <= 1e-5f * tLinear);
                    if (linear.id != -1) ++hits;
                    if (agree) continue;
                    ASSERT_TRUE(nearAnEdge(world.primitives, bounded)) << where;
                    ++nearEdges;
                    continue;
                }
                ASSERT_EQ(blockedFast, blockedLinear) << where;
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
                                  fast.position == linear.position &&
                                  fast.normal == linear.normal && fast.u == linear.u &&
                                  fast.v == linear.v;
                if (!same) {
                    // Only two primitives hit at exactly the same distance may
                    // be reported differently.
                    ASSERT_GE(scene.hitsAt(bounded, tLinear), 2) << where;
                }
            }
            // The rays must actually hit things for the comparison to mean much.
            EXPECT_GT(hits, 450) << accel.name << " seed " << seed;
            EXPECT_LE(nearEdges, 20) << accel.name << " seed " << seed;
        }
    }
}

TEST(Accelerators, LeaveNoCrackAtSharedEdgesOfAFlatScene) {
    // Two quads sharing the edge x = 0 in one plane: the tree's box is flat
    // and the shared edge lies in a split plane. The right-hand quad comes
    // first in the list, so at equal distances it must win in the exact
    // searches. Every ray aims inside the two quads, so every ray hits.
    World world;
    world.addMesh(flatQuad(0.0f));
    world.addMesh(flatQuad(-1.0f));
    world.finishShapes();
    for (const AcceleratorCase &accel : kAccelerators) {
        std::unique_ptr<Accelerator> fastSearch = accel.make(world.primitives);
        ASSERT_NE(fastSearch, nullptr) << accel.name;
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
            world.accelerator = fastSearch.get();
            const float tFast = world.intersect(fast, ray, vmath::kMaxFloat);
            const bool blockedFast = world.occluded(ray, tLinear);
            world.accelerator = nullptr;

            const std::string where = std::string(accel.name) + " ray " + std::to_string(r);
            ASSERT_NE(linear.id, -1) << where;
            ASSERT_NE(fast.id, -1) << where;
            // A hit exactly at the bound does not block.
            EXPECT_FALSE(blockedLinear) << where;
            if (!accel.exact) {
                ASSERT_NEAR(tFast, tLinear, 1e-5f * tLinear) << where;
                continue;
            }
            EXPECT_FALSE(blockedFast) << where;
            ASSERT_EQ(fast.id, linear.id) << where;
            ++hits;
            ASSERT_EQ(tFast, tLinear) << where;
            ASSERT_EQ(fast.normal, linear.normal) << where;
            ASSERT_EQ(fast.u, linear.u) << where;
            ASSERT_EQ(fast.v, linear.v) << where;
        }
    }
}

TEST(Accelerators, OcclusionCountsOnlyHitsBeforeTheBound) {
    // A quad at distance 2 and a sphere behind it, with and without each
    // accelerator: a bound at the hit distance itself does not block, just
    // beyond it does.
    World world;
    world.addMesh(flatQuad(-0.5f));
    world.addPrimitive(
        std::make_unique<SpherePrimitive>(Transform(), nullptr, Point3f(0, 0.5f, -4), 1.0f));
    world.finishShapes();
    const vmath::Ray toQuad(Point3f(0, 0.5f, 2), Vec3f(0, 0, -1));
    const vmath::Ray toSphere(Point3f(0, 0.5f, -1), Vec3f(0, 0, -1)); // sphere front at t = 2
    for (const AcceleratorCase &accel : kAccelerators) {
        std::unique_ptr<Accelerator> fastSearch = accel.make(world.primitives);
        for (const Accelerator *search : {static_cast<const Accelerator *>(nullptr),
                                          static_cast<const Accelerator *>(fastSearch.get())}) {
            SCOPED_TRACE(search == nullptr ? "linear" : accel.name);
            world.accelerator = search;
            for (const vmath::Ray &ray : {toQuad, toSphere}) {
                IntersectInfo info;
                const float t = world.intersect(info, ray, vmath::kMaxFloat);
                ASSERT_NE(info.id, -1);
                EXPECT_EQ(t, 2.0f);
                EXPECT_FALSE(world.occluded(ray, 2.0f));
                EXPECT_TRUE(world.occluded(ray, std::nextafter(2.0f, 3.0f)));
                EXPECT_FALSE(world.occluded(ray, 1.5f));
            }
        }
        world.accelerator = nullptr;
    }
}

TEST(Accelerators, ShapeWithNaNBoundsIsAskedLikeInTheLinearSearch) {
    // A sphere whose radius is NaN has no usable box; each accelerator must
    // still give every ray the answer the linear search gives, whatever that is.
    World world;
    world.addMesh(flatQuad(-0.5f));
    world.addPrimitive(std::make_unique<SpherePrimitive>(Transform(), nullptr, Point3f(0, 0, -3),
                                                         -std::numeric_limits<float>::quiet_NaN()));
    world.finishShapes();
    for (const AcceleratorCase &accel : kAccelerators) {
        std::unique_ptr<Accelerator> fastSearch = accel.make(world.primitives);
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        for (int r = 0; r < 200; ++r) {
            const vmath::Ray ray(Point3f(unit(rng), unit(rng), 3), Vec3f(unit(rng), unit(rng), -1));
            IntersectInfo linear, fast;
            world.accelerator = nullptr;
            const float tLinear = world.intersect(linear, ray, vmath::kMaxFloat);
            world.accelerator = fastSearch.get();
            const float tFast = world.intersect(fast, ray, vmath::kMaxFloat);
            world.accelerator = nullptr;
            ASSERT_EQ(fast.id, linear.id) << accel.name << " ray " << r;
            if (linear.id != -1) {
                ASSERT_NEAR(tFast, tLinear, accel.exact ? 0.0f : 1e-5f * tLinear)
                    << accel.name << " ray " << r;
            }
        }
    }
}

#if VORTAN_HAVE_EMBREE
TEST(EmbreeAccel, CopiesOfAMeshAreInstancesOfOnePrototype) {
    // The random scene's bumpy sphere is drawn three times from one set of
    // lists: one prototype, three instances; the other two meshes are
    // triangle meshes of their own and the spheres user geometry.
    RandomScene scene(1);
    const std::unique_ptr<EmbreeAccel> bvh = EmbreeAccel::build(scene.world.primitives, 1, true);
    ASSERT_NE(bvh, nullptr);
    const EmbreeAccel::Layout &layout = bvh->layout();
    EXPECT_EQ(layout.prototypes, 1u);
    EXPECT_EQ(layout.instances, 3u);
    EXPECT_EQ(layout.triangleMeshes, 2u);
    EXPECT_EQ(layout.userPrimitives, 12u);
    EXPECT_EQ(layout.unbounded, 0u);
}
#endif
