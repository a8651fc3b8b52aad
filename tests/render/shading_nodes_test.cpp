// Surface shaders and lights: shapes bound to materials by name, the
// standard_surface values as Whitted terms, colour parameters that name
// other nodes, and colours traced on small scenes under each light type.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "util/error.h"
#include "materials/material.h"
#include "parsers/scene_file_test.h"
#include "shapes/primitive.h"
#include "render/render_scene.h"
#include "support/log_capture.h"
#include "rendering/tracer.h"

using namespace render_test;

namespace {

using ShadingNodes = SceneFileTest;

const Vec3f kBlack(0, 0, 0), kAhead(0, 0, -1);
const Point3f kEye(0, 0, 0), kOffAxis(1.5f, 2, 0); // the wall is hit at (1.5, 2, -10)

Vec3f grey(float v) { return Vec3f(v, v, v); }

::testing::AssertionResult near(const Vec3f &a, const Vec3f &b) {
    for (int i = 0; i < 3; ++i)
        if (!(std::fabs(a[i] - b[i]) <= 1e-6f * (1.0f + std::fabs(b[i]))))
            return ::testing::AssertionFailure() << a.x << " " << a.y << " " << a.z << " vs "
                                                 << b.x << " " << b.y << " " << b.z;
    return ::testing::AssertionSuccess();
}

std::vector<std::string> containing(const std::vector<std::string> &lines, const char *part) {
    std::vector<std::string> out;
    for (const std::string &l : lines)
        if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
}

// The nodes and a wall at z = -10 facing the eye, under a lambert of
// colour 0.7 (a lambert shows no ambient light).
std::unique_ptr<World> wallScene(const std::string &nodes) {
    return loadText(header(4, 4, 45) + material("lambert", "m", " Kd_color 0.7 0.7 0.7\n") +
                    nodes + wall(-10, "mSG"));
}

std::string light(const std::string &type, const std::string &body, const std::string &matrix) {
    return type + "\n{\n" + body + matrix + "}\n";
}

Vec3f traced(const std::unique_ptr<World> &world, const Point3f &from, const Vec3f &direction) {
    EXPECT_NE(world, nullptr);
    return world ? trace(*world, vmath::Ray(from, direction), kTraceDepth) : grey(-9);
}

} // namespace

TEST_F(ShadingNodes, ShapesBindByEngineOrMaterialName) {
    struct Row {
        const char *shaderLine;
        const char *material;
    } rows[] = {
        {" shader \"red\"\n", "RED"},          // a material, no engine
        {" shader 1 1 NODE \"Red\"\n", "RED"}, // the same as a one-element array
        {" shader \"blueSG\"\n", "BLUE"},      // through an engine
        {" shader \"both\"\n", "BLUE"},        // an engine beats a material of its name
        {" shader \"nothere\"\n", "(none)"},
    };
    std::string text = std::string(kCameraNode) + "MayaShadingEngine\n{\n name blueSG\n beauty "
                       "blue\n}\nMayaShadingEngine\n{\n name both\n beauty blue\n}\n";
    for (const char *name : {"red", "blue", "both"})
        text += "lambert\n{\n name " + std::string(name) + "\n}\n";
    for (const Row &r : rows) text += "sphere\n{\n" + std::string(r.shaderLine) + "}\n";
    World *world = load(text);
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->primitives.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Material *m = world->primitives[i]->getMaterial();
        EXPECT_EQ(m ? m->name : "(none)", rows[i].material) << rows[i].shaderLine;
    }
}

