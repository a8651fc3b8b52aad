// The tracer below the frame loop: refraction, the material values every
// class provides, and the queries and terms a traced ray is made of.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "materials/material.h"
#include "shapes/mesh.h"
#include "render/render_scene.h"
#include "support/scoped_env.h"
#include "rendering/tracer.h"

using namespace render_test;

namespace {

const Vec3f kBlack(0.0f, 0.0f, 0.0f);
const Vec3f kUp(0.0f, 0.0f, 1.0f);

// Direction at the given incidence angle (degrees) onto a surface with
// normal +z, coming from above.
Vec3f incoming(double degrees) {
    const double a = degrees * M_PI / 180.0;
    return Vec3f(static_cast<float>(std::sin(a)), 0.0f, static_cast<float>(-std::cos(a)));
}

} // namespace

TEST(Refraction, AlongTheNormalKeepsTheDirection) {
    EXPECT_EQ(refract(1.0003f, 1.52f, Vec3f(0, 0, -1), kUp), Vec3f(0, 0, -1));
    // Entering and leaving a sphere along its axis.
    EXPECT_EQ(refractedDirection(kUp, Vec3f(0, 0, -1), 1.52f), Vec3f(0, 0, -1));
    EXPECT_EQ(refractedDirection(Vec3f(0, 0, -1), Vec3f(0, 0, -1), 1.52f), Vec3f(0, 0, -1));
}

TEST(Refraction, BendsBySnellsLaw) {
    // Entering glass at 60 degrees: sin t = 1.0003 / 1.52 * sin 60, toward
    // the normal, unit length.
    const Vec3f T = refractedDirection(kUp, incoming(60.0), 1.52f);
    const double sinT = 1.0003 / 1.52 * std::sin(60.0 * M_PI / 180.0);
    EXPECT_NEAR(T.x, sinT, 1e-6);
    EXPECT_EQ(T.y, 0.0f);
    EXPECT_NEAR(T.z, -std::sqrt(1.0 - sinT * sinT), 1e-6);
    EXPECT_LT(T.x, incoming(60.0).x);
    EXPECT_NEAR(vmath::length(T), 1.0f, 1e-6f);
    EXPECT_EQ(T, refract(1.0003f, 1.52f, incoming(60.0), kUp));

    // Leaving the glass (the ray runs along the outward normal): the indices
    // swap, the normal is turned toward the ray, and the ray bends away.
    const Vec3f out(static_cast<float>(std::sin(0.5)), 0.0f, static_cast<float>(std::cos(0.5)));
    const Vec3f L = refractedDirection(kUp, out, 1.52f);
    EXPECT_EQ(L, refract(1.52f, 1.0003f, out, Vec3f(0, 0, -1)));
    EXPECT_NEAR(L.x, 1.52 / 1.0003 * std::sin(0.5), 1e-6);
    EXPECT_GT(L.z, 0.0f);
}

TEST(Refraction, TotalInternalReflectionGivesZero) {
    // Critical sine 1.0003 / 1.52 = 0.658 (about 41.15 degrees).
    const Vec3f leaving60(incoming(60.0).x, 0.0f, -incoming(60.0).z);
    EXPECT_EQ(refractedDirection(kUp, leaving60, 1.52f), kBlack);
    EXPECT_EQ(refract(1.52f, 1.0003f, incoming(60.0), kUp), kBlack);
    EXPECT_EQ(refract(1.52f, 1.0003f, incoming(41.5), kUp), kBlack);
    EXPECT_NE(refract(1.52f, 1.0003f, incoming(40.8), kUp), kBlack);
    // Entering never reflects totally.
    EXPECT_NE(refract(1.0003f, 1.52f, incoming(89.0), kUp), kBlack);
}

