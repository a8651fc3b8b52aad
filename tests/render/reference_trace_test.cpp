// The tracer against a plain formulation of the same shading: per light the
// diffuse and the specular term, each with its own shadow ray through
// World::intersect; the ambient term; and at every hit above depth 0 the
// mirror ray and (with a refraction index) the refracted ray, whatever their
// weights. Run on the linear search, this is the reference picture; the
// renderer under the kd-tree, which shares one shadow query per light and
// skips rays of plain black weight, must give the same float bits.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "lights/light.h"
#include "shapes/primitive.h"
#include "render/frame_scenes.h"
#include "rendering/tracer.h"

using namespace frame_test;

namespace {

Vec3f referenceTrace(const World &world, const vmath::Ray &ray, int depth) {
    IntersectInfo info;
    world.intersect(info, ray, vmath::kMaxFloat);
    if (info.id == -1) return Vec3f(0.0f, 0.0f, 0.0f);
    const SurfaceTerms mat = surfaceTerms(info.material);

    Vec3f diffuse(0.0f, 0.0f, 0.0f), specular(0.0f, 0.0f, 0.0f);
    for (const LocalLight *light : world.lights) {
        diffuse = diffuse + directDiffuse(world, *light, info);
        specular = specular + directSpecular(world, *light, info);
    }
    const Vec3f ka = mat.Ka->evaluate(info);
    const Vec3f ambient(ka.x * kAmbientScale, ka.y * kAmbientScale, ka.z * kAmbientScale);

    Vec3f reflexion(0.0f, 0.0f, 0.0f), refraction(0.0f, 0.0f, 0.0f);
    if (depth > 0) {
        const Vec3f R = vmath::reflect(ray.direction, info.normal);
        reflexion = mulComponents(
            referenceTrace(world, vmath::Ray(info.position + kRayOffset * R, R), depth - 1),
            mat.Kr->evaluate(info));
    }
    if (depth > 0 && mat.refractionIndex != 0.0f) {
        const Vec3f T = refractedDirection(info.normal, info.ray.direction, mat.refractionIndex);
        refraction = mulComponents(
            referenceTrace(world, vmath::Ray(info.position + kRayOffset * T, T), depth - 1),
            mat.Kt->evaluate(info));
    }
    return Vec3f((((diffuse.x + specular.x) + ambient.x) + reflexion.x) + refraction.x,
                 (((diffuse.y + specular.y) + ambient.y) + reflexion.y) + refraction.y,
                 (((diffuse.z + specular.z) + ambient.z) + reflexion.z) + refraction.z);
}

// The reference picture of a world, one ray per pixel corner as the frame
// loop casts them.
Frame referenceFrame(const World &world) {
    Frame f;
    const Camera *camera = world.getCamera();
    const Vec2i res = world.getCamera()->getResolution();
    f.width = res[0];
    f.height = res[1];
    f.rgb.resize(static_cast<size_t>(f.width) * f.height * 3);
    for (int j = 0; j < f.height; ++j)
        for (int i = 0; i < f.width; ++i) {
            const vmath::Ray ray =
                camera->generateRay(static_cast<float>(i), static_cast<float>(j));
            const Vec3f c = referenceTrace(world, ray, kTraceDepth);
            float *p = &f.rgb[(static_cast<size_t>(j) * f.width + i) * 3];
            p[0] = c.x;
            p[1] = c.y;
            p[2] = c.z;
        }
    return f;
}

void expectMatchesReference(const std::function<std::unique_ptr<World>(const char *)> &load) {
    std::unique_ptr<World> linear = load("none");
    std::unique_ptr<World> tree = load("kdtree");
    ASSERT_NE(linear, nullptr);
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(linear->accelerator, nullptr);
    ASSERT_NE(tree->accelerator, nullptr);
    const Frame reference = referenceFrame(*linear);
    EXPECT_EQ(firstDifference(reference, renderFrameRows(*tree, 2)), "");
}

} // namespace

TEST(ReferenceTrace, MeshSceneMatchesBitForBit) {
    expectMatchesReference([](const char *accel) { return loadMeshScene(accel); });
}

TEST(ReferenceTrace, ExampleScenesMatchBitForBit) {
    for (const char *scene : {"scenes/minimal.ass", "scenes/showcase.ass"}) {
        SCOPED_TRACE(scene);
        expectMatchesReference([&](const char *accel) { return loadSceneFile(scene, accel); });
    }
}

TEST(ReferenceTrace, MeshSceneExercisesEveryTerm) {
    // Guards the comparison above against a scene that has drifted out of
    // view: it has empty and lit pixels; pixels that change when the mirror
    // and refracted rays are dropped (traced at depth 0); and hits where a
    // light's diffuse term is zero but its specular term is not, which still
    // need their shadow query.
    std::unique_ptr<World> world = loadMeshScene("kdtree");
    ASSERT_NE(world, nullptr);
    const Camera *camera = world->getCamera();
    int background = 0, bright = 0, differsWithDepth = 0, specularOnly = 0;
    for (int j = 0; j < 48; j += 2)
        for (int i = 0; i < 64; i += 2) {
            const vmath::Ray ray =
                camera->generateRay(static_cast<float>(i), static_cast<float>(j));
            const Vec3f full = trace(*world, ray, kTraceDepth);
            if (full == Vec3f(0.0f, 0.0f, 0.0f)) ++background;
            if (full.x > 0.05f) ++bright;
            if (!(trace(*world, ray, 0) == full)) ++differsWithDepth;
            IntersectInfo info;
            world->intersect(info, ray, vmath::kMaxFloat);
            if (info.id == -1) continue;
            for (const LocalLight *light : world->lights)
                if (directDiffuse(*world, *light, info) == Vec3f(0.0f, 0.0f, 0.0f) &&
                    !(directSpecular(*world, *light, info) == Vec3f(0.0f, 0.0f, 0.0f)))
                    ++specularOnly;
        }
    EXPECT_GT(background, 0);
    EXPECT_GT(bright, 50);
    EXPECT_GT(differsWithDepth, 20);
    EXPECT_GT(specularOnly, 50);
}
