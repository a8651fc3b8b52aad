#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "bvh/accelerator_choice.h"
#include "rendering/lighting.h"
#include "scene/world.h"
#include "shapes/box.h"
#include "shapes/cone.h"
#include "shapes/disk.h"

namespace {

// What a ray from (x, y, 10) straight down -z should meet, worked out on
// paper for each shape in its own space: the height of the hit, its outward
// normal, and how far (x, y) lies from the nearest silhouette edge (rays
// closer than a hair to an edge are not judged).
struct Expected {
    bool hit = false;
    float z = 0.0f;
    Vec3f normal;
    float edge = 1.0f;
};

using Oracle = std::function<Expected(float x, float y)>;
using Maker = std::function<std::unique_ptr<PlacedShape>(const Transform &)>;

struct ShapeCase {
    const char *name;
    Maker make;
    Oracle expect;
};

Expected hitAt(float z, const Vec3f &n, float edge) { return {true, z, n, edge}; }
Expected missBy(float edge) { return {false, 0.0f, Vec3f(), edge}; }

float minOf(float a, float b) { return a < b ? a : b; }

// A cone along y from y = -1 (radius r0) to y = 1 (radius r1), seen from +z.
Expected coneAlongY(float x, float y, float r0, float r1) {
    const float slope = (r1 - r0) / 2.0f;
    const float r = r0 + slope * (y + 1.0f);
    const float edge = minOf(1.0f - std::fabs(y), r - std::fabs(x));
    if (edge < 0.0f) return missBy(-edge);
    const float z = std::sqrt(r * r - x * x);
    // Gradient of x^2 + z^2 - r(y)^2, halved.
    return hitAt(z, vmath::normalized(Vec3f(x, -slope * r, z)), edge);
}

const ShapeCase kCases[] = {
    {"box",
     [](const Transform &m) {
         return std::make_unique<BoxShape>(m, nullptr, Point3f(-1, -0.5f, -2),
                                           Point3f(1.5f, 0.5f, 0.25f));
     },
     [](float x, float y) {
         const float edge = minOf(minOf(x + 1.0f, 1.5f - x), minOf(y + 0.5f, 0.5f - y));
         return edge < 0.0f ? missBy(-edge) : hitAt(0.25f, Vec3f(0, 0, 1), edge);
     }},
    {"disk with a hole",
     [](const Transform &m) { return std::make_unique<DiskShape>(m, nullptr, 1.0f, 0.4f); },
     [](float x, float y) {
         const float rho = std::sqrt(x * x + y * y);
         const float edge = minOf(rho - 0.4f, 1.0f - rho);
         return edge < 0.0f ? missBy(-edge) : hitAt(0.0f, Vec3f(0, 0, 1), edge);
     }},
    {"cylinder side-on",
     [](const Transform &m) {
         return std::make_unique<ConeShape>(m, nullptr, Point3f(0, -1, 0), Point3f(0, 1, 0), 0.75f,
                                            0.75f);
     },
     [](float x, float y) { return coneAlongY(x, y, 0.75f, 0.75f); }},
    {"cone side-on",
     [](const Transform &m) {
         return std::make_unique<ConeShape>(m, nullptr, Point3f(0, -1, 0), Point3f(0, 1, 0), 1.0f,
                                            0.25f);
     },
     [](float x, float y) { return coneAlongY(x, y, 1.0f, 0.25f); }},
    {"cylinder end-on (cap)",
     [](const Transform &m) {
         return std::make_unique<ConeShape>(m, nullptr, Point3f(0, 0, -1), Point3f(0, 0, 0.5f),
                                            0.6f, 0.6f);
     },
     [](float x, float y) {
         const float edge = 0.6f - std::sqrt(x * x + y * y);
         return edge < 0.0f ? missBy(-edge) : hitAt(0.5f, Vec3f(0, 0, 1), edge);
     }},
    {"cone apex-on",
     [](const Transform &m) {
         return std::make_unique<ConeShape>(m, nullptr, Point3f(0, 0, -1), Point3f(0, 0, 1), 1.0f,
                                            0.0f);
     },
     [](float x, float y) {
         // The radius falls from 1 at z = -1 to 0 at z = 1: it is rho at
         // z = 1 - 2 rho.
         const float rho = std::sqrt(x * x + y * y);
         const float edge = 1.0f - rho;
         if (edge < 0.0f) return missBy(-edge);
         return hitAt(1.0f - 2.0f * rho, vmath::normalized(Vec3f(x, y, 0.5f * rho)),
                      minOf(edge, rho));
     }},
};

Vec3f linear(const Matrix4x4 &m, const Vec3f &v) {
    return Vec3f(m.m[0][0] * v.x + m.m[0][1] * v.y + m.m[0][2] * v.z,
                 m.m[1][0] * v.x + m.m[1][1] * v.y + m.m[1][2] * v.z,
                 m.m[2][0] * v.x + m.m[2][1] * v.y + m.m[2][2] * v.z);
}

Vec3f inverseTranspose(const Matrix4x4 &inv, const Vec3f &n) {
    return Vec3f(inv.m[0][0] * n.x + inv.m[1][0] * n.y + inv.m[2][0] * n.z,
                 inv.m[0][1] * n.x + inv.m[1][1] * n.y + inv.m[2][1] * n.z,
                 inv.m[0][2] * n.x + inv.m[1][2] * n.y + inv.m[2][2] * n.z);
}

float distance(const Point3f &a, const Point3f &b) { return vmath::length(a - b); }

} // namespace

