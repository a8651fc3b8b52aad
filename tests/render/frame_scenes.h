// Helpers for whole-frame comparisons: a generated scene with a smooth
// textured mesh, mirror and glass balls and two lights; loading a scene
// under a chosen accelerator; rendering it through the frame loop; and a
// bit-exact comparison of two frames that names the first differing pixel.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rendering/read_scene.h"
#include "parsers/scene_nodes.h"
#include "rendering/frame_loop.h"
#include "shapes/mesh.h"
#include "render/render_scene.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace frame_test {

using render_test::num;
using render_test::vec;

// A closed torus with a bumpy tube: nu x nv quads as two triangles each,
// vertices shared across the seams, one smooth normal per vertex, a tangent
// per corner and texture coordinates per vertex. Tilted and moved by a
// matrix, so world-space corners differ from the file's.
inline std::string bumpyTorus(int nu, int nv, const std::string &shaderName) {
    const double R = 1.1, r = 0.42;
    auto position = [&](double a, double b, double *p) {
        const double rr = r * (1.0 + 0.15 * std::sin(5.0 * a) * std::sin(3.0 * b));
        p[0] = (R + rr * std::cos(b)) * std::cos(a);
        p[1] = rr * std::sin(b);
        p[2] = (R + rr * std::cos(b)) * std::sin(a);
    };
    const double kTwoPi = 6.283185307179586;
    const double h = 1e-4;
    std::string vlist, nlist, uvs, vidx, tlist;
    std::vector<std::string> tangentOf(static_cast<size_t>(nu * nv));
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            const double a = kTwoPi * i / nu, b = kTwoPi * j / nv;
            double p[3], pa[3], pb[3];
            position(a, b, p);
            position(a + h, b, pa);
            position(a, b + h, pb);
            double du[3], dv[3];
            for (int k = 0; k < 3; ++k) {
                du[k] = pa[k] - p[k];
                dv[k] = pb[k] - p[k];
            }
            // Outward normal: dP/db x dP/da.
            double n[3] = {dv[1] * du[2] - dv[2] * du[1], dv[2] * du[0] - dv[0] * du[2],
                           dv[0] * du[1] - dv[1] * du[0]};
            const double ln = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            const double lu = std::sqrt(du[0] * du[0] + du[1] * du[1] + du[2] * du[2]);
            auto f = [](double x) { return static_cast<float>(x); };
            vlist += "  " + vec(f(p[0]), f(p[1]), f(p[2])) + "\n";
            nlist += "  " + vec(f(n[0] / ln), f(n[1] / ln), f(n[2] / ln)) + "\n";
            uvs += "  " + num(f(static_cast<double>(i) / nu)) + " " +
                   num(f(static_cast<double>(j) / nv)) + "\n";
            tangentOf[static_cast<size_t>(j * nu + i)] =
                "  " + vec(f(du[0] / lu), f(du[1] / lu), f(du[2] / lu)) + "\n";
        }
    const int nt = 2 * nu * nv;
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            const int i1 = (i + 1) % nu, j1 = (j + 1) % nv;
            const int a = j * nu + i, b = j * nu + i1, c = j1 * nu + i, d = j1 * nu + i1;
            for (int k : {a, c, d, a, d, b}) {
                vidx += " " + std::to_string(k);
                tlist += tangentOf[static_cast<size_t>(k)];
            }
        }
    const std::string nCorners = std::to_string(3 * nt), nVerts = std::to_string(nu * nv);
    // Rotated 35 degrees about x and 20 about y, scaled by 0.9, moved back.
    return "polymesh\n{\n name torus\n nsides 3\n vidxs " + nCorners + " 1 UINT\n " + vidx +
           "\n vlist " + nVerts + " 1 POINT\n" + vlist + " nidxs " + nCorners + " 1 UINT\n " +
           vidx + "\n nlist " + nVerts + " 1 VECTOR\n" + nlist + " uvlist " + nVerts +
           " 1 POINT2\n" + uvs + " tlist " + nCorners + " 1 VECTOR\n" + tlist +
           " matrix\n  0.845723 0 -0.307818 0\n  0.176557 0.737237 0.485087 0\n"
           "  0.252150 -0.516219 0.692776 0\n  0.2 0.1 -6 1\n shader \"" + shaderName +
           "\"\n}\n";
}

