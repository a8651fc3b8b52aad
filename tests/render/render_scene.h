// Helpers for end-to-end render tests: scene text building blocks, and a
// render of a scene text through renderSceneFromFile in a fresh directory
// (the report is written to the working directory).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "rendering/read_scene.h"
#include "parsers/scene_nodes.h"
#include "rendering/render.h"
#include "support/temp_dir.h"
#include "util/vecmath.h"
#include "scene/world.h"

namespace render_test {

inline std::string num(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
    return buf;
}

inline std::string vec(float x, float y, float z) { return num(x) + " " + num(y) + " " + num(z); }

// A 4x4 matrix in the file's layout (row vectors: translation on the last line).
inline std::string translation(float x, float y, float z) {
    return " matrix\n  1 0 0 0\n  0 1 0 0\n  0 0 1 0\n  " + vec(x, y, z) + " 1\n";
}

// Options and an identity camera (at the origin, looking along -z).
inline std::string header(int xres, int yres, float fov) {
    return "options\n{\n xres " + std::to_string(xres) + "\n yres " + std::to_string(yres) +
           "\n camera \"cam\"\n outputs \"RGBA RGBA filter drv\"\n}\n"
           "driver_tiff\n{\n name drv\n filename \"out.tif\"\n}\n"
           "persp_camera\n{\n name cam\n fov " + num(fov) + "\n}\n";
}

inline std::string pointLight(float x, float y, float z, float intensity) {
    return "point_light\n{\n name light\n intensity " + num(intensity) + "\n" +
           translation(x, y, z) + "}\n";
}

// A material node of the given type and body lines, with a shading engine
// named <name>SG.
inline std::string material(const std::string &type, const std::string &name,
                            const std::string &body) {
    return type + "\n{\n name " + name + "\n" + body + "}\n" + "MayaShadingEngine\n{\n name " +
           name + "SG\n beauty " + name + "\n}\n";
}

// Sphere; shaderName empty leaves it without material.
inline std::string sphere(float x, float y, float z, float radius, const std::string &shaderName) {
    std::string s = "sphere\n{\n name ball\n radius " + num(radius) + "\n" + translation(x, y, z);
    if (!shaderName.empty()) s += " shader \"" + shaderName + "\"\n";
    return s + "}\n";
}

// A 100 x 100 floor at height y, normal +y.
inline std::string floorPlane(float y, const std::string &shaderName) {
    return "plane\n{\n name floor\n width 100\n height 100\n" + translation(0, y, 0) +
           " shader \"" + shaderName + "\"\n}\n";
}

// A 100 x 100 wall in the plane z = z0, normal +z (toward the camera).
inline std::string wall(float z0, const std::string &shaderName) {
    return "plane\n{\n name wall\n width 100\n height 100\n matrix\n  1 0 0 0\n  0 0 1 0\n"
           "  0 -1 0 0\n  0 0 " + num(z0) + " 1\n shader \"" + shaderName + "\"\n}\n";
}

// A flat polymesh of nx x ny quads (two triangles each) over [-50, 50]^2 in
// the plane z = z0, normal +z.
inline std::string gridMesh(int nx, int ny, float z0, const std::string &shaderName) {
    const int nv = (nx + 1) * (ny + 1);
    const int nt = 2 * nx * ny;
    std::string vidx, vlist, uvs, nidx, tlist;
    for (int y = 0; y <= ny; ++y)
        for (int x = 0; x <= nx; ++x) {
            const float u = static_cast<float>(x) / static_cast<float>(nx);
            const float v = static_cast<float>(y) / static_cast<float>(ny);
            vlist += "  " + vec(-50.0f + 100.0f * u, -50.0f + 100.0f * v, z0) + "\n";
            uvs += "  " + num(u) + " " + num(v) + "\n";
        }
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
            const int a = y * (nx + 1) + x, b = a + 1, c = a + nx + 1, d = c + 1;
            for (int i : {a, b, d, a, d, c}) vidx += " " + std::to_string(i);
            for (int k = 0; k < 6; ++k) {
                nidx += " 0";
                tlist += "  1 0 0\n";
            }
        }
    return "polymesh\n{\n name grid\n nsides 3\n vidxs " + std::to_string(3 * nt) +
           " 1 UINT\n " + vidx + "\n vlist " + std::to_string(nv) + " 1 POINT\n" + vlist +
           " nidxs " + std::to_string(3 * nt) + " 1 UINT\n " + nidx +
           "\n nlist 1 1 VECTOR\n  0 0 1\n uvlist " + std::to_string(nv) + " 1 POINT2\n" + uvs +
           " tlist " + std::to_string(3 * nt) + " 1 VECTOR\n" + tlist + " shader \"" +
           shaderName + "\"\n}\n";
}

