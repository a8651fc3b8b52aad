#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "image/imageio.h"
#include "materials/material.h"
#include "parsers/load_state.h"
#include "shapes/mesh.h"
#include "shapes/sphere.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "scene/world.h"
#include "textures/image_texture.h"

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
class FakeAccelerator : public Accelerator {
public:
    float hitAt = 7.0f;
    mutable vmath::Ray seenRay;
    mutable float seenT = 0.0f;

    bool intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const override {
        seenRay = ray;
        seenT = *t;
        if (!(hitAt < ray.maxDist)) return false;
        *t = hitAt;
        info->id = 42;
        return true;
    }
    bool occluded(const vmath::Ray &ray) const override {
        seenRay = ray;
        return hitAt < ray.maxDist;
    }
};

} // namespace

TEST(World, NumbersObjectsInOrderOfAdditionAndLogsEach) {
    World world;
    std::unique_ptr<MeshShape> plane = square(5.0f);
    plane->name = "plane1";

    LogCapture log;
    SpherePrimitive &sphere = *world.addPrimitive(sphereAt(10));
    MeshShape &mesh = *world.addMesh(std::move(plane));

    EXPECT_EQ(sphere.id, 0);
    EXPECT_EQ(mesh.id, 1);
    EXPECT_EQ(log.infos(), (std::vector<std::string>{"Adding primitive  0",
                                                     "Adding mesh: 1 (plane1) with 2",
                                                     "Adding triangle: 2", "Adding triangle: 3"}));
    EXPECT_EQ(world.primitives, std::vector<Primitive *>{&sphere});
    world.finishShapes();
    ASSERT_EQ(world.primitives.size(), 3u);
    EXPECT_EQ(world.primitives[1]->id, 2);
    EXPECT_EQ(world.primitives[2]->id, 3);

    // Ids stay unique after the hand-over.
    EXPECT_EQ(world.addPrimitive(sphereAt(20))->id, 4);
}

TEST(LoadState, BindsShapesThroughShadingEnginesOnceLoaded) {
    World world;
    LoadState state(world);
    Standard &red = *state.addMaterial(std::make_unique<Standard>("red"));
    Standard &blue = *state.addMaterial(std::make_unique<Standard>("blue"));
    state.addMaterial(std::make_unique<Standard>("red"));
    state.addShadingEngine("redSG", "red");
    state.addShadingEngine("blueSG", "red");
    state.addShadingEngine("blueSG", "blue"); // a repeated engine replaces the earlier one
    state.addShadingEngine("ghostSG", "ghost");

    SpherePrimitive &viaEngine = *state.addShape(sphereAt(10), "redSG");
    SpherePrimitive &viaMaterialName = *state.addShape(sphereAt(20, &blue), "blue");
    MeshShape &mesh = *state.addShape(square(5.0f), "blueSG");
    SpherePrimitive &viaMissingMaterial = *state.addShape(sphereAt(30), "ghostSG");
    SpherePrimitive &viaUnknownEngine = *state.addShape(sphereAt(40), "noSuchSG");

    EXPECT_EQ(state.materialFor("redSG"), &red); // the first material of that name
    EXPECT_EQ(state.findMaterial("blue"), &blue);
    EXPECT_EQ(state.findMaterial("Blue"), nullptr);
    EXPECT_EQ(state.materialFor("ghostSG"), nullptr);

    state.bindMaterials();
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

TEST(LoadState, BindsColoursThatNameImageNodesToTheirTexture) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("checker.tga");
    float frame[6] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    ASSERT_EQ(WriteImg(path.c_str(), frame, nullptr, 2, 1, 2, 1, 0, 0), 1);

    World world;
    LoadState state(world);
    Standard &m = *state.addMaterial(std::make_unique<Standard>("m"));
    m.Kd = ColorChannel(Vec3f(0.5f, 0.5f, 0.5f)); // the tint of the texture to come
    m.Ks = ColorChannel(Vec3f(9, 9, 9));
    // Colours may name a node before it is read.
    state.colorNamesNode({&m.Kd, "FILE1", Vec3f(1, 1, 1), "M", "Kd_color", true});
    state.colorNamesNode({&m.Ks, "NOIMAGE", Vec3f(0.25f, 0.25f, 0.25f), "M", "Ks_color", true});
    ASSERT_NE(world.addTexture(path), nullptr);
    state.addFileNode("FILE1", path);
    EXPECT_EQ(state.textureOfNode("FILE1"), world.findTexture(path));
    EXPECT_EQ(state.textureOfNode("FILE2"), nullptr);

    LogCapture log;
    state.bindColorNodes();
    EXPECT_EQ(m.Kd.texture, world.findTexture(path));
    IntersectInfo hit;
    hit.u = 0.75f;
    EXPECT_EQ(m.Kd.evaluate(hit), Vec3f(0, 0, 0.5f));
    // A node that is no image: the fallback, with a word.
    EXPECT_EQ(m.Ks.texture, nullptr);
    EXPECT_EQ(m.Ks.color, Vec3f(0.25f, 0.25f, 0.25f));
    EXPECT_EQ(log.texts(google::GLOG_WARNING),
              std::vector<std::string>{
                  "Shader M: Ks_color names \"NOIMAGE\", which cannot be evaluated; using the "
                  "default"});
}

