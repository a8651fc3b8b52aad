#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "shapes/sphere.h"

namespace {

const Transform kIdentity;

// Ray from o along d with the default (largest float) maximum distance.
vmath::Ray ray(const Point3f &o, const Vec3f &d) { return vmath::Ray(o, d); }

// A distinct, never dereferenced material pointer.
Material *fakeMaterial(int n) {
    static int tags[4];
    return reinterpret_cast<Material *>(&tags[n]);
}

} // namespace

TEST(SpherePrimitive, WorkedHitRecord) {
    SpherePrimitive s(kIdentity, fakeMaterial(0), Point3f(0, 0, 0), 1.0f);
    s.id = 7;
    float t = vmath::kMaxFloat;
    IntersectInfo info;
    ASSERT_TRUE(s.intersect(ray(Point3f(0, 0, -5), Vec3f(0, 0, 1)), &t, &info));
    EXPECT_EQ(t, 4.0f);
    EXPECT_EQ(info.id, 7);
    EXPECT_EQ(info.material, fakeMaterial(0));
    EXPECT_EQ(info.position, Point3f(0, 0, -1));
    EXPECT_EQ(info.normal, Vec3f(0, 0, -1));
    EXPECT_EQ(info.tangent, Vec3f(1, 0, 0));
    // atan2(0, -1) / 2pi + 0.5: the back of the sphere is the seam at u = 1.
    EXPECT_EQ(info.u, 1.0f);
    EXPECT_EQ(info.v, 0.5f);
}

TEST(SpherePrimitive, TextureCoordinatesAroundTheSphere) {
    SpherePrimitive s(kIdentity, nullptr, Point3f(0, 0, 0), 1.0f);
    struct Case {
        Point3f from;
        Vec3f dir;
        float u, v;
    } cases[] = {
        {Point3f(0, 0, 5), Vec3f(0, 0, -1), 0.5f, 0.5f},  // +z: middle of the map
        {Point3f(5, 0, 0), Vec3f(-1, 0, 0), 0.75f, 0.5f}, // +x
        {Point3f(-5, 0, 0), Vec3f(1, 0, 0), 0.25f, 0.5f}, // -x
        {Point3f(0, -5, 0), Vec3f(0, 1, 0), 0.5f, 0.0f},  // bottom pole
    };
    for (const Case &c : cases) {
        float t = vmath::kMaxFloat;
        IntersectInfo info;
        ASSERT_TRUE(s.intersect(ray(c.from, c.dir), &t, &info));
        EXPECT_EQ(info.u, c.u) << c.from.x << " " << c.from.y << " " << c.from.z;
        EXPECT_EQ(info.v, c.v) << c.from.x << " " << c.from.y << " " << c.from.z;
    }
}

TEST(SpherePrimitive, DistanceBoundIsStrict) {
    SpherePrimitive s(kIdentity, nullptr, Point3f(0, 0, 0), 1.0f);
    const vmath::Ray r = ray(Point3f(0, 0, -5), Vec3f(0, 0, 1));
    IntersectInfo info;
    float t = 4.0f;
    EXPECT_FALSE(s.intersect(r, &t, &info));
    EXPECT_EQ(t, 4.0f);
    EXPECT_EQ(info.id, -1);
    EXPECT_EQ(info.normal, Vec3f(0, 0, 0));

    t = 4.0001f;
    EXPECT_TRUE(s.intersect(r, &t, &info));
    EXPECT_EQ(t, 4.0f);

    // hitDistance narrows the caller's bound; anyHit uses the ray's own.
    t = 10.0f;
    EXPECT_TRUE(s.hitDistance(r, &t));
    EXPECT_EQ(t, 4.0f);
    EXPECT_TRUE(s.anyHit(r));
    EXPECT_FALSE(s.anyHit(vmath::Ray(Point3f(0, 0, -5), Vec3f(0, 0, 1), 4.0f)));
}

