// Kd-tree build time over generated meshes of 10^3 to 10^6 triangles, and
// nearest-hit queries per second through the World with the kd-tree against
// the World's linear search. Triangle tests per ray come from g_intersected.
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "bvh/kdtreeaccel.h"
#include "shapes/mesh.h"
#include "scene/world.h"

namespace {

// A sphere of radius about 1 with bumps, tessellated as a latitude-longitude
// grid of rings x (2 rings) quads, i.e. about n triangles, in a World of its
// own (filled directly, so that a million triangles log nothing).
struct BumpySphere {
    World world;
    MeshShape *mesh = nullptr;
    std::unique_ptr<KdTreeAccel> tree;

    explicit BumpySphere(int n) {
        const int rings = std::max(2, static_cast<int>(std::lround(std::sqrt(n / 4.0))));
        const int segments = 2 * rings;
        std::vector<Point3f> vertices;
        std::vector<Vec3f> normals;
        std::vector<Point2f> uvs;
        for (int r = 0; r <= rings; ++r) {
            const float theta = 3.14159265f * (static_cast<float>(r) + 0.5f) / (rings + 1);
            for (int k = 0; k < segments; ++k) {
                const float phi = 6.2831853f * static_cast<float>(k) / segments;
                const Vec3f dir(std::sin(theta) * std::cos(phi), std::cos(theta),
                                std::sin(theta) * std::sin(phi));
                const float radius =
                    1.0f + 0.05f * std::sin(7.0f * phi) * std::sin(5.0f * theta);
                vertices.push_back(Point3f() + dir * radius);
                normals.push_back(dir);
                uvs.emplace_back(static_cast<float>(k) / segments, static_cast<float>(r) / rings);
            }
        }
        std::vector<int> indices;
        for (int r = 0; r < rings; ++r)
            for (int k = 0; k < segments; ++k) {
                const int a = r * segments + k, b = r * segments + (k + 1) % segments;
                indices.insert(indices.end(), {a, a + segments, b, b, a + segments, b + segments});
            }
        const std::vector<Vec3f> tangents(indices.size(), Vec3f(1, 0, 0));
        mesh = new MeshShape(Transform(), nullptr);
        const int nTri = static_cast<int>(indices.size() / 3);
        const int nVert = static_cast<int>(vertices.size());
        mesh->setData(nTri, nVert, indices.data(), vertices.data(), nVert, indices.data(),
                      normals.data(), tangents.data(), nVert, uvs.data());
        mesh->id = 0;
        for (int i = 0; i < nTri; ++i) world.primitives.push_back(new TrianglePrimitive(i, mesh));
    }

    int triangles() const { return static_cast<int>(world.primitives.size()); }
    KdTreeAccel *accelerator() {
        if (!tree) tree.reset(makeKdTreeAccel(world.primitives));
        return tree.get();
    }
};

// One mesh per size, kept for the whole run (scene objects are never freed).
BumpySphere &sceneOf(int n) {
    static std::map<int, BumpySphere *> scenes;
    BumpySphere *&s = scenes[n];
    if (!s) s = new BumpySphere(n);
    return *s;
}

// Rays from a sphere of radius 4 towards points near the centre: nearly all
// of them hit the mesh.
std::vector<vmath::Ray> makeRays(int count) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<vmath::Ray> rays;
    while (static_cast<int>(rays.size()) < count) {
        const Vec3f a(unit(rng), unit(rng), unit(rng));
        if (vmath::lengthSquared(a) > 1.0f || vmath::lengthSquared(a) < 1e-4f) continue;
        const Point3f origin = Point3f() + vmath::normalized(a) * 4.0f;
        const Point3f target(0.5f * unit(rng), 0.5f * unit(rng), 0.5f * unit(rng));
        rays.emplace_back(origin, vmath::normalized(target - origin));
    }
    return rays;
}

// Camera-like rays in raster order: from (0, 0, 4) through a 256 x 256 grid
// over the square |x|, |y| <= 0.7 of the plane z = 0, all of them on the
// mesh. Neighbouring rays meet neighbouring triangles, as a render's do.
std::vector<vmath::Ray> makeRasterRays() {
    constexpr int kSide = 256;
    std::vector<vmath::Ray> rays;
    const Point3f eye(0, 0, 4);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const Point3f target(1.4f * (static_cast<float>(x) + 0.5f) / kSide - 0.7f,
                                 0.7f - 1.4f * (static_cast<float>(y) + 0.5f) / kSide, 0.0f);
            rays.emplace_back(eye, vmath::normalized(target - eye));
        }
    return rays;
}

void BM_KdTreeBuild(benchmark::State &state) {
    BumpySphere &scene = sceneOf(static_cast<int>(state.range(0)));
    int nodes = 0;
    for (auto _ : state) {
        std::unique_ptr<KdTreeAccel> tree(makeKdTreeAccel(scene.world.primitives));
        nodes = tree->nextFreeNode;
        benchmark::DoNotOptimize(tree->nodes);
    }
    state.counters["triangles"] = scene.triangles();
    state.counters["nodes"] = nodes;
    state.counters["triangles/s"] = benchmark::Counter(
        static_cast<double>(scene.triangles()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

void runQueries(benchmark::State &state, bool accelerated, const std::vector<vmath::Ray> &rays) {
    BumpySphere &scene = sceneOf(static_cast<int>(state.range(0)));
    scene.world.accelerator = accelerated ? scene.accelerator() : nullptr;
    size_t next = 0, hits = 0;
    const uint32_t testsBefore = g_intersected;
    for (auto _ : state) {
        IntersectInfo info;
        scene.world.intersect(info, rays[next], vmath::kMaxFloat);
        hits += info.id != -1;
        next = (next + 1) % rays.size();
    }
    const double queries = static_cast<double>(state.iterations());
    scene.world.accelerator = nullptr;
    state.counters["triangles"] = scene.triangles();
    state.counters["rays/s"] = benchmark::Counter(queries, benchmark::Counter::kIsRate);
    state.counters["tests/ray"] = static_cast<double>(g_intersected - testsBefore) / queries;
    state.counters["hit%"] = 100.0 * static_cast<double>(hits) / queries;
}

// Random rays: every query starts with cold caches.
void BM_KdTreeQuery(benchmark::State &state) { runQueries(state, true, makeRays(4096)); }
void BM_LinearQuery(benchmark::State &state) { runQueries(state, false, makeRays(4096)); }
// Raster-order rays, as a render issues them.
void BM_KdTreeQueryRaster(benchmark::State &state) { runQueries(state, true, makeRasterRays()); }

} // namespace

BENCHMARK(BM_KdTreeBuild)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KdTreeQuery)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_KdTreeQueryRaster)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_LinearQuery)->RangeMultiplier(10)->Range(1000, 100000);
