// Scene files that include others ("include" lines, procedurals naming a
// scene file, plain or gzip-compressed) against the same nodes written
// inline; namespaces, the including scene's settings, refusals, and where
// the files a scene names are looked for.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/imageio.h"
#include "materials/material.h"
#include "parsers/scene_file_test.h"
#include "shapes/mesh.h"
#include "shapes/sphere.h"

namespace {

class IncludedScenes : public SceneFileTest {
protected:
    // The file's directory is made first.
    std::string file(const std::string &name) {
        const std::string path = dir_.file(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        return path;
    }
    void put(const std::string &text, const std::string &name) {
        file(name);
        write(text, name);
    }
    void writeGzip(const std::string &text, const std::string &name, size_t cut = 0) {
        const std::string path = file(name);
        gzFile f = gzopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(gzwrite(f, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
        ASSERT_EQ(gzclose(f), Z_OK);
        if (cut != 0) std::filesystem::resize_file(path, std::filesystem::file_size(path) - cut);
    }
};

std::string translate(float x, float y, float z) {
    return " matrix\n 1 0 0 0 0 1 0 0 0 0 1 0 " + std::to_string(x) + " " + std::to_string(y) + " " +
           std::to_string(z) + " 1\n";
}

std::string sphere(const std::string &name, const std::string &shader, const std::string &matrix) {
    return "sphere\n{\n name " + name + "\n radius 0.5\n shader " + shader + "\n" + matrix + "}\n";
}

std::string lambert(const std::string &name, const char *color) {
    return "lambert\n{\n name " + name + "\n Kd_color " + color + "\n}\n";
}

// What a scene holds, for comparing two loads: every sphere (centre,
// radius, material), every mesh triangle's world corners, every light.
std::vector<std::string> contents(const World *world) {
    std::vector<std::string> out;
    auto point = [](const Point3f &p) {
        return std::to_string(p.x) + " " + std::to_string(p.y) + " " + std::to_string(p.z);
    };
    for (const Primitive *p : world->primitives) {
        // A material by its name and red.
        const auto *m = dynamic_cast<const Lambert *>(p->getMaterial());
        const std::string material = m != nullptr ? m->name + " " + std::to_string(m->Kd.color.x) : "-";
        if (const auto *s = dynamic_cast<const SpherePrimitive *>(p))
            out.push_back("sphere " + point(s->object2world(Point3f())) + " r " + std::to_string(s->radius) +
                          " " + material);
        else if (const auto *t = dynamic_cast<const TrianglePrimitive *>(p))
            out.push_back("triangle " + point(t->mesh->cornerWorld(t->index, 0)) + ", " +
                          point(t->mesh->cornerWorld(t->index, 1)) + ", " +
                          point(t->mesh->cornerWorld(t->index, 2)) + " " + material);
    }
    for (const LocalLight *light : world->lights) out.push_back("light " + point(light->getWorldPosition()));
    return out;
}

// A part of a scene: a sphere and a triangle with their shader, a light,
// and a file it includes itself, all placed by the matrices given.
std::string part(const std::string &ballMatrix, const std::string &lightMatrix) {
    return lambert("paint", "0 0 1") + sphere("ball", "paint", ballMatrix) +
           "polymesh\n{\n name tri\n vidxs 3 1 UINT 0 1 2\n vlist 3 1 VECTOR 0 0 0 1 0 0 0 1 0\n"
           " shader paint\n" + ballMatrix + "}\npoint_light\n{\n name lamp\n" + lightMatrix + "}\n";
}

} // namespace

TEST_F(IncludedScenes, IncludedFilesLoadLikeTheSameNodesInline) {
    // The part, in a directory of its own, includes a second file beside it.
    put(part(translate(0, 1, 0), translate(0, 3, 0)) + "include \"inner.ass\"\n", "parts/prop.ass");
    writeGzip(part(translate(0, 1, 0), translate(0, 3, 0)) + "include \"inner.ass\"\n", "parts/prop.ass.gz");
    put(sphere("small", "paint", translate(1, 0, 0)), "parts/inner.ass");
    const std::string head = std::string(kCameraNode);
    const std::string here = part(translate(0, 1, 0), translate(0, 3, 0)) + sphere("small", "paint", translate(1, 0, 0));
    const std::string moved = part(translate(2, 1, -1), translate(2, 3, -1)) + sphere("small", "paint", translate(3, 0, -1));
    const std::string procedural = "procedural\n{\n name p\n filename parts/prop.ass";
    const struct { std::string included, inline_; } cases[] = {
        {"include \"parts/prop.ass\"\n", here},
        {procedural + "\n" + translate(2, 0, -1) + "}\n", moved},
        {procedural + ".gz\n" + translate(2, 0, -1) + " override_nodes off\n}\n", moved},
    };
    for (const auto &c : cases) {
        World *included = load(head + c.included, "main.ass");
        World *written = load(head + c.inline_, "inline.ass");
        ASSERT_NE(included, nullptr) << c.included;
        ASSERT_NE(written, nullptr);
        EXPECT_EQ(contents(included), contents(written)) << c.included;
        EXPECT_EQ(contents(included).size(), 4u);
    }
}

TEST_F(IncludedScenes, NamespacesKeepNamesApartAndTheIncludingSceneWins) {
    // The included file has options, a camera and a shader of the names the
    // including scene uses; it is included twice, once in a namespace.
    write("options\n{\n xres 10\n camera \"cam\"\n}\npersp_camera\n{\n name cam\n fov 20\n}\n" +
              lambert("paint", "0 0 1") + sphere("ball", "paint", translate(0, 1, 0)),
          "prop.ass");
    World *world = load("options\n{\n xres 64\n yres 48\n camera \"cam\"\n}\n"
                        "persp_camera\n{\n name cam\n fov 40\n}\n" + lambert("paint", "1 0 0") +
                        sphere("mine", "paint", "") +
                        "procedural\n{\n name p\n filename prop.ass\n namespace left\n" +
                        translate(-2, 0, 0) + "}\nprocedural\n{\n name q\n filename prop.ass\n}\n"
                        "ginstance\n{\n name copy\n node left::ball\n" + translate(0, 0, 3) + "}\n");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getResolution()[0], 64);
    EXPECT_EQ(world->getCamera()->getName(), "cam");
    // In the namespace the included red-less paint; without one, the first
    // paint of the scene. The instance finds the namespaced ball by its
    // full name, its own matrix placed by the instance.
    EXPECT_EQ(contents(world), (std::vector<std::string>{
                                   "sphere 0.000000 0.000000 0.000000 r 0.500000 PAINT 1.000000",
                                   "sphere -2.000000 1.000000 0.000000 r 0.500000 PAINT 0.000000",
                                   "sphere 0.000000 1.000000 0.000000 r 0.500000 PAINT 1.000000",
                                   "sphere 0.000000 1.000000 3.000000 r 0.500000 PAINT 0.000000"}));

    // Settings kept in a file of their own count when the scene has none.
    write("options\n{\n xres 32\n yres 16\n camera \"cam\"\n outputs \"a b c d\"\n}\n"
          "driver_exr\n{\n name d\n filename \"shot.exr\"\n}\n", "settings.ass");
    resetSceneFileSettings();
    world = load("include \"settings.ass\"\npersp_camera\n{\n name other\n}\n"
                 "persp_camera\n{\n name cam\n}\n", "shot.ass");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->getCamera()->getResolution()[0], 32);
    EXPECT_EQ(world->getCamera()->getName(), "cam");
    EXPECT_EQ(world->getCamera()->getOutputFileName(), "shot.exr");
}

TEST_F(IncludedScenes, CyclesDepthAndDamageAreRefusedMissingFilesPassed) {
    const std::string a = dir_.file("a.ass"), b = dir_.file("b.ass");
    write("include \"a.ass\"\n", "b.ass");
    std::vector<std::string> errors = refuse(std::string(kCameraNode) + "include \"b.ass\"\n", "a.ass");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "Included file \"" + a + "\" includes itself (" + a + " > " + b + " > " + a + ")");