TEST(SpherePrimitive, RootCases) {
    SpherePrimitive s(kIdentity, nullptr, Point3f(0, 0, 0), 2.0f);
    IntersectInfo info;
    float t = vmath::kMaxFloat;

    // From the centre: the exit point, with the normal along the ray.
    ASSERT_TRUE(s.intersect(ray(Point3f(0, 0, 0), Vec3f(0, 0.6f, 0.8f)), &t, &info));
    EXPECT_NEAR(t, 2.0f, 1e-6f);
    EXPECT_NEAR(info.normal.y, 0.6f, 1e-6f);
    EXPECT_NEAR(info.normal.z, 0.8f, 1e-6f);

    // Tangent ray: the discriminant is exactly 0, one root at -b/a.
    SpherePrimitive unit(kIdentity, nullptr, Point3f(0, 0, 0), 1.0f);
    t = vmath::kMaxFloat;
    ASSERT_TRUE(unit.intersect(ray(Point3f(1, 0, -5), Vec3f(0, 0, 2)), &t, &info));
    EXPECT_EQ(t, 2.5f);
    EXPECT_EQ(info.position, Point3f(1, 0, 0));
    EXPECT_EQ(info.normal, Vec3f(1, 0, 0));
    // The same tangent point behind the origin.
    t = vmath::kMaxFloat;
    EXPECT_FALSE(unit.intersect(ray(Point3f(1, 0, 5), Vec3f(0, 0, 1)), &t, &info));

    // Sphere entirely behind the origin.
    EXPECT_FALSE(unit.intersect(ray(Point3f(0, 0, 5), Vec3f(0, 0, 1)), &t, &info));
    // Clear miss.
    EXPECT_FALSE(unit.intersect(ray(Point3f(3, 0, -5), Vec3f(0, 0, 1)), &t, &info));
    // A zero direction (total internal reflection) gives the root 0/0: no
    // hit, from outside and from inside.
    EXPECT_FALSE(unit.intersect(ray(Point3f(0, 0, -5), Vec3f(0, 0, 0)), &t, &info));
    EXPECT_FALSE(unit.intersect(ray(Point3f(0, 0, 0), Vec3f(0, 0, 0)), &t, &info));
    EXPECT_EQ(t, vmath::kMaxFloat);
}

TEST(SpherePrimitive, PoleTangent) {
    IntersectInfo info;
    float t = vmath::kMaxFloat;
    // Exactly at the top pole of a unit sphere the up vector switches to +x.
    SpherePrimitive unit(kIdentity, nullptr, Point3f(0, 0, 0), 1.0f);
    ASSERT_TRUE(unit.intersect(ray(Point3f(0, 5, 0), Vec3f(0, -1, 0)), &t, &info));
    EXPECT_EQ(info.normal, Vec3f(0, 1, 0));
    EXPECT_EQ(info.tangent, Vec3f(0, 0, -1));
    EXPECT_EQ(info.v, 1.0f);

    // For radius 2 the unnormalized normal is (0, 2, 0): no switch, and the
    // tangent is parallel to up, hence zero.
    SpherePrimitive big(kIdentity, nullptr, Point3f(0, 0, 0), 2.0f);
    t = vmath::kMaxFloat;
    ASSERT_TRUE(big.intersect(ray(Point3f(0, 5, 0), Vec3f(0, -1, 0)), &t, &info));
    EXPECT_EQ(info.normal, Vec3f(0, 1, 0));
    EXPECT_EQ(info.tangent, Vec3f(0, 0, 0));
}

