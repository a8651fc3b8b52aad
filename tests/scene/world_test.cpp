#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "image/imageio.h"
#include "materials/material.h"
#include "shapes/mesh.h"
#include "shapes/sphere.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "scene/world.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The square |x|, |y| <= 1 in the plane z = depth, facing -z, as two
// triangles: (-1,-1) (1,-1) (1,1), which holds the points with y <= x, and
// (-1,-1) (1,1) (-1,1).
void makeSquare(MeshShape &mesh, float depth) {
    const Point3f vertices[4] = {{-1, -1, depth}, {1, -1, depth}, {1, 1, depth}, {-1, 1, depth}};
    const int vertexIndices[6] = {0, 1, 2, 0, 2, 3};
    const int normalIndices[6] = {0, 0, 0, 0, 0, 0};
    const Vec3f normals[1] = {{0, 0, -1}};
    const Vec3f tangents[6] = {{1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}};
    const Point2f uvs[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    mesh.setData(2, 4, vertexIndices, vertices, 1, normalIndices, normals, tangents, 4, uvs);
}

std::unique_ptr<MeshShape> square(float depth) {
    auto mesh = std::make_unique<MeshShape>(Transform(), nullptr);
    makeSquare(*mesh, depth);
    return mesh;
}

std::unique_ptr<SpherePrimitive> sphereAt(float z, Material *material = nullptr) {
    return std::make_unique<SpherePrimitive>(Transform(), material, Point3f(0, 0, z), 1.0f);
}

// Along +z through the first triangle of the square.
const vmath::Ray kRayThroughSquare(Point3f(0.5f, -0.25f, 0.0f), Vec3f(0.0f, 0.0f, 1.0f));

// A primitive that no ray hits.
class NoHitPrimitive : public Primitive {
public:
    bool anyHit(const vmath::Ray &) const override { return false; }
    bool hitDistance(const vmath::Ray &, float *) const override { return false; }
    bool intersect(const vmath::Ray &, float *, IntersectInfo *) const override { return false; }
    Material *getMaterial() const override { return nullptr; }
};

// Stands in for a kd-tree: records what it was asked and reports a hit at a
// fixed distance when the ray's own bound allows it.
class FakeAccelerator final : public Primitive {
public:
    float hitAt = 7.0f;
    mutable vmath::Ray seenRay;
    mutable float seenT = 0.0f;

    bool anyHit(const vmath::Ray &) const override { return false; }
    bool hitDistance(const vmath::Ray &, float *) const override { return false; }
    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override {
        seenRay = ray;
        seenT = *t;
        if (!(hitAt < ray.maxDist)) return false;
        *t = hitAt;
        info->id = 42;
        return true;
    }
    Material *getMaterial() const override { return nullptr; }
};

} // namespace

TEST(World, NumbersObjectsInOrderOfAdditionAndLogsEach) {
    World world;
    std::unique_ptr<MeshShape> plane = square(5.0f);
    plane->name = "plane1";

    LogCapture log;
    SpherePrimitive &sphere = *world.addPrimitive(sphereAt(10), "sphereSG");
    MeshShape &mesh = *world.addMesh(std::move(plane), "planeSG");

    EXPECT_EQ(sphere.id, 0);
    EXPECT_EQ(mesh.id, 1);
    ASSERT_EQ(world.pendingTriangles.size(), 2u);
    EXPECT_EQ(world.pendingTriangles[0]->id, 2);
    EXPECT_EQ(world.pendingTriangles[1]->id, 3);
    EXPECT_EQ(log.infos(), (std::vector<std::string>{"Adding primitive  0",
                                                     "Adding mesh: 1 (plane1) with 2",
                                                     "Adding triangle: 2", "Adding triangle: 3"}));
    EXPECT_EQ(world.primitiveMaterialNames, std::vector<std::string>{"sphereSG"});
    EXPECT_EQ(world.meshMaterialNames, std::vector<std::string>{"planeSG"});

    const std::vector<Primitive *> triangles = world.pendingTriangles;
    world.bindMaterials();
    EXPECT_EQ(world.primitives, (std::vector<Primitive *>{&sphere, triangles[0], triangles[1]}));
    EXPECT_TRUE(world.pendingTriangles.empty());

    // Ids stay unique after the hand-over.
    EXPECT_EQ(world.addPrimitive(sphereAt(20), "")->id, 4);
}

