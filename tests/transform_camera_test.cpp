#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "scene/camera.h"
#include "util/transform.h"

namespace {

constexpr float kRayTolerance = 5e-5f;
constexpr double kPi = 3.14159265358979323846;

// The camera as the scene loader completes it: the file's camera-to-world
// matrix mirrored in z, the window (-a, a, -1, 1) with a = width / height.
Camera makeCamera(float fov, const Matrix4x4 &cam2world, unsigned width, unsigned height) {
    Camera cam(fov);
    const Matrix4x4 refl(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1);
    cam.setCam2World(Transform(cam2world) * Transform(refl));
    const float a = static_cast<float>(width) / static_cast<float>(height);
    const float window[4] = {-a, a, -1.0f, 1.0f};
    const unsigned resolution[2] = {width, height};
    cam.setScreenWindow(window, resolution);
    return cam;
}

const Matrix4x4 kTranslate5210(1, 0, 0, 5, 0, 1, 0, 2, 0, 0, 1, 10, 0, 0, 0, 1);

void expectNear(const Vec3f &got, const Vec3f &want, float tolerance) {
    EXPECT_NEAR(got.x, want.x, tolerance);
    EXPECT_NEAR(got.y, want.y, tolerance);
    EXPECT_NEAR(got.z, want.z, tolerance);
}

bool nearIdentity(const Matrix4x4 &m, float tolerance) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (std::fabs(m.m[i][j] - (i == j ? 1.0f : 0.0f)) > tolerance) return false;
    return true;
}

} // namespace

TEST(Camera, WorkedPrimaryRays) {
    Camera cam = makeCamera(45.0f, kTranslate5210, 800, 600);
    const vmath::Ray center = cam.generateRay(400, 300);
    EXPECT_EQ(center.origin, Point3f(5, 2, 10));
    EXPECT_EQ(center.maxDist, vmath::kMaxFloat);
    expectNear(center.direction, Vec3f(0, 0, -1), kRayTolerance);

    const vmath::Ray corner = cam.generateRay(0, 0);
    EXPECT_EQ(corner.origin, Point3f(5, 2, 10));
    expectNear(corner.direction, Vec3f(-0.45450f, 0.34087f, -0.82294f), kRayTolerance);
    expectNear(cam.generateRay(400, 0).direction, Vec3f(0, 0.38268f, -0.92388f), kRayTolerance);
}

// Over the whole film the direction is proportional to
// (sx tan(fov/2), sy tan(fov/2), -1), sx = -a + 2a x/width, sy = 1 - 2 y/height.
TEST(Camera, RaysSpanTheVerticalFieldOfView) {
    for (unsigned height : {600u, 800u}) {
        const unsigned width = 800;
        Camera cam = makeCamera(45.0f, kTranslate5210, width, height);
        const double a = static_cast<double>(width) / height;
        const double t = std::tan(22.5 * kPi / 180.0);
        for (int x = 0; x <= 800; x += 100) {
            for (int y = 0; y <= static_cast<int>(height); y += 150) {
                SCOPED_TRACE(testing::Message() << width << "x" << height << " at " << x << "," << y);
                const double sx = -a + 2.0 * a * x / width, sy = 1.0 - 2.0 * y / height;
                const double len = std::sqrt(sx * t * sx * t + sy * t * sy * t + 1.0);
                const vmath::Ray r = cam.generateRay(static_cast<float>(x), static_cast<float>(y));
                expectNear(r.direction,
                           Vec3f(static_cast<float>(sx * t / len), static_cast<float>(sy * t / len),
                                 static_cast<float>(-1.0 / len)),
                           kRayTolerance);
                EXPECT_NEAR(vmath::length(r.direction), 1.0f, 1e-6f);
            }
        }
    }
    // A square film: the horizontal angle is the FOV too.
    Camera square = makeCamera(45.0f, Matrix4x4(), 512, 512);
    expectNear(square.generateRay(0, 256).direction, Vec3f(-0.38268f, 0, -0.92388f), kRayTolerance);
}

