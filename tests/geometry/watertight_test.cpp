// A closed mesh is closed to every ray: rays aimed exactly at the edges and
// corners shared by its triangles hit it where they aim, with the linear
// search and with the kd-tree, for nearest hits and for shadow queries.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "bvh/kdtreeaccel.h"
#include "shapes/mesh.h"
#include "scene/world.h"

namespace {

// An icosahedron subdivided `levels` times with its corners pushed onto the
// unit sphere; triangles share their corners by index.
std::unique_ptr<MeshShape> geodesicSphere(int levels, const Transform &placement) {
    const float g = (1.0f + std::sqrt(5.0f)) / 2.0f;
    std::vector<Point3f> v = {{-1, g, 0}, {1, g, 0},  {-1, -g, 0}, {1, -g, 0},
                              {0, -1, g}, {0, 1, g},  {0, -1, -g}, {0, 1, -g},
                              {g, 0, -1}, {g, 0, 1},  {-g, 0, -1}, {-g, 0, 1}};
    std::vector<int> f = {0, 11, 5, 0, 5,  1, 0, 1, 7, 0, 7, 10, 0, 10, 11, 1, 5, 9, 5, 11,
                          4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3, 9,  4, 3, 4, 2, 3, 2, 6, 3,
                          6, 8, 3, 8,  9, 4, 9, 5, 2, 4, 11, 6, 2, 10, 8, 6, 7, 9, 8, 1};
    auto unit = [](const Point3f &p) {
        const float n = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
        return Point3f(p.x / n, p.y / n, p.z / n);
    };
    for (Point3f &p : v) p = unit(p);
    for (int level = 0; level < levels; ++level) {
        std::map<std::pair<int, int>, int> middle;
        auto mid = [&](int a, int b) {
            const auto key = std::minmax(a, b);
            auto it = middle.find(key);
            if (it != middle.end()) return it->second;
            v.push_back(unit(Point3f((v[a].x + v[b].x) / 2, (v[a].y + v[b].y) / 2,
                                     (v[a].z + v[b].z) / 2)));
            return middle[key] = static_cast<int>(v.size()) - 1;
        };
        std::vector<int> next;
        for (size_t i = 0; i < f.size(); i += 3) {
            const int a = f[i], b = f[i + 1], c = f[i + 2];
            const int ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
            next.insert(next.end(), {a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca});
        }
        f = std::move(next);
    }
    auto mesh = std::make_unique<MeshShape>(placement, nullptr);
    mesh->adoptData(std::move(f), std::move(v), std::vector<int>(), std::vector<Vec3f>(),
                    std::vector<Vec3f>(), std::vector<Point2f>());
    return mesh;
}

// Points the World at the kd-tree, or (null) back at the linear search.
void useTree(World &world, KdTreeAccel *tree) {
    world.accelerator = tree;
}

Point3f between(const Point3f &a, const Point3f &b, float w) {
    return Point3f(a.x + w * (b.x - a.x), a.y + w * (b.y - a.y), a.z + w * (b.z - a.z));
}

} // namespace

TEST(Watertight, RaysThroughSharedEdgesAndCornersHitTheNearSurface) {
    // Placed away from the origin and turned, so that the world corners
    // carry rounding of their own.
    const float c = std::cos(0.7f), s = std::sin(0.7f);
    const Transform placement(Matrix4x4(3 * c, 0, 3 * s, 4.7f, 0, 3, 0, -1.3f, -3 * s, 0, 3 * c,
                                        12.1f, 0, 0, 0, 1));
    World world;
    MeshShape &mesh = *world.addMesh(geodesicSphere(2, placement));
    world.finishShapes();
    const Point3f centre = placement(Point3f(0, 0, 0));
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(world.primitives));

    // Aim points: every corner, and points along every edge (both ways round
    // an edge give the same points).
    std::vector<Point3f> aims;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < mesh.numTriangles(); ++i)
        for (int k = 0; k < 3; ++k) {
            const Point3f a = mesh.cornerWorld(i, k), b = mesh.cornerWorld(i, (k + 1) % 3);
            aims.push_back(a);
            for (int n = 0; n < 6; ++n) aims.push_back(between(a, b, unit(rng)));
        }

    // From many directions on the outer side, each ray must hit at its aim
    // point: a ray through a crack reaches the far side. The directions stay
    // 20 degrees clear of the tangent plane, more than any face normal leans
    // from the radius here, so that every ray enters the solid at its aim
    // rather than only touching its corner.
    constexpr float kDistance = 5.0f;
    std::normal_distribution<float> gauss;
    int rays = 0, throughCracks = 0;
    for (const Point3f &aim : aims) {
        const Vec3f outward = vmath::normalized(aim - centre);
        for (int n = 0; n < 3; ++n) {
            Vec3f w = vmath::normalized(Vec3f(gauss(rng), gauss(rng), gauss(rng)));
            if (vmath::dot(w, outward) < 0.0f) w = -w;
            if (vmath::dot(w, outward) < 0.35f) continue;
            const vmath::Ray ray(aim + w * kDistance, -w);
            for (bool accelerated : {false, true}) {
                useTree(world, accelerated ? tree.get() : nullptr);
                ++rays;
                IntersectInfo info;
                const float t = world.intersect(info, ray, vmath::kMaxFloat);
                const bool hit = info.id != -1 && std::fabs(t - kDistance) < 1e-3f;
                const bool blocked = world.occluded(ray, kDistance + 0.5f);
                if (!hit || !blocked) ++throughCracks;
                EXPECT_TRUE(hit) << "t " << t << " accelerated " << accelerated;
                EXPECT_TRUE(blocked) << "accelerated " << accelerated;
                if (throughCracks > 5) FAIL() << "more rays went through";
            }
        }
    }
    useTree(world, nullptr);
    EXPECT_GT(rays, 10000);
}