// A template for the report, so that renders in a fresh directory report no error.
inline void writeReportTemplate(const std::string &dir) {
    std::filesystem::create_directories(dir + "/resources");
    const std::string text = "//Maya ASCII scene\n";
    writeFileBytes(dir + "/resources/empty.ma",
                   std::vector<unsigned char>(text.begin(), text.end()));
}

// What renderSceneFromFile handed out, given back when the Render goes.
struct Render {
    float *rgb = nullptr;
    float *extraPlane = nullptr;
    World *world = nullptr;
    int width = 0;
    int height = 0;
    std::string out; // what the render printed on standard output

    Render() = default;
    Render(Render &&other) noexcept
        : rgb(std::exchange(other.rgb, nullptr)),
          extraPlane(std::exchange(other.extraPlane, nullptr)),
          world(std::exchange(other.world, nullptr)), width(other.width), height(other.height),
          out(std::move(other.out)) {}
    Render &operator=(Render &&other) noexcept {
        if (this != &other) {
            release();
            rgb = std::exchange(other.rgb, nullptr);
            extraPlane = std::exchange(other.extraPlane, nullptr);
            world = std::exchange(other.world, nullptr);
            width = other.width;
            height = other.height;
            out = std::move(other.out);
        }
        return *this;
    }
    ~Render() { release(); }

    bool ok() const { return rgb != nullptr && world != nullptr; }
    void release() {
        delete[] rgb;
        delete[] extraPlane;
        delete world;
    }
    Vec3f pixel(int i, int j) const {
        const float *p = rgb + (static_cast<size_t>(j) * width + i) * 3;
        return Vec3f(p[0], p[1], p[2]);
    }
};

// Renders the scene text from a fresh directory, with the scene-file
// settings back at their start-up values.
inline Render renderText(const std::string &sceneText) {
    Render r;
    TempDir dir;
    EXPECT_TRUE(dir.ok());
    if (!dir.ok()) return r;
    writeReportTemplate(dir.path());
    const std::string path = dir.file("scene.ass");
    EXPECT_TRUE(writeFileBytes(path, std::vector<unsigned char>(sceneText.begin(), sceneText.end())));
    resetSceneFileSettings();
    {
        ScopedChdir cd(dir.path());
        EXPECT_TRUE(cd.ok());
        testing::internal::CaptureStdout();
        renderSceneFromFile(&r.rgb, &r.extraPlane, &r.world, path.c_str());
        r.out = testing::internal::GetCapturedStdout();
    }
    if (r.world != nullptr && r.world->getCamera() != nullptr) {
        r.width = r.world->getCamera()->getResolution()[0];
        r.height = r.world->getCamera()->getResolution()[1];
    }
    return r;
}

// Loads a scene text without rendering it (for tracer-level tests).
inline std::unique_ptr<World> loadText(const std::string &sceneText) {
    TempDir dir;
    EXPECT_TRUE(dir.ok());
    const std::string path = dir.file("scene.ass");
    EXPECT_TRUE(writeFileBytes(path, std::vector<unsigned char>(sceneText.begin(), sceneText.end())));
    resetSceneFileSettings();
    return std::unique_ptr<World>(readScene(path.c_str()));
}

} // namespace render_test