TEST(World, BindsShapesThroughShadingEngines) {
    World world;
    Standard &red = *world.addMaterial(std::make_unique<Standard>("red"));
    Standard &blue = *world.addMaterial(std::make_unique<Standard>("blue"));
    world.addMaterial(std::make_unique<Standard>("red"));
    world.addShadingEngine("redSG", "red");
    world.addShadingEngine("blueSG", "red");
    world.addShadingEngine("blueSG", "blue"); // a repeated engine replaces the earlier one
    world.addShadingEngine("ghostSG", "ghost");

    SpherePrimitive &viaEngine = *world.addPrimitive(sphereAt(10), "redSG");
    SpherePrimitive &viaMaterialName = *world.addPrimitive(sphereAt(20, &blue), "blue");
    MeshShape &mesh = *world.addMesh(square(5.0f), "blueSG");
    SpherePrimitive &viaMissingMaterial = *world.addPrimitive(sphereAt(30), "ghostSG");
    SpherePrimitive &viaUnknownEngine = *world.addPrimitive(sphereAt(40), "noSuchSG");

    EXPECT_EQ(world.getMaterial("redSG"), &red); // the first material of that name
    EXPECT_EQ(world.findMaterial("blue"), &blue);
    EXPECT_EQ(world.findMaterial("Blue"), nullptr);
    EXPECT_EQ(world.getMaterial("ghostSG"), nullptr);

    world.bindMaterials();
    EXPECT_EQ(viaEngine.getMaterial(), &red);
    EXPECT_EQ(viaMaterialName.getMaterial(), &blue); // no engine of that name: the material
    EXPECT_EQ(viaMissingMaterial.getMaterial(), nullptr);
    EXPECT_EQ(viaUnknownEngine.getMaterial(), nullptr);
    // The triangles existed before the mesh was bound and report its material.
    EXPECT_EQ(mesh.getMaterial(), &blue);
    ASSERT_EQ(world.primitives.size(), 6u);
    EXPECT_EQ(world.primitives[4]->getMaterial(), &blue);
    EXPECT_EQ(world.primitives[5]->getMaterial(), &blue);

    IntersectInfo info;
    world.intersect(info, kRayThroughSquare, vmath::kMaxFloat);
    EXPECT_EQ(info.id, mesh.id);
    EXPECT_EQ(info.material, &blue);
}

TEST(World, IntersectReturnsNearestHitBelowBothBounds) {
    World world;
    // Added first but farther away than the square.
    world.addPrimitive(sphereAt(10), "");
    MeshShape &mesh = *world.addMesh(square(5.0f), "");
    world.bindMaterials();

    IntersectInfo info;
    EXPECT_EQ(world.intersect(info, kRayThroughSquare, vmath::kMaxFloat), 5.0f);
    EXPECT_EQ(info.id, mesh.id);
    EXPECT_EQ(info.position, Point3f(0.5f, -0.25f, 5.0f));
    EXPECT_EQ(info.world, &world);
    EXPECT_EQ(info.ray.origin, kRayThroughSquare.origin);
    EXPECT_EQ(info.ray.direction, kRayThroughSquare.direction);
    EXPECT_EQ(info.ray.maxDist, kRayThroughSquare.maxDist);

    // Bounds below the hit, from the argument or from the ray; a hit exactly
    // at the bound does not count. Each returns the bound with id -1.
    Standard stale("stale");
    vmath::Ray shortRay = kRayThroughSquare;
    shortRay.maxDist = 3.0f;
    const struct {
        vmath::Ray ray;
        float tMax, expected;
    } bounded[] = {{kRayThroughSquare, 4.5f, 4.5f},
                   {kRayThroughSquare, 5.0f, 5.0f},
                   {shortRay, vmath::kMaxFloat, 3.0f},
                   {shortRay, 4.0f, 3.0f}};
    for (const auto &c : bounded) {
        IntersectInfo missed;
        missed.id = 7;
        missed.material = &stale;
        EXPECT_EQ(world.intersect(missed, c.ray, c.tMax), c.expected) << c.tMax;
        EXPECT_EQ(missed.id, -1);
        EXPECT_EQ(missed.material, nullptr);
        EXPECT_EQ(missed.world, nullptr); // a miss leaves the query fields alone
    }

    // Between the square and the sphere's far side: the square still wins.
    IntersectInfo between;
    EXPECT_EQ(world.intersect(between, kRayThroughSquare, 9.5f), 5.0f);
    EXPECT_EQ(between.id, mesh.id);

    // Looking away from everything.
    IntersectInfo away;
    const vmath::Ray back(Point3f(0, 0, 0), Vec3f(0, 0, -1));
    EXPECT_EQ(world.intersect(away, back, 100.0f), 100.0f);
    EXPECT_EQ(away.id, -1);
}

