#include <gtest/gtest.h>

#include <cfloat>

#include "util/vecmath.h"

TEST(VecMath, NormalizeLeavesZeroAtZero) {
    Vec3f zero;
    EXPECT_EQ(vmath::normalize(zero), 0.0f);
    EXPECT_EQ(zero, Vec3f(0, 0, 0));

    Vec3f v(3.0f, 0.0f, -4.0f);
    EXPECT_EQ(vmath::normalize(v), 5.0f);
    EXPECT_EQ(v, Vec3f(0.6f, 0.0f, -0.8f));
    EXPECT_EQ(vmath::normalized(Vec3f(0.0f, -2.0f, 0.0f)), Vec3f(0.0f, -1.0f, 0.0f));
}

TEST(VecMath, DotSumsLeftToRight) {
    // (1e8 + 1) rounds back to 1e8 in single precision, so the sum is 0;
    // any other order would give 1.
    EXPECT_EQ(vmath::dot(Vec3f(1e8f, 1.0f, -1e8f), Vec3f(1.0f, 1.0f, 1.0f)), 0.0f);
    EXPECT_EQ(vmath::length(Vec3f(2.0f, 3.0f, 6.0f)), 7.0f);
}

TEST(VecMath, CrossIsRightHandedAndOrthogonal) {
    const Vec3f x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    EXPECT_EQ(vmath::cross(x, y), z);
    EXPECT_EQ(vmath::cross(y, z), x);
    EXPECT_EQ(vmath::cross(z, x), y);
    const Vec3f a(1.5f, -2.0f, 0.25f), b(-3.0f, 0.5f, 4.0f);
    const Vec3f c = vmath::cross(a, b);
    EXPECT_EQ(c, -vmath::cross(b, a));
    // All products are exact here, so orthogonality holds exactly.
    EXPECT_EQ(vmath::dot(c, a), 0.0f);
    EXPECT_EQ(vmath::dot(c, b), 0.0f);
}

TEST(VecMath, ReflectMirrorsAboutTheNormal) {
    EXPECT_EQ(vmath::reflect(Vec3f(1, -1, 0), Vec3f(0, 1, 0)), Vec3f(1, 1, 0));
    // Reflecting twice gives the vector back; the length is kept.
    const Vec3f n = vmath::normalized(Vec3f(1, 2, 2));
    const Vec3f v(0.5f, -3.0f, 1.0f);
    const Vec3f r = vmath::reflect(v, n);
    EXPECT_NEAR(vmath::length(r), vmath::length(v), 1e-5f);
    const Vec3f back = vmath::reflect(r, n);
    EXPECT_NEAR(back.x, v.x, 1e-6f);
    EXPECT_NEAR(back.y, v.y, 1e-6f);
    EXPECT_NEAR(back.z, v.z, 1e-6f);
}

TEST(VecMath, PointsAndVectors) {
    const Point3f p(1, 2, 3), q(4, 6, 3);
    const Vec3f d = q - p;
    EXPECT_EQ(d, Vec3f(3, 4, 0));
    EXPECT_EQ(p + d, q);
    EXPECT_EQ(q - d, p);
    EXPECT_EQ(vmath::mulComponents(Vec3f(1, 2, 3), Vec3f(0.5f, 2, -1)), Vec3f(0.5f, 4, -3));

    const vmath::Ray ray(p, Vec3f(0, 0, -1));
    EXPECT_EQ(ray.maxDist, FLT_MAX);
    EXPECT_EQ(vmath::Ray().maxDist, FLT_MAX);
    EXPECT_EQ(ray.at(2.0f), Point3f(1, 2, 1));
}