TEST_F(ShadingNodes, StandardSurfaceAsWhittedTerms) {
    // Roughness 0.2 gives the exponent 1248 and 0.5 gives 30; 0.1 exceeds
    // 10000 and 1 falls below 1.
    const Vec3f k0 = grey(0);
    struct Row {
        const char *body;
        Vec3f Kd, Ks;
        float shininess;
        Vec3f Kr, Kt;
        float ior;
        Vec3f Ke;
    } rows[] = {
        {"", grey(0.8f), grey(1), 1248, k0, k0, 1.5f, k0},
        {" base 0.5\n base_color 1 0.5 0\n metalness 0.5\n specular_roughness 1\n",
         Vec3f(0.25f, 0.125f, 0), grey(1), 1, Vec3f(0.5f, 0.25f, 0), k0, 1.5f, k0},
        {" transmission 0.5\n transmission_color 0 1 1\n specular_IOR 2\n specular 0.9\n"
         " specular_color 1 0 1\n",
         grey(0.4f), Vec3f(0.9f, 0, 0.9f), 1248, k0, Vec3f(0, 0.5f, 0.5f), 2, k0},
        {" specular_roughness 0.5\n emission 2\n emission_color 0.5 0.25 1\n", grey(0.8f),
         grey(1), 30, k0, k0, 1.5f, Vec3f(1, 0.5f, 2)},
        {" specular_roughness 0.1\n base_color 1 1 RGB 0.2 0.4 0.6\n",
         Vec3f(0.16f, 0.32f, 0.48f), grey(1), 10000, k0, k0, 1.5f, k0},
        {" metalness 1\n transmission 1\n", k0, grey(1), 1248, grey(1), grey(1), 1.5f, k0},
        // Weights beyond [0, 1] are kept within it; an unusable index is 1.5.
        {" metalness -1\n transmission 2\n specular_IOR -1\n", k0, grey(1), 1248, k0, grey(1),
         1.5f, k0},
    };
    std::string text = kCameraNode;
    for (const Row &r : rows) text += "standard_surface\n{\n" + std::string(r.body) + "}\n";
    World *world = load(text);
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->materials.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].body);
        ASSERT_EQ(world->materials[i]->kind, MaterialKind::Standard);
        const auto *m = static_cast<const Standard *>(world->materials[i]);
        EXPECT_TRUE(near(m->Kd.color, rows[i].Kd));
        EXPECT_EQ(m->Ka.color, m->Kd.color);
        EXPECT_TRUE(near(m->Ks.color, rows[i].Ks));
        EXPECT_NEAR(m->shininess, rows[i].shininess, 1e-6f * rows[i].shininess);
        EXPECT_TRUE(near(m->Kr.color, rows[i].Kr));
        EXPECT_TRUE(near(m->Kt.color, rows[i].Kt));
        EXPECT_EQ(m->refractionIndex, rows[i].ior);
        EXPECT_TRUE(near(m->Ke.color, rows[i].Ke));
    }
}