    for (int k = 1; k <= 17; ++k)
        write("include \"d" + std::to_string(k + 1) + ".ass\"\n", "d" + std::to_string(k) + ".ass");
    breakRepeat();
    errors = refuse(std::string(kCameraNode) + "include \"d1.ass\"\n", "deep.ass");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].substr(0, errors[0].find(" (")),
              "Included file \"" + dir_.file("d17.ass") + "\" is included more than 16 files deep");

    // A refused node is named with the file it is in, once.
    write("include \"broken.ass\"\n", "outer.ass");
    write("polymesh\n{\n name m\n vidxs 3 1 b85UINT $\n}\n", "broken.ass");
    breakRepeat();
    errors = refuse(std::string(kCameraNode) + "include \"outer.ass\"\n");
    EXPECT_EQ(errors, (std::vector<std::string>{"Mesh M: vidxs has an unknown packing '$'",
                                                "Could not read included file " + dir_.file("broken.ass"),
                                                "Could not read file: " + dir_.file("bad.ass")}));

    writeGzip(sphere("ball", "x", "") + sphere("ball2", "x", ""), "cut.ass.gz", 6);
    breakRepeat();
    errors = refuse(std::string(kCameraNode) + "procedural\n{\n filename cut.ass.gz\n}\n");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "The scene " + dir_.file("cut.ass.gz") + " is not valid gzip-compressed text");

    breakRepeat();
    LogCapture log;
    World *world = load(std::string(kCameraNode) + "include \"nowhere.ass\"\n" + sphere("after", "x", ""));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(log.texts(google::GLOG_WARNING)[0], "Included file \"nowhere.ass\" is not found; it is not read");
    EXPECT_EQ(world->primitives.size(), 1u);

    // A file read again and again: at most 16 bytes of text per byte of the
    // distinct files, then passed over with a word.
    write(sphere("ball", "x", "") + "# " + std::string(1000, '.') + "\n", "big.ass");
    std::string many = kCameraNode;
    for (int k = 0; k < 100; ++k) many += "include \"big.ass\"\n";
    const uint64_t big = std::filesystem::file_size(dir_.file("big.ass"));
    world = load(many, "many.ass");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->primitives.size(), 1 + 16 * (many.size() + big) / big);
}