TEST(SurfaceTerms, EveryMaterialClassAndNoMaterial) {
    Standard standard("std");
    standard.Kd = ColorChannel(0.1f);
    standard.shininess = 7.0f;
    SurfaceTerms t = surfaceTerms(&standard);
    EXPECT_EQ(t.Kd, &standard.Kd);
    EXPECT_EQ(t.Ks, &standard.Ks);
    EXPECT_EQ(t.Ka, &standard.Ka);
    EXPECT_EQ(t.Kr, &standard.Kr);
    EXPECT_EQ(t.Kt, &standard.Kt);
    EXPECT_EQ(t.shininess, 7.0f);
    EXPECT_EQ(t.refractionIndex, 1.52f);

    IntersectInfo info;
    Lambert lambert("lam", 0.8f, ColorChannel(Vec3f(0.5f, 0.6f, 0.7f)));
    lambert.Ka = ColorChannel(0.3f);
    t = surfaceTerms(&lambert);
    EXPECT_EQ(t.Kd, &lambert.Kd);
    EXPECT_EQ(t.Ka, &lambert.Ka);
    EXPECT_EQ(t.Ks->evaluate(info), kBlack);
    EXPECT_EQ(t.Kr->evaluate(info), kBlack);
    EXPECT_EQ(t.Kt->evaluate(info), kBlack);
    EXPECT_EQ(t.refractionIndex, 0.0f);

    BlinnPhong blinn("bp", 0.8f, ColorChannel(0.4f), 0.5f, ColorChannel(0.9f), 24.0f);
    t = surfaceTerms(&blinn);
    EXPECT_EQ(t.Kd, &blinn.diffuse.Kd);
    EXPECT_EQ(t.Ks, &blinn.Ks);
    EXPECT_EQ(t.Ka, &blinn.Ka);
    EXPECT_EQ(t.shininess, 24.0f);
    EXPECT_EQ(t.Kr->evaluate(info), kBlack);
    EXPECT_EQ(t.Kt->evaluate(info), kBlack);
    EXPECT_EQ(t.refractionIndex, 0.0f);

    t = surfaceTerms(nullptr);
    EXPECT_EQ(t.Kd->evaluate(info), Vec3f(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(t.Ka->evaluate(info), Vec3f(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(t.Ks->evaluate(info), kBlack);
    EXPECT_EQ(t.Kr->evaluate(info), kBlack);
    EXPECT_EQ(t.Kt->evaluate(info), kBlack);
    EXPECT_EQ(t.shininess, 20.0f);
    EXPECT_EQ(t.refractionIndex, 1.52f);
}

namespace {

// A wall of two triangles at z = -10 facing the origin, with the given
// material node body (empty: no material), and optionally one light.
std::unique_ptr<World> wallWorld(const std::string &type, const std::string &body, bool light) {
    std::string scene = header(4, 4, 45);
    if (light) scene += pointLight(0, 0, -5, 10);
    if (!type.empty()) scene += material(type, "m", body);
    return loadText(scene + wall(-10, type.empty() ? "" : "mSG"));
}

// Ray/triangle tests made by one trace of the axis ray.
uint32_t testsPerTrace(const World &world, int depth) {
    g_intersected = 0;
    trace(world, vmath::Ray(Point3f(0, 0, 0), Vec3f(0, 0, -1)), depth);
    return g_intersected;
}

} // namespace

TEST(Trace, QueriesMadePerHit) {
    // Counted on the linear search, where each query tests both triangles.
    // A hit makes one shadow query per light, and none when the light's
    // terms are black whatever it answers; above depth 0 a mirror ray unless
    // the mirror weight is plain black, and a refracted ray when the material
    // has a refraction index and its transmission weight is not plain black.
    ScopedEnv linear("VORTAN_ACCEL", "none");
    std::unique_ptr<World> standard = wallWorld("aiStandard", " Kr_color 0 0 0\n", true);
    ASSERT_NE(standard, nullptr);
    EXPECT_EQ(testsPerTrace(*standard, 0), 2u * 2);
    EXPECT_EQ(testsPerTrace(*standard, 1), 2u * 2);

    // Mirror and transmission weights set: both rays leave the wall and miss.
    std::unique_ptr<World> glossy =
        wallWorld("aiStandard", " Kr 1\n Kr_color 1 1 1\n Kt 1\n Kt_color 1 1 1\n", true);
    ASSERT_NE(glossy, nullptr);
    EXPECT_EQ(testsPerTrace(*glossy, 0), 2u * 2);
    EXPECT_EQ(testsPerTrace(*glossy, 1), 2u * 4);
    EXPECT_EQ(testsPerTrace(*glossy, 2), 2u * 4);

    std::unique_ptr<World> bare = wallWorld("", "", true);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(testsPerTrace(*bare, 1), 2u * 2);

    std::unique_ptr<World> lambert = wallWorld("lambert", "", true);
    ASSERT_NE(lambert, nullptr);
    EXPECT_EQ(testsPerTrace(*lambert, 1), 2u * 2);
    std::unique_ptr<World> blinn = wallWorld("blinn", "", true);
    ASSERT_NE(blinn, nullptr);
    EXPECT_EQ(testsPerTrace(*blinn, 1), 2u * 2);

    // A missed ray makes one query and is black.
    g_intersected = 0;
    EXPECT_EQ(trace(*standard, vmath::Ray(Point3f(0, 0, 0), Vec3f(0, 0, 1)), 2), kBlack);
    EXPECT_EQ(g_intersected, 2u);
}

TEST(Trace, LightBehindTheSurfaceCastsNoShadowRay) {
    // The light lies behind the wall: diffuse and specular are black either
    // way, so only the primary query is made.
    ScopedEnv linear("VORTAN_ACCEL", "none");
    std::unique_ptr<World> world = loadText(header(4, 4, 45) + pointLight(0, 0, -15, 10) +
                            material("aiStandard", "m", "") + wall(-10, "mSG"));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(testsPerTrace(*world, 0), 2u);
}

TEST(Trace, WithoutLightsOnlyAmbientIsSeen) {
    std::unique_ptr<World> world = wallWorld("aiStandard", " Ka_color 0.2 0.4 0.6\n Kr 1\n Kr_color 1 1 1\n", false);
    ASSERT_NE(world, nullptr);
    const Vec3f c = trace(*world, vmath::Ray(Point3f(0, 0, 0), Vec3f(0, 0, -1)), 2);
    EXPECT_EQ(c, Vec3f(0.2f * 0.005f, 0.4f * 0.005f, 0.6f * 0.005f));
}

TEST(Trace, MirrorRayAddsWhatItSees) {
    // A mirror wall at z = -10 and, behind the eye, a sphere whose front
    // faces the wall. No lights: the mirror adds Kr times the sphere's
    // ambient; at depth 0 there is no mirror ray.
    const std::string scene =
        header(4, 4, 45) +
        material("aiStandard", "mirror", " Ka_color 0.2 0.2 0.2\n Kr 0.5\n Kr_color 1 1 1\n") +
        material("aiStandard", "ball", " Ka_color 0.4 0.6 0.8\n") + wall(-10, "mirrorSG") +
        sphere(0, 0, 5, 1, "ballSG");
    std::unique_ptr<World> world = loadText(scene);
    ASSERT_NE(world, nullptr);
    const vmath::Ray ray(Point3f(0, 0, 0), Vec3f(0, 0, -1));
    const float wall = 0.2f * 0.005f;
    EXPECT_EQ(trace(*world, ray, 0), Vec3f(wall, wall, wall));
    EXPECT_EQ(trace(*world, ray, 1),
              Vec3f(wall + 0.4f * 0.005f * 0.5f, wall + 0.6f * 0.005f * 0.5f,
                    wall + 0.8f * 0.005f * 0.5f));
}

TEST(Trace, ZeroDirectionHitsNothing) {
    // The refracted ray after total internal reflection has no direction; it
    // starts on the surface and must come back black.
    std::unique_ptr<World> world = loadText(header(4, 4, 45) + pointLight(0, 0, 0, 10) + sphere(0, 0, -5, 1, "") +
                            wall(-10, ""));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(trace(*world, vmath::Ray(Point3f(0, 0, -4), Vec3f(0, 0, 0)), 2), kBlack);
    EXPECT_EQ(trace(*world, vmath::Ray(Point3f(0, 0, -10), Vec3f(0, 0, 0)), 2), kBlack);
}