TEST_F(ShadingNodes, ColourNamingANodeIsATextureOnlyForATgaImage) {
    // 2 x 1 TGA: red, then cyan (bytes blue, green, red).
    ASSERT_TRUE(writeFileBytes(dir_.file("two.tga"), {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0,
                                                      1, 0, 24, 0, 0, 0, 255, 255, 255, 0}));
    ASSERT_TRUE(writeFileBytes(dir_.file("pic.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 26, 10}));
    breakRepeat();
    LogCapture log;
    World *world = load(
        std::string(kCameraNode) + "image\n{\n name tga1\n filename \"" + dir_.file("two.tga") +
        "\"\n}\nimage\n{\n name pic\n filename \"" + dir_.file("pic.png") +
        "\"\n}\nlambert\n{\n name notAnImage\n}\n"
        "standard_surface\n{\n name viaTga\n base 0.5\n base_color 1 1 NODE \"tga1\"\n}\n"
        "standard_surface\n{\n name viaGhost\n base_color ghost\n metalness 0.25\n}\n"
        "standard_surface\n{\n name viaPng\n emission 2\n emission_color pic\n}\n"
        "flat\n{\n name viaLambert\n color notAnImage\n}\n");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->materials.size(), 5u);
    const auto *viaTga = static_cast<const Standard *>(world->materials[1]);
    const auto *ghost = static_cast<const Standard *>(world->materials[2]);
    const auto *png = static_cast<const Standard *>(world->materials[3]);
    ASSERT_EQ(world->materials[4]->kind, MaterialKind::Flat);

    // The texel under (u, v), tinted by the channel weight.
    IntersectInfo hit;
    hit.v = 0.5f;
    for (float u : {0.25f, 0.75f}) {
        hit.u = u;
        const Vec3f texel = u < 0.5f ? Vec3f(0.5f, 0, 0) : Vec3f(0, 0.5f, 0.5f);
        EXPECT_EQ(viaTga->Kd.evaluate(hit), texel) << u;
        EXPECT_EQ(viaTga->Ka.evaluate(hit), texel) << u;
    }
    // Anything else takes the parameter's default, weighted as numbers are.
    for (const ColorChannel *c : {&ghost->Kd, &ghost->Ka, &ghost->Kr, &png->Ke})
        EXPECT_EQ(c->texture, nullptr);
    EXPECT_TRUE(near(ghost->Kd.color, grey(0.6f)));
    EXPECT_TRUE(near(ghost->Ka.color, grey(0.6f)));
    EXPECT_EQ(ghost->Kr.color, grey(0.25f));
    EXPECT_EQ(png->Ke.color, grey(2));
    EXPECT_EQ(static_cast<const Flat *>(world->materials[4])->color.color, grey(1));

    // One Warning per parameter, however many channels it feeds.
    const std::string tail = "\", which cannot be evaluated; using the default";
    EXPECT_EQ(containing(log.texts(google::GLOG_WARNING), "cannot be evaluated"),
              (std::vector<std::string>{"Shader VIAGHOST: base_color names \"GHOST" + tail,
                                        "Shader VIAPNG: emission_color names \"PIC" + tail,
                                        "Shader VIALAMBERT: color names \"NOTANIMAGE" + tail}));
}

TEST(SurfaceShading, EmissionAddsToTheColourAndFlatIsUnlit) {
    // The wall under a point light and a sky, bound to its material by name.
    auto seen = [](const std::string &shader) {
        return traced(loadText(header(4, 4, 45) + pointLight(0, 0, -5, 10) + shader +
                               "skydome_light\n{\n color 0.1 0.2 0.3\n}\n" + wall(-10, "s")),
                      kOffAxis, kAhead);
    };
    const std::string surface = "standard_surface\n{\n name s\n base_color 0.2 0.4 0.6\n";
    const Vec3f plain = seen(surface + "}\n");
    EXPECT_NE(plain, kBlack);
    EXPECT_EQ(seen(surface + " emission 0.5\n emission_color 1 0.5 0.25\n}\n"),
              plain + Vec3f(0.5f, 0.25f, 0.125f));
    EXPECT_EQ(seen("flat\n{\n name s\n color 0.3 0.6 0.9\n}\n"), Vec3f(0.3f, 0.6f, 0.9f));
    EXPECT_EQ(seen("utility\n{\n name s\n color 0.1 0.2 0.3\n}\n"), Vec3f(0.1f, 0.2f, 0.3f));
}

TEST(LightStrength, ColourTimesIntensityTimesTwoToTheExposure) {
    // A white light of intensity I gives I / d^2 x cos x Kd at the hit.
    std::unique_ptr<World> probe = wallScene("");
    ASSERT_NE(probe, nullptr);
    IntersectInfo hit;
    probe->intersect(hit, vmath::Ray(kOffAxis, kAhead), vmath::kMaxFloat);
    ASSERT_NE(hit.id, -1);
    const Point3f at(0, 0, -5);
    const Vec3f d = hit.position - at;
    const float d2 = d.x * d.x + d.y * d.y + d.z * d.z;
    const float cosine = dot(vmath::normalized(hit.normal), vmath::normalized(at - hit.position));
    struct Row {
        const char *body;
        float intensity;
        Vec3f scale; // of the white light's colour, per channel
    } rows[] = {
        {" intensity 13\n color 1 1 1\n exposure 0\n", 13, grey(1)},
        {" intensity 13\n color 1 0 0\n", 13, Vec3f(1, 0, 0)},
        {" intensity 13\n exposure 1\n", 13, grey(2)},
        {" intensity 13\n color 0 0.5 1\n exposure -1\n", 13, Vec3f(0, 0.25f, 0.5f)},
        {"", 10, grey(1)}, // point lights keep their default intensity
    };
    for (const Row &r : rows)
        EXPECT_EQ(traced(wallScene(light("point_light", r.body, translation(0, 0, -5))), kOffAxis,
                         kAhead),
                  r.scale * ((0.7f * (r.intensity / d2)) * cosine))
            << r.body;
}

TEST(DistantLight, ParallelWithoutFallOffAndShadowedFromAfar) {
    // Shining down (its -z axis turned to -y) from below the floor: its
    // position plays no part. A ball hangs 1000 units above the floor.
    std::unique_ptr<World> world = loadText(
        header(4, 4, 45) + material("lambert", "m", " Kd_color 0.25 0.5 1\n") +
        "distant_light\n{\n intensity 3\n matrix\n 1 0 0 0\n 0 0 -1 0\n 0 1 0 0\n 0 -50 0 1\n}\n" +
        floorPlane(-1, "mSG") + sphere(0, 1000, -40, 10, ""));
    EXPECT_EQ(traced(world, kEye, Vec3f(0, -1, -2)), Vec3f(0.75f, 1.5f, 3));
    EXPECT_EQ(traced(world, kEye, Vec3f(0, -1, -20)), Vec3f(0.75f, 1.5f, 3));
    EXPECT_EQ(traced(world, kEye, Vec3f(0, -1, -40)), kBlack);
}

TEST(SpotLight, FullInsideTheConeBlackOutsideSmoothAcrossThePenumbra) {
    // Spot (default intensity 1) and point light at the eye, the spot aimed
    // along -z; the rays leave the eye at an angle off that axis.
    struct Row {
        const char *body;
        double degrees;
        float factor; // of the point light's colour
    } rows[] = {
        {" cone_angle 60\n penumbra_angle 10\n", 15, 1},
        {" cone_angle 60\n penumbra_angle 10\n", 25, 0.570f}, // smoothstep(0.5468)
        {" cone_angle 60\n penumbra_angle 10\n", 35, 0},
        {"", 30, 1}, // cone 65 degrees, no penumbra
        {"", 35, 0},
    };
    std::unique_ptr<World> point = wallScene(pointLight(0, 0, 0, 1));
    for (const Row &r : rows) {
        const double a = r.degrees * M_PI / 180.0;
        const Vec3f ray(static_cast<float>(std::sin(a)), 0, static_cast<float>(-std::cos(a)));
        const Vec3f full = traced(point, kEye, ray);
        const Vec3f spot = traced(wallScene(light("spot_light", r.body, "")), kEye, ray);
        if (r.factor == 0.0f || r.factor == 1.0f)
            EXPECT_EQ(spot, full * r.factor) << r.body << r.degrees;
        else
            EXPECT_NEAR(spot.x / full.x, r.factor, 1e-3) << r.body << r.degrees;
    }
}

TEST(SkyDome, MissesSeeTheSkyAndSurfacesGetKdTimesSkyUnshadowed) {
    // Sky (0.5, 1, 0.25) x 2 x 2^1. A ceiling just above the floor shuts
    // out the sky and a point light above it.
    std::unique_ptr<World> world = loadText(
        header(4, 4, 45) + "skydome_light\n{\n color 0.5 1 0.25\n intensity 2\n exposure 1\n}\n" +
        pointLight(0, 5, 0, 100) + material("lambert", "m", " Kd_color 0.25 0.5 1\n") +
        floorPlane(-1, "mSG") + "plane\n{\n name ceiling\n width 100\n height 100\n" +
        translation(0, -0.5f, 0) + "}\n");
    EXPECT_EQ(traced(world, kEye, Vec3f(0, 1, 0)), Vec3f(2, 4, 1));
    EXPECT_EQ(traced(world, Point3f(0, -0.9f, 0), Vec3f(0, -1, -1)), Vec3f(0.5f, 2, 1));
}

TEST(OtherLightTypes, PointLikeOnesLightAsAPointLightUnknownOnesWarnAndAreSkipped) {
    // Two nodes of each point-like type, each like a point light of
    // intensity 1 at its centre, with one INFO line per type; two nodes of
    // an unknown type (the second Warning repeats the first and is dropped).
    const char *types[] = {"quad_light", "disk_light", "cylinder_light", "photometric_light",
                           "mesh_light"};
    std::string asTypes = light("mystery_light", " intensity 5\n", translation(1, 2, -5)), asPoints;
    std::vector<std::string> expected;
    for (const char *type : types) {
        expected.push_back(std::string(type) + " nodes are lit as a point light at their centre");
        for (int k = 0; k < 2; ++k) {
            asTypes += light(type, "", translation(1, 2, -5));
            asPoints += light("point_light", " intensity 1\n", translation(1, 2, -5));
        }
    }
    const Vec3f reference = traced(wallScene(asPoints), kOffAxis, kAhead);
    EXPECT_NE(reference, kBlack);
    Warning("light type test marker"); // the next Warning is never taken for a repeat
    LogCapture log;
    std::unique_ptr<World> world = wallScene(asTypes + light("Mystery_Light", "", ""));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->lights.size(), 2 * std::size(types));
    EXPECT_EQ(traced(world, kOffAxis, kAhead), reference);
    EXPECT_EQ(containing(log.infos(), "lit as a point light"), expected);
    EXPECT_EQ(containing(log.texts(google::GLOG_WARNING), "Light type"),
              std::vector<std::string>{
                  "Light type mystery_light is not supported; its nodes are skipped"});
}

// Names that start like "inf" or "nan" are node names, not numbers; a light
// colour naming a node (bare or as a NODE array) keeps the light white; a
// strength beyond the float range stays finite, so black stays black; a
// zero weight never keeps a texture.
TEST_F(ShadingNodes, NodeNamesAndExtremeValuesStaySound) {
    LogCapture log;
    World *world = load(std::string(kCameraNode) +
                        "standard_surface\n{\n name a\n base_color inflatable_checker\n}\n"
                        "flat\n{\n name f\n color Nanite1\n}\n"
                        "point_light\n{\n name p\n color 1 1 NODE \"tex\"\n intensity 2\n}\n"
                        "point_light\n{\n name q\n color infoRamp\n exposure 200\n}\n"
                        "image\n{\n name img\n filename \"picture.exr\"\n}\n"
                        "standard_surface\n{\n name z\n base_color img\n metalness 0\n}\n");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->materials.size(), 3u);
    EXPECT_EQ(static_cast<const Standard *>(world->materials[0])->Kd.color, grey(0.8f));
    EXPECT_EQ(static_cast<const Flat *>(world->materials[1])->color.color, grey(1));
    EXPECT_EQ(static_cast<const Standard *>(world->materials[2])->Kr.texture, nullptr);
    ASSERT_EQ(world->lights.size(), 2u);
    EXPECT_EQ(world->lights[0]->emitted(), grey(2));
    EXPECT_EQ(world->lights[1]->emitted(), grey(3.4028235e38f));
    EXPECT_EQ(containing(log.texts(google::GLOG_WARNING), "cannot be evaluated").size(), 5u);
    // The image is read as the OpenEXR file its name says it is; it is missing.
    EXPECT_EQ(log.errors(), std::vector<std::string>{"Unable to open OpenEXR file \"picture.exr\""});
}