TEST_F(IncludedScenes, FilesAreFoundBesideTheirSceneThenInTheSearchPaths) {
    // One texel in each image; the scene is read from another directory.
    const float red[3] = {1, 0, 0};
    ASSERT_TRUE(WriteImageTGA(file("scenes/beside.tga"), red, 1, 1));
    ASSERT_TRUE(WriteImageTGA(file("maps/searched.tga"), red, 1, 1));
    put(sphere("found", "x", ""), "library/part.ass");
    file("scenes/scene.ass");
    World *world = load(std::string(kCameraNode) + "options\n{\n texture_searchpath \"" + dir_.file("maps") +
                            "\"\n procedural_searchpath \"/nonexistent;" + dir_.file("library") + "\"\n}\n"
                            "MayaFile\n{\n name f1\n filename beside.tga\n}\n"
                            "image\n{\n name f2\n filename C:\\\\textures\\\\searched.tga\n}\n"
                            "include \"part.ass\"\n",
                        "scenes/scene.ass");
    ASSERT_NE(world, nullptr);
    EXPECT_NE(world->findTexture(dir_.file("scenes/beside.tga")), nullptr);
    EXPECT_NE(world->findTexture(dir_.file("maps/searched.tga")), nullptr);
    ASSERT_EQ(world->primitives.size(), 1u);
    EXPECT_EQ(world->primitives[0]->name, "FOUND");
}