// Every shape, placed as given and by a sheared, scaled, moved matrix,
// against a grid of rays: hits exactly where the worked answer says, at its
// distance, with its normal, inside the world bounds; a ray leaving the
// surface (from the hit moved off it as the tracer does) never hits it
// again; and a World answers the same through its kd-tree.
TEST(PlacedShapes, RayGridMatchesTheWorkedAnswer) {
    const Transform placements[] = {
        Transform(),
        Transform(Matrix4x4(2.0f, 0.3f, 0.0f, 1.0f, 0.0f, 0.5f, 0.2f, 2.0f, 0.1f, 0.0f, 1.5f, 3.0f,
                            0.0f, 0.0f, 0.0f, 1.0f)),
    };
    for (const ShapeCase &c : kCases) {
        for (size_t p = 0; p < std::size(placements); ++p) {
            const Transform &m = placements[p];
            // The placed shape is an instance copy of the shape at home.
            std::unique_ptr<PlacedShape> shape = c.make(Transform())->placedCopy(m);
            shape->id = 3;
            const Bounds3f bounds = shape->worldBounds();
            World world;
            PlacedShape *inWorld = world.addPrimitive(c.make(m));
            installAccelerator(world, AcceleratorKind::KdTree);
            int hits = 0, misses = 0;
            for (int i = 0; i < 41; ++i) {
                for (int j = 0; j < 41; ++j) {
                    const float x = -2.0f + 0.1f * static_cast<float>(i) + 0.0123f;
                    const float y = -2.0f + 0.1f * static_cast<float>(j) + 0.0077f;
                    const Expected e = c.expect(x, y);
                    if (e.edge < 1e-3f) continue;
                    const std::string where = std::string(c.name) + " placement " +
                                              std::to_string(p) + " at " + std::to_string(x) +
                                              ", " + std::to_string(y);
                    const vmath::Ray ray(m(Point3f(x, y, 10.0f)), linear(m.m, Vec3f(0, 0, -1)));
                    float t = vmath::kMaxFloat;
                    IntersectInfo info;
                    const bool hit = shape->intersect(ray, &t, &info);
                    IntersectInfo viaWorld;
                    world.intersect(viaWorld, ray, vmath::kMaxFloat);
                    ASSERT_EQ(hit, e.hit) << where;
                    EXPECT_EQ(viaWorld.id, hit ? inWorld->id : -1) << where;
                    if (!hit) {
                        ++misses;
                        continue;
                    }
                    ++hits;
                    const Point3f expectedAt = m(Point3f(x, y, e.z));
                    EXPECT_NEAR(t, 10.0f - e.z, 2e-4f) << where;
                    EXPECT_LT(distance(info.position, expectedAt), 1e-3f) << where;
                    EXPECT_EQ(info.id, 3) << where;
                    EXPECT_GT(vmath::dot(info.normal, vmath::normalized(
                                                          inverseTranspose(m.mInv, e.normal))),
                              0.9999f)
                        << where;
                    EXPECT_LT(distance(viaWorld.position, info.position), 1e-5f) << where;
                    for (int a = 0; a < 3; ++a) {
                        EXPECT_GE(info.position[a], bounds.pMin[a] - 1e-4f) << where;
                        EXPECT_LE(info.position[a], bounds.pMax[a] + 1e-4f) << where;
                    }
                    const Vec3f away = vmath::normalized(vmath::reflect(
                        vmath::normalized(ray.direction), info.normal));
                    const vmath::Ray leaving(info.position + kRayOffset * away, away);
                    float again = vmath::kMaxFloat;
                    IntersectInfo scratch;
                    EXPECT_FALSE(shape->intersect(leaving, &again, &scratch))
                        << where << ": hit again at " << again;
                }
            }
            // The grid sees both sides of every silhouette.
            EXPECT_GT(hits, 50) << c.name;
            EXPECT_GT(misses, 50) << c.name;
        }
    }
}