TEST(Camera, ResolutionIsZeroUntilTheWindowIsSet) {
    Camera cam(45.0f);
    EXPECT_EQ(cam.getResolution()[0], 0);
    EXPECT_EQ(cam.getResolution()[1], 0);
    Camera set = makeCamera(45.0f, Matrix4x4(), 800, 600);
    EXPECT_EQ(set.getResolution()[0], 800);
    EXPECT_EQ(set.getResolution()[1], 600);
}

TEST(Transform, InvertingTheIdentityIsExact) {
    EXPECT_EQ(inverse(Matrix4x4()), Matrix4x4());
    const Matrix4x4 d(2, 0, 0, 0, 0, -4, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 8);
    EXPECT_EQ(inverse(d), Matrix4x4(0.5f, 0, 0, 0, 0, -0.25f, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0.125f));
    // A permutation needs the row swaps and the column un-permutation.
    const Matrix4x4 perm(0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0);
    const Matrix4x4 transposed(0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0);
    EXPECT_EQ(inverse(perm), transposed);
}

// Of several pivot candidates of equal magnitude the last one in row-by-row
// order is taken. Captured result for a matrix full of such ties; taking the
// first candidate instead rounds differently (e.g. 0.454545468 first).
TEST(Transform, PivotTiesPickTheLastCandidate) {
    const Matrix4x4 m(2, 0, 0, 1, -3, 3, -1, 1, 2, -3, 3, 3, -3, 3, 3, -1);
    const Matrix4x4 want(0.454545438f, -0.136363626f, -0.0909090787f, 0.0454545394f,
                         0.439393938f, 0.0681818128f, -0.121212125f, 0.143939406f,
                         0.0454545356f, -0.113636352f, 0.0909091011f, 0.204545453f,
                         0.0909090638f, 0.272727251f, 0.181818172f, -0.0909090862f);
    EXPECT_EQ(inverse(m), want);
}

TEST(Transform, InverseTimesTransformIsIdentity) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> entry(-10.0f, 10.0f);
    for (int trial = 0; trial < 50; ++trial) {
        Matrix4x4 m;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) m.m[i][j] = entry(rng);
        const Transform t(m);
        EXPECT_TRUE(nearIdentity(mul(t.m, t.mInv), 1e-3f)) << "trial " << trial;
        EXPECT_TRUE(nearIdentity(mul(t.mInv, t.m), 1e-3f)) << "trial " << trial;
        EXPECT_EQ(inverse(inverse(t)), t) << "trial " << trial;
    }
}

TEST(Transform, CompositionAppliesTheRightOperandFirst) {
    const Transform ts = makeTranslate(Vec3f(1, 2, 3)) * makeScale(2, 4, 8);
    EXPECT_EQ(ts(Point3f(1, 1, 1)), Point3f(3, 6, 11));
    EXPECT_EQ(inverse(ts)(Point3f(3, 6, 11)), Point3f(1, 1, 1));
    EXPECT_EQ(ts.mInv, mul(makeScale(2, 4, 8).mInv, makeTranslate(Vec3f(1, 2, 3)).mInv));
}

TEST(Transform, PointsAreDividedByWOnlyWhenItIsNotOne) {
    const Transform halve(Matrix4x4(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2));
    EXPECT_EQ(halve(Point3f(2, 4, 6)), Point3f(1, 2, 3));

    // The projection divides by depth: x and y by z, depth n to 0 and f to 1.
    const Transform persp = makePerspective(90.0f, 0.01f, 1000.0f);
    const Point3f p = persp(Point3f(1, 2, 4));
    EXPECT_NEAR(p.x, 0.25f, 1e-6f);
    EXPECT_NEAR(p.y, 0.5f, 1e-6f);
    EXPECT_NEAR(persp(Point3f(0, 0, 0.01f)).z, 0.0f, 1e-6f);
    EXPECT_NEAR(persp(Point3f(0, 0, 1000.0f)).z, 1.0f, 1e-6f);
}

TEST(Transform, SingularMatrixIsInvertedWithoutACrash) {
    const Matrix4x4 zero(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const Matrix4x4 rankTwo(1, 2, 3, 4, 2, 4, 6, 8, 0, 0, 1, 0, 0, 0, 0, 1);
    for (const Matrix4x4 &m : {zero, rankTwo}) {
        const Transform t(m); // the entries are whatever the arithmetic gives
        EXPECT_EQ(t.m, m);
    }
}