TEST(World, CoincidentHitsGoToTheEarlierPrimitive) {
    // Triangles accept a hit at exactly the running distance, so the World's
    // own strict test decides between two identical squares.
    for (bool firstIsA : {true, false}) {
        World world;
        MeshShape &first = *world.addMesh(square(5.0f), firstIsA ? "a" : "b");
        world.addMesh(square(5.0f), firstIsA ? "b" : "a");
        world.bindMaterials();
        IntersectInfo info;
        EXPECT_EQ(world.intersect(info, kRayThroughSquare, vmath::kMaxFloat), 5.0f);
        EXPECT_EQ(info.id, first.id);
    }

    World world;
    SpherePrimitive &first = *world.addPrimitive(sphereAt(10), "");
    world.addPrimitive(sphereAt(10), "");
    IntersectInfo info;
    EXPECT_EQ(world.intersect(info, vmath::Ray(Point3f(0, 0, 0), Vec3f(0, 0, 1)), 100.0f), 9.0f);
    EXPECT_EQ(info.id, first.id);
}

TEST(World, FreesWhatItWasHandedWhenDestroyed) {
    // Shapes of every kind and the accelerator go with the World; shapes
    // the World only points at (a test's own accelerator) stay.
    int destroyed = 0;
    struct Counted final : NoHitPrimitive {
        int *count;
        explicit Counted(int *c) : count(c) {}
        ~Counted() override { ++*count; }
    };
    Counted outside(&destroyed);
    {
        World world;
        world.addPrimitive(std::make_unique<Counted>(&destroyed), "");
        world.addPrototype(sphereAt(1));
        world.addMesh(square(5.0f), "");
        world.setAccelerator(std::make_unique<Counted>(&destroyed), nullptr);
        world.setAccelerator(std::make_unique<Counted>(&destroyed), nullptr); // replaces the first
        EXPECT_EQ(destroyed, 1);
        world.accelerator = &outside;
    }
    EXPECT_EQ(destroyed, 3);
}

TEST(World, AcceleratorAnswersInPlaceOfTheLinearSearch) {
    World world;
    world.addPrimitive(sphereAt(3), "");
    FakeAccelerator &accel = *new FakeAccelerator;
    world.setAccelerator(std::unique_ptr<Primitive>(&accel), nullptr);

    vmath::Ray r(Point3f(0, 0, 0), Vec3f(0, 0, 1), 50.0f);
    IntersectInfo info;
    EXPECT_EQ(world.intersect(info, r, 20.0f), 7.0f);
    EXPECT_EQ(info.id, 42);
    // The accelerator sees a copy bounded by min(tMax, ray bound) and an
    // open distance; the record keeps the ray as passed in.
    EXPECT_EQ(accel.seenRay.maxDist, 20.0f);
    EXPECT_EQ(accel.seenT, vmath::kMaxFloat);
    EXPECT_EQ(info.ray.maxDist, 50.0f);
    EXPECT_EQ(info.world, &world);

    IntersectInfo missed;
    world.intersect(missed, r, 6.0f);
    EXPECT_EQ(accel.seenRay.maxDist, 6.0f);
    EXPECT_EQ(missed.id, -1);
    EXPECT_EQ(missed.material, nullptr);
}