TEST(SpherePrimitive, TransformMovesCentreOnly) {
    const Transform m(Matrix4x4(3, 0, 0, 1, 0, 3, 0, 2, 0, 0, 3, 3, 0, 0, 0, 1));
    SpherePrimitive s(m, nullptr, Point3f(0, 0, 0), 1.5f);
    EXPECT_EQ(s.center, Point3f(1, 2, 3));
    EXPECT_EQ(s.radius, 1.5f);
    const Bounds3f b = s.worldBounds();
    EXPECT_EQ(b.pMin, Point3f(-0.5f, 0.5f, 1.5f));
    EXPECT_EQ(b.pMax, Point3f(2.5f, 3.5f, 4.5f));

    // Material binding after construction.
    EXPECT_EQ(s.getMaterial(), nullptr);
    s.setMaterial(fakeMaterial(1));
    float t = vmath::kMaxFloat;
    IntersectInfo info;
    ASSERT_TRUE(s.intersect(ray(Point3f(1, 2, -10), Vec3f(0, 0, 1)), &t, &info));
    EXPECT_EQ(t, 11.5f);
    EXPECT_EQ(info.material, fakeMaterial(1));
}

// Rays from random outside points toward random points inside the sphere
// hit it at the analytic entry distance, on the surface, with an outward
// unit normal facing the ray.
TEST(SpherePrimitive, RandomRaysHitAtAnalyticDistance) {
    std::mt19937 rng(20240611u);
    auto uniform = [&rng](double lo, double hi) {
        return lo + (hi - lo) * (static_cast<double>(rng()) / 4294967296.0);
    };
    for (int i = 0; i < 2000; ++i) {
        const Point3f c(static_cast<float>(uniform(-10, 10)), static_cast<float>(uniform(-10, 10)),
                        static_cast<float>(uniform(-10, 10)));
        const float r = static_cast<float>(uniform(0.1, 5));
        SpherePrimitive s(makeTranslate(Vec3f(c.x, c.y, c.z)), nullptr, Point3f(0, 0, 0), r);

        // Origin outside (up to 20 radii away), target within 0.9 r of c.
        Vec3f away;
        do {
            away = Vec3f(static_cast<float>(uniform(-1, 1)), static_cast<float>(uniform(-1, 1)),
                         static_cast<float>(uniform(-1, 1)));
        } while (vmath::length(away) < 0.1f || vmath::length(away) > 1.0f);
        const Point3f o =
            c + vmath::normalized(away) * (r * static_cast<float>(uniform(1.05, 20)));
        const Point3f q = c + Vec3f(static_cast<float>(uniform(-0.5, 0.5)) * r,
                                    static_cast<float>(uniform(-0.5, 0.5)) * r,
                                    static_cast<float>(uniform(-0.5, 0.5)) * r);
        const Vec3f d = (q - o) * static_cast<float>(uniform(0.2, 3));

        // Reference entry distance in double precision.
        const double ox = static_cast<double>(o.x) - static_cast<double>(s.center.x);
        const double oy = static_cast<double>(o.y) - static_cast<double>(s.center.y);
        const double oz = static_cast<double>(o.z) - static_cast<double>(s.center.z);
        const double rd = r;
        const double dx = d.x, dy = d.y, dz = d.z;
        const double a = dx * dx + dy * dy + dz * dz;
        const double b = ox * dx + oy * dy + oz * dz;
        const double k = ox * ox + oy * oy + oz * oz - rd * rd;
        const double expected = (-b - std::sqrt(b * b - a * k)) / a;

        float t = vmath::kMaxFloat;
        IntersectInfo info;
        ASSERT_TRUE(s.intersect(vmath::Ray(o, d), &t, &info)) << "case " << i;
        EXPECT_NEAR(t, expected, 1e-4 * expected + 1e-5) << "case " << i;
        EXPECT_NEAR(vmath::length(info.position - s.center), r, 1e-4f * (r + 20.0f))
            << "case " << i;
        EXPECT_NEAR(vmath::length(info.normal), 1.0f, 1e-5f) << "case " << i;
        EXPECT_LT(vmath::dot(info.normal, d), 0.0f) << "case " << i;
        EXPECT_TRUE(info.u >= 0.0f && info.u <= 1.0f && info.v >= 0.0f && info.v <= 1.0f)
            << "case " << i;
    }
}