// The torus (2 * 40 * 20 = 1600 triangles, checker-textured, glossy) over a
// glossy ground, with a mirror ball and a glass ball beside it; the identity
// camera looks at it. A key light above; the fill light sits below the
// ground far behind the scene, so on much of the ground its diffuse term is
// zero while its (unclamped) specular term is not. Everything else is
// blocked from it by the ground. The texture path is relative to the
// repository root.
inline std::string meshScene(int width, int height) {
    using namespace render_test;
    return header(width, height, 50) +
           "point_light\n{\n name key\n intensity 60\n" + translation(3, 5, -2) + "}\n" +
           "point_light\n{\n name fill\n intensity 25\n" + translation(-1, -1.6f, -16) + "}\n" +
           "MayaFile\n{\n name checkerFile\n filename \"scenes/checker.tga\"\n}\n" +
           material("aiStandard", "torusMat",
                    " Kd 0.9\n Kd_color checkerFile\n Ks 0.5\n Ks_color 1 1 1\n Kshi 40\n") +
           material("aiStandard", "groundMat",
                    " Kd 1\n Kd_color 0.6 0.55 0.5\n Ks 0.3\n Ks_color 1 1 1\n Kshi 4\n") +
           material("aiStandard", "mirrorMat",
                    " Kd 1\n Kd_color 0.05 0.05 0.05\n Ks 0.6\n Ks_color 1 1 1\n Kshi 60\n"
                    " Kr 0.8\n Kr_color 1 1 1\n") +
           material("aiStandard", "glassMat",
                    " Kd 1\n Kd_color 0.02 0.02 0.02\n Ks 0.8\n Ks_color 1 1 1\n Kshi 80\n"
                    " Kt 0.9\n Kt_color 1 1 1\n") +
           bumpyTorus(40, 20, "torusMatSG") + floorPlane(-1.0f, "groundMatSG") +
           sphere(-1.9f, -0.2f, -4.8f, 0.75f, "mirrorMatSG") +
           sphere(1.5f, -0.3f, -4.2f, 0.65f, "glassMatSG");
}

// Loads the generated scene with VORTAN_ACCEL set to accel.
inline std::unique_ptr<World> loadMeshScene(const char *accel, int width = 64, int height = 48) {
    ScopedEnv env("VORTAN_ACCEL", accel);
    ScopedChdir cwd(VORTAN_SOURCE_DIR);
    EXPECT_TRUE(cwd.ok());
    return render_test::loadText(meshScene(width, height));
}

// Loads a scene file of the repository with VORTAN_ACCEL set to accel.
inline std::unique_ptr<World> loadSceneFile(const char *relativePath, const char *accel) {
    ScopedEnv env("VORTAN_ACCEL", accel);
    ScopedChdir cwd(VORTAN_SOURCE_DIR);
    EXPECT_TRUE(cwd.ok());
    resetSceneFileSettings();
    return std::unique_ptr<World>(readScene(relativePath));
}

struct Frame {
    std::vector<float> rgb;
    int width = 0;
    int height = 0;
    uint32_t tests = 0; // ray/triangle tests the render added to g_intersected
    std::string out;    // what the render printed
};

// Renders the world's whole film through renderRows on `threads` threads.
inline Frame renderFrameRows(const World &world, int threads) {
    Frame f;
    const Vec2i res = world.getCamera()->getResolution();
    f.width = res[0];
    f.height = res[1];
    f.rgb.assign(static_cast<size_t>(f.width) * f.height * 3, -7.0f);
    // A non-zero start shows that the render adds to the counter.
    g_intersected = 1000;
    testing::internal::CaptureStdout();
    renderRows(world, static_cast<uint32_t>(f.width), static_cast<uint32_t>(f.height),
               f.rgb.data(), threads);
    f.out = testing::internal::GetCapturedStdout();
    f.tests = g_intersected - 1000;
    return f;
}

// Empty when the frames hold the same float bits; else the first pixel
// that differs and both values of it.
inline std::string firstDifference(const Frame &a, const Frame &b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size())
        return "different film sizes";
    for (size_t k = 0; k < a.rgb.size(); ++k) {
        if (std::memcmp(&a.rgb[k], &b.rgb[k], sizeof(float)) == 0) continue;
        const size_t p = k / 3;
        const float *x = &a.rgb[p * 3], *y = &b.rgb[p * 3];
        char buf[256];
        std::snprintf(buf, sizeof buf,
                      "pixel (%zu, %zu): (%.9g, %.9g, %.9g) vs (%.9g, %.9g, %.9g)",
                      p % static_cast<size_t>(a.width), p / static_cast<size_t>(a.width),
                      static_cast<double>(x[0]), static_cast<double>(x[1]),
                      static_cast<double>(x[2]), static_cast<double>(y[0]),
                      static_cast<double>(y[1]), static_cast<double>(y[2]));
        return buf;
    }
    return "";
}

// The number of pixels in which two frames of one size differ.
inline size_t differingPixels(const Frame &a, const Frame &b) {
    size_t n = 0;
    for (size_t p = 0; p + 2 < a.rgb.size() && p + 2 < b.rgb.size(); p += 3)
        n += std::memcmp(&a.rgb[p], &b.rgb[p], 3 * sizeof(float)) != 0;
    return n;
}

// The accelerators of this build, the linear search first.
inline std::vector<const char *> accelerators() {
#if VORTAN_HAVE_EMBREE
    return {"none", "kdtree", "embree"};
#else
    return {"none", "kdtree"};
#endif
}

} // namespace frame_test