TEST(World, IntersectReturnsNearestHitBelowBothBounds) {
    World world;
    // Added first but farther away than the square.
    world.addPrimitive(sphereAt(10));
    MeshShape &mesh = *world.addMesh(square(5.0f));
    world.finishShapes();

    IntersectInfo info;
    EXPECT_EQ(world.intersect(info, kRayThroughSquare, vmath::kMaxFloat), 5.0f);
    EXPECT_EQ(info.id, mesh.id);
    EXPECT_EQ(info.position, Point3f(0.5f, -0.25f, 5.0f));
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
    {
        World world;
        MeshShape &first = *world.addMesh(square(5.0f));
        world.addMesh(square(5.0f));
        world.finishShapes();
        IntersectInfo info;
        EXPECT_EQ(world.intersect(info, kRayThroughSquare, vmath::kMaxFloat), 5.0f);
        EXPECT_EQ(info.id, first.id);
    }

    World world;
    SpherePrimitive &first = *world.addPrimitive(sphereAt(10));
    world.addPrimitive(sphereAt(10));
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
    struct CountedAccelerator final : FakeAccelerator {
        int *count;
        explicit CountedAccelerator(int *c) : count(c) {}
        ~CountedAccelerator() override { ++*count; }
    };
    CountedAccelerator outside(&destroyed);
    {
        World world;
        world.addPrimitive(std::make_unique<Counted>(&destroyed));
        world.addPrototype(sphereAt(1));
        world.addMesh(square(5.0f));
        world.setAccelerator(std::make_unique<CountedAccelerator>(&destroyed));
        world.setAccelerator(std::make_unique<CountedAccelerator>(&destroyed)); // replaces the first
        EXPECT_EQ(destroyed, 1);
        world.accelerator = &outside;
    }
    EXPECT_EQ(destroyed, 3);
}

TEST(World, AcceleratorAnswersInPlaceOfTheLinearSearch) {
    World world;
    world.addPrimitive(sphereAt(3));
    FakeAccelerator &accel = *new FakeAccelerator;
    world.setAccelerator(std::unique_ptr<Accelerator>(&accel));

    vmath::Ray r(Point3f(0, 0, 0), Vec3f(0, 0, 1), 50.0f);
    IntersectInfo info;
    EXPECT_EQ(world.intersect(info, r, 20.0f), 7.0f);
    EXPECT_EQ(info.id, 42);
    // The accelerator sees a copy bounded by min(tMax, ray bound) and an
    // open distance; the record keeps the ray as passed in.
    EXPECT_EQ(accel.seenRay.maxDist, 20.0f);
    EXPECT_EQ(accel.seenT, vmath::kMaxFloat);
    EXPECT_EQ(info.ray.maxDist, 50.0f);

    IntersectInfo missed;
    world.intersect(missed, r, 6.0f);
    EXPECT_EQ(accel.seenRay.maxDist, 6.0f);
    EXPECT_EQ(missed.id, -1);
    EXPECT_EQ(missed.material, nullptr);

    // The shadow query goes to the accelerator too, with the same bound.
    EXPECT_TRUE(world.occluded(r, 20.0f));
    EXPECT_EQ(accel.seenRay.maxDist, 20.0f);
    EXPECT_FALSE(world.occluded(r, 7.0f));
}

TEST(Texture, SamplesNearestTexelWithoutWrapping) {
    const Vec3f texels[4] = {{0.1f, 0, 0}, {0.2f, 0, 0}, {0.3f, 0, 0}, {0.4f, 0, 0}};
    Raster image;
    image.width = 2;
    image.height = 2;
    image.floats = {0.1f, 0, 0, 0.2f, 0, 0, 0.3f, 0, 0, 0.4f, 0, 0};
    const ImageTexture tex(&image);
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
    Raster one;
    one.width = 1;
    one.height = 1;
    one.floats = {0.1f, 0, 0};
    const ImageTexture narrow(&one);
    EXPECT_EQ(narrow.sample(-0.5f, 0.0f), texels[0]);
    EXPECT_EQ(narrow.sample(-1.0f, 0.0f), missing);

    const Raster none;
    EXPECT_EQ(ImageTexture(&none).sample(0.0f, 0.0f), missing);
}

TEST(World, ReadsEachTextureFileIntoOneEntry) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("checker.tga");
    float frame[6] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    ASSERT_EQ(WriteImg(path.c_str(), frame, nullptr, 2, 1, 2, 1, 0, 0), 1);

    World world;
    const Texture *tex = world.addTexture(path);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex, world.findTexture(path));
    EXPECT_EQ(world.findImage(path)->width, 2);
    EXPECT_EQ(world.findImage(path)->height, 1);
    EXPECT_EQ(tex->sample(0.75f, 0.0f), Vec3f(0, 0, 1));

    // A file that cannot be read stores nothing.
    EXPECT_EQ(world.addTexture(dir.file("absent.tga")), nullptr);
    EXPECT_EQ(world.images.size(), 1u);

    // Reading a file name again replaces its image in the same entry (what
    // is bound to it sees the new image); a read that fails keeps what was
    // stored.
    float green[3] = {0.0f, 1.0f, 0.0f};
    ASSERT_EQ(WriteImg(path.c_str(), green, nullptr, 1, 1, 1, 1, 0, 0), 1);
    EXPECT_EQ(world.addTexture(path), tex);
    EXPECT_EQ(world.findImage(path)->width, 1);
    EXPECT_EQ(tex->sample(0.0f, 0.0f), Vec3f(0, 1, 0));
    ASSERT_TRUE(writeFileBytes(path, std::vector<unsigned char>{0, 0, 10}));
    EXPECT_EQ(world.addTexture(path), nullptr);
    ASSERT_EQ(world.findTexture(path), tex);
    EXPECT_EQ(tex->sample(0.0f, 0.0f), Vec3f(0, 1, 0));
    EXPECT_EQ(world.images.size(), 1u);
}