TEST(WorldTexture, SamplesNearestTexelWithoutWrapping) {
    const Vec3f texels[4] = {{0.1f, 0, 0}, {0.2f, 0, 0}, {0.3f, 0, 0}, {0.4f, 0, 0}};
    World::Texture tex;
    tex.width = 2;
    tex.height = 2;
    tex.texels.reset(new Vec3f[4]{texels[0], texels[1], texels[2], texels[3]});
    const Vec3f missing(-1, -1, -1);

    EXPECT_EQ(tex.sample(0.0f, 0.0f), texels[0]);
    EXPECT_EQ(tex.sample(0.5f, 0.0f), texels[1]);
    EXPECT_EQ(tex.sample(0.0f, 0.5f), texels[2]);
    EXPECT_EQ(tex.sample(0.99f, 0.99f), texels[3]);
    const float outside[][2] = {{1.0f, 0.5f},   {0.5f, 1.0f},  {-0.5f, 0.5f}, {0.5f, -0.5f},
                                {kNaN, 0.0f},   {0.0f, kNaN},  {kInf, 0.0f},  {0.0f, -kInf},
                                {1.0e30f, 0.0f}, {-3.0e9f, 0.0f}};
    for (const auto &uv : outside)
        EXPECT_EQ(tex.sample(uv[0], uv[1]), missing) << uv[0] << ", " << uv[1];

    // The index is truncated toward zero: on a one-texel-wide image u = -0.5
    // still lands on column 0, and u = -1 does not.
    World::Texture narrow;
    narrow.width = 1;
    narrow.height = 1;
    narrow.texels.reset(new Vec3f[1]{texels[0]});
    EXPECT_EQ(narrow.sample(-0.5f, 0.0f), texels[0]);
    EXPECT_EQ(narrow.sample(-1.0f, 0.0f), missing);

    World::Texture empty;
    EXPECT_EQ(empty.sample(0.0f, 0.0f), missing);
}

TEST(World, FindsTexturesThroughFileNodes) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("checker.tga");
    float frame[6] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    ASSERT_EQ(WriteImg(path.c_str(), frame, nullptr, 2, 1, 2, 1, 0, 0), 1);

    World world;
    ASSERT_TRUE(world.addTexture(path));
    world.addFileNode("FILE1", path.c_str());
    const World::Texture *tex = world.getTexture("FILE1");
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex, world.findTexture(path.c_str()));
    EXPECT_EQ(tex->width, 2);
    EXPECT_EQ(tex->height, 1);
    EXPECT_EQ(tex->sample(0.75f, 0.0f), Vec3f(0, 0, 1));

    // A file that cannot be read stores nothing; its node finds no texture.
    const std::string absent = dir.file("absent.tga");
    EXPECT_FALSE(world.addTexture(absent));
    world.addFileNode("FILE2", absent.c_str());
    EXPECT_EQ(world.getTexture("FILE2"), nullptr);
    EXPECT_EQ(world.getTexture("FILE3"), nullptr);
    EXPECT_EQ(world.textures.size(), 1u);

    // A repeated node name replaces the earlier file.
    world.addFileNode("FILE1", absent.c_str());
    EXPECT_EQ(world.getTexture("FILE1"), nullptr);

    // Reading a file name again replaces its image; a read that fails keeps
    // what was stored.
    float green[3] = {0.0f, 1.0f, 0.0f};
    ASSERT_EQ(WriteImg(path.c_str(), green, nullptr, 1, 1, 1, 1, 0, 0), 1);
    ASSERT_TRUE(world.addTexture(path));
    tex = world.findTexture(path.c_str());
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->width, 1);
    EXPECT_EQ(tex->sample(0.0f, 0.0f), Vec3f(0, 1, 0));
    ASSERT_TRUE(writeFileBytes(path, std::vector<unsigned char>{0, 0, 10}));
    EXPECT_FALSE(world.addTexture(path));
    ASSERT_EQ(world.findTexture(path.c_str()), tex);
    EXPECT_EQ(tex->sample(0.0f, 0.0f), Vec3f(0, 1, 0));
    EXPECT_EQ(world.textures.size(), 1u);
}
