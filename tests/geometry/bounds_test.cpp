#include <gtest/gtest.h>

#include <limits>

#include "util/bounds.h"

namespace {

constexpr float kMax = vmath::kMaxFloat;

void expectBox(const Bounds3f &b, const Point3f &lo, const Point3f &hi) {
    EXPECT_EQ(b.pMin, lo);
    EXPECT_EQ(b.pMax, hi);
}

} // namespace

TEST(Bounds3, ConstructionAndGrowth) {
    // The two-corner constructor reorders per component.
    expectBox(Bounds3f(Point3f(1, -2, 3), Point3f(-1, 2, -3)), Point3f(-1, -2, -3),
              Point3f(1, 2, 3));

    // Growing the empty box by one point gives the degenerate box at it.
    Bounds3f b;
    growBy(b, Point3f(1, 2, 3));
    expectBox(b, Point3f(1, 2, 3), Point3f(1, 2, 3));
    growBy(b, Point3f(0, 5, 3));
    expectBox(b, Point3f(0, 2, 3), Point3f(1, 5, 3));
    // A NaN coordinate fails every comparison and leaves the box alone.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    growBy(b, Point3f(nan, nan, nan));
    expectBox(b, Point3f(0, 2, 3), Point3f(1, 5, 3));
}

TEST(Bounds3, Union) {
    const Bounds3f box(Point3f(-1, 0, 2), Point3f(1, 3, 4));
    const Bounds3f empty;
    expectBox(unionOf(empty, box), box.pMin, box.pMax);
    expectBox(unionOf(box, empty), box.pMin, box.pMax);
    expectBox(unionOf(box, Bounds3f(Point3f(5, -5, 3), Point3f(6, 1, 3))), Point3f(-1, -5, 2),
              Point3f(6, 3, 4));
    // Two empty boxes pass through the reordering constructor and so span
    // the whole float range.
    expectBox(unionOf(empty, empty), Point3f(-kMax, -kMax, -kMax), Point3f(kMax, kMax, kMax));
}

TEST(Bounds3, SurfaceAreaAndLongestAxis) {
    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(1, 1, 1)).surfaceArea(), 6.0f);
    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(2, 3, 0)).surfaceArea(), 12.0f);
    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(1, 2, 3)).surfaceArea(), 22.0f);

    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(3, 1, 2)).maximumExtent(), 0);
    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(1, 3, 2)).maximumExtent(), 1);
    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(1, 2, 3)).maximumExtent(), 2);
    // Ties go to the later axis.
    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(2, 2, 1)).maximumExtent(), 1);
    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(2, 1, 2)).maximumExtent(), 2);
    EXPECT_EQ(Bounds3f(Point3f(0, 0, 0), Point3f(1, 1, 1)).maximumExtent(), 2);
}

TEST(Bounds3, SlabTest) {
    const Bounds3f cube(Point3f(0, 0, 0), Point3f(1, 1, 1));
    float t0 = -1.0f, t1 = -1.0f;

    // The far distance is widened by the float 1.0000004 (3 ulps above 1).
    ASSERT_TRUE(cube.intersectP(vmath::Ray(Point3f(0.5f, 0.5f, -1), Vec3f(0, 0, 1)), &t0, &t1));
    EXPECT_EQ(t0, 1.0f);
    EXPECT_EQ(t1, 2.0f * 1.0000004f);
    EXPECT_EQ(1.0000004f, 1.0f + 3.0f * std::numeric_limits<float>::epsilon());

    // Origin inside: the interval starts at 0. Null pointers are allowed.
    ASSERT_TRUE(cube.intersectP(vmath::Ray(Point3f(0.5f, 0.5f, 0.5f), Vec3f(1, 0, 0)), &t0,
                                nullptr));
    EXPECT_EQ(t0, 0.0f);
    EXPECT_TRUE(cube.intersectP(vmath::Ray(Point3f(0.5f, 0.5f, 0.5f), Vec3f(1, 0, 0)), nullptr,
                                nullptr));

    // Misses leave the outputs untouched.
    t0 = t1 = -7.0f;
    // Box behind the origin.
    EXPECT_FALSE(cube.intersectP(vmath::Ray(Point3f(0.5f, 0.5f, 2), Vec3f(0, 0, 1)), &t0, &t1));
    // Parallel to the x slab and outside it: infinite slab distances.
    EXPECT_FALSE(cube.intersectP(vmath::Ray(Point3f(2, 0.5f, -1), Vec3f(0, 0, 1)), &t0, &t1));
    // The ray's maximum distance ends before the box.
    EXPECT_FALSE(
        cube.intersectP(vmath::Ray(Point3f(0.5f, 0.5f, -1), Vec3f(0, 0, 1), 0.5f), &t0, &t1));
    EXPECT_EQ(t0, -7.0f);
    EXPECT_EQ(t1, -7.0f);
}