TEST(Watertight, DistantGrazingRaysAcrossSharedEdgesHitOneOfTheTwoFaces) {
    // Far away and close to the faces' planes, the first test's rounding is
    // largest. Each ray crosses an edge from the side both of its faces look
    // to, so it enters the solid there and must hit one of the two.
    World world;
    MeshShape &mesh = *world.addMesh(geodesicSphere(3, Transform()));
    world.finishShapes();
    std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(world.primitives));
    auto normalOf = [&](int i) {
        const Point3f a = mesh.cornerWorld(i, 0), b = mesh.cornerWorld(i, 1),
                      c = mesh.cornerWorld(i, 2);
        return vmath::normalized(vmath::cross(b - a, c - a));
    };
    std::map<std::pair<Point3f, Point3f>, int, bool (*)(const std::pair<Point3f, Point3f> &,
                                                         const std::pair<Point3f, Point3f> &)>
        firstFace([](const std::pair<Point3f, Point3f> &x, const std::pair<Point3f, Point3f> &y) {
            auto key = [](const std::pair<Point3f, Point3f> &p) {
                return std::make_tuple(p.first.x, p.first.y, p.first.z, p.second.x, p.second.y,
                                       p.second.z);
            };
            return key(x) < key(y);
        });
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int rays = 0, misses = 0;
    for (int i = 0; i < mesh.numTriangles(); ++i)
        for (int k = 0; k < 3; ++k) {
            const Point3f a = mesh.cornerWorld(i, k), b = mesh.cornerWorld(i, (k + 1) % 3);
            // The neighbour walks the edge the other way round.
            const auto other = firstFace.find({b, a});
            if (other == firstFace.end()) {
                firstFace[{a, b}] = i;
                continue;
            }
            const Vec3f n1 = normalOf(i), n2 = normalOf(other->second);
            const Vec3f mid = vmath::normalized(n1 + n2);
            const Vec3f along = vmath::normalized(b - a);
            const Vec3f side = vmath::cross(mid, along);
            for (int n = 0; n < 2; ++n) {
                const Point3f aim = between(a, b, unit(rng));
                // 4 to 20 degrees above the mean plane, in any direction.
                const float angle = (4.0f + 16.0f * unit(rng)) * 3.14159265f / 180.0f;
                const float turn = 6.2831853f * unit(rng);
                const Vec3f inPlane = std::cos(turn) * along + std::sin(turn) * side;
                const Vec3f toEye = std::cos(angle) * inPlane + std::sin(angle) * mid;
                if (vmath::dot(toEye, n1) < 0.02f || vmath::dot(toEye, n2) < 0.02f) continue;
                for (float distance : {300.0f, 3000.0f}) {
                    const vmath::Ray ray(aim + toEye * distance, -toEye);
                    for (bool accelerated : {false, true}) {
                        useTree(world, accelerated ? tree.get() : nullptr);
                        ++rays;
                        IntersectInfo info;
                        const float t = world.intersect(info, ray, vmath::kMaxFloat);
                        if (info.id == -1 || std::fabs(t - distance) > 0.05f) ++misses;
                    }
                }
            }
        }
    useTree(world, nullptr);
    EXPECT_GT(rays, 5000);
    EXPECT_EQ(misses, 0) << "of " << rays;
}
