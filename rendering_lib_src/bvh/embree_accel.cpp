#include "bvh/embree_accel.h"

#include <embree3/rtcore.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "shapes/mesh.h"
#include "util/error.h"

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Robust: the watertight triangle test and conservative box tests, so that
// no ray slips between two triangles that share an edge. Compact: triangles
// keep their vertex indices instead of copies of their corners, which at a
// million triangles saves a quarter of the process's memory for no
// measurable loss of speed.
const RTCSceneFlags kSceneFlags =
    static_cast<RTCSceneFlags>(RTC_SCENE_FLAG_ROBUST | RTC_SCENE_FLAG_COMPACT);

// A run of a mesh's triangles that sit one after another in the primitive
// list in triangle order: one Embree geometry, whose primID k is the
// primitive at firstPrim + k.
struct TriangleRun {
    const MeshShape *mesh;
    size_t firstPrim;
    int firstTriangle;
    int count;
};

// What a top-level geometry stands for.
struct GeometryEntry {
    enum Kind { Triangles, Instance, User } kind = User;
    size_t firstPrim = 0; // Triangles, Instance: the primitive of primID 0
    // Triangles: the world-space vertices and the corner indices Embree
    // reads (primID k's at 3k), the mesh's own corners to the last bit and
    // still in the cache when a hit is measured again.
    const float *vertices = nullptr;
    const uint32_t *indices = nullptr;
};

bool finite(const Point3f &p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// True when the mesh's transform can place an Embree instance: affine, with
// an invertible finite linear part (Embree inverts it to carry rays into
// object space).
bool instanceable(const Transform &t) {
    const Matrix4x4 &m = t.m;
    if (m.m[3][0] != 0.0f || m.m[3][1] != 0.0f || m.m[3][2] != 0.0f || m.m[3][3] != 1.0f)
        return false;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(m.m[r][c])) return false;
    auto at = [&](int r, int c) { return static_cast<double>(m.m[r][c]); };
    const double det = at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
                       at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
                       at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
    return std::isfinite(det) && std::fabs(det) > 1e-30;
}

void reportDeviceError(void *, RTCError code, const char *text) {
    Error("Embree error %d: %s", static_cast<int>(code), text != nullptr ? text : "");
}

// An Embree device working on `threads` threads, retained for the caller.
// One device serves every scene of the process that asks for the same
// thread count: starting one (and its threads) costs more than loading a
// small scene. Null when Embree cannot be started.
RTCDevice retainDevice(int threads) {
    static std::mutex guard;
    static RTCDevice device = nullptr;
    static int deviceThreads = 0;
    std::lock_guard<std::mutex> lock(guard);
    if (device == nullptr || deviceThreads != threads) {
        char config[64];
        std::snprintf(config, sizeof config, "threads=%d,set_affinity=0,hugepages=1,verbose=0",
                      threads);
        RTCDevice fresh = rtcNewDevice(config);
        if (fresh == nullptr) return nullptr;
        rtcSetDeviceErrorFunction(fresh, reportDeviceError, nullptr);
        // Scenes built on the old device keep it alive as long as they live.
        if (device != nullptr) rtcReleaseDevice(device);
        device = fresh;
        deviceThreads = threads;
    }
    rtcRetainDevice(device);
    return device;
}

} // namespace

struct EmbreeAccel::Impl {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    std::vector<RTCScene> prototypeScenes;
    std::vector<Primitive *> primitives;    // the list built over
    std::vector<GeometryEntry> geometries;  // by top-level geomID
    std::vector<const Primitive *> userPrims; // by primID of the user geometry
    std::vector<RTCBounds> userBoxes;         // their boxes
    const RTCBounds *userBoxData = nullptr;   // userBoxes' array, as Embree reads it
    std::vector<const Primitive *> unbounded;
    // Vertex buffers Embree reads in place, each padded by one float.
    std::vector<std::vector<float>> vertexBuffers;
    std::vector<std::vector<uint32_t>> indexBuffers;
    Layout layout;

    std::thread builder;
    std::atomic<bool> ready{false};
    std::mutex joining;
    double buildSeconds = 0.0;

    ~Impl() {
        if (builder.joinable()) builder.join();
        if (scene != nullptr) rtcReleaseScene(scene);
        for (RTCScene s : prototypeScenes) rtcReleaseScene(s);
        if (device != nullptr) rtcReleaseDevice(device);
    }

    void commit() {
        const auto start = std::chrono::steady_clock::now();
        rtcCommitScene(scene);
        buildSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // A vertex buffer of the mesh's lists in world space (or, with
    // `objectSpace`, as they are), each corner computed exactly as the
    // mesh's own test computes it.
    const float *vertexBuffer(const MeshShape &mesh, bool objectSpace) {
        const std::vector<Point3f> &v = mesh.listSource().vertices;
        std::vector<float> buffer(3 * v.size() + 1, 0.0f);
        for (size_t i = 0; i < v.size(); ++i) {
            const Point3f p = objectSpace ? v[i] : mesh.object2world(v[i]);
            buffer[3 * i] = p.x;
            buffer[3 * i + 1] = p.y;
            buffer[3 * i + 2] = p.z;
        }
        vertexBuffers.push_back(std::move(buffer));
        return vertexBuffers.back().data();
    }

    // A triangle geometry over `count` triangles of mesh from firstTriangle.
    // Triangles the mesh's own test never hits (an index outside its
    // lists) become a degenerate triangle, which Embree never hits either.
    // Null when the mesh has no vertex at all; *entry gets the buffers.
    RTCGeometry triangleGeometry(const MeshShape &mesh, int firstTriangle, int count,
                                 bool objectSpace, GeometryEntry *entry) {
        const MeshShape &lists = mesh.listSource();
        if (lists.vertices.empty() || count <= 0) return nullptr;
        const float *vertices = vertexBuffer(mesh, objectSpace);
        entry->vertices = vertices;
        const int *source = lists.vertexIndices.data() + 3 * static_cast<size_t>(firstTriangle);
        bool allValid = true;
        for (int k = 0; k < count && allValid; ++k) allValid = mesh.attributesValid(firstTriangle + k);
        RTCGeometry g = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
        rtcSetSharedGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, vertices, 0,
                                   3 * sizeof(float), lists.vertices.size());
        if (allValid) {
            // The mesh's own index list, read in place.
            rtcSetSharedGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, source, 0,
                                       3 * sizeof(int), static_cast<size_t>(count));
            // Valid indices are not negative: the same bits as unsigned.
            entry->indices = reinterpret_cast<const uint32_t *>(source);
        } else {
            std::vector<uint32_t> indices(3 * static_cast<size_t>(count), 0u);
            for (int k = 0; k < count; ++k) {
                if (!mesh.attributesValid(firstTriangle + k)) continue;
                for (int c = 0; c < 3; ++c)
                    indices[3 * static_cast<size_t>(k) + c] =
                        static_cast<uint32_t>(source[3 * static_cast<size_t>(k) + c]);
            }
            indexBuffers.push_back(std::move(indices));
            entry->indices = indexBuffers.back().data();
            rtcSetSharedGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                       indexBuffers.back().data(), 0, 3 * sizeof(uint32_t),
                                       static_cast<size_t>(count));
        }
        rtcCommitGeometry(g);
        return g;
    }

    void attach(RTCGeometry g, GeometryEntry entry) {
        const unsigned id = rtcAttachGeometry(scene, g);
        rtcReleaseGeometry(g);
        if (geometries.size() <= id) geometries.resize(id + 1);
        geometries[id] = entry;
    }

    void addTriangleRuns(const std::vector<TriangleRun> &runs);
    void addUserGeometry();
};

namespace {

// The query's own state, reached by the user geometry's calls through the
// context Embree hands them.
struct QueryContext {
    RTCIntersectContext base;
    const vmath::Ray *ray;
    IntersectInfo userHit; // the record of the nearest user primitive hit so far
};

// The primitive's own test on the query's ray, for hits up to and including
// tfar (Embree's own triangles accept a hit at tfar as well).
bool userTest(const RTCIntersectContext *context, const Primitive &p, float tfar, float *t,
              IntersectInfo *info) {
    const QueryContext *query = reinterpret_cast<const QueryContext *>(context);
    *t = std::nextafter(tfar, kInfinity);
    return p.intersect(*query->ray, t, info) && *t <= tfar;
}

// The box of a user primitive, a little wider than the primitive's own:
// Embree's box tests round their own way, and a ray that grazes the box must
// still reach the exact test.
RTCBounds paddedBox(const Primitive &p) {
    const Bounds3f box = p.worldBounds();
    float size = 0.0f;
    for (int a = 0; a < 3; ++a)
        size = std::fmax(size, std::fmax(std::fabs(box.pMin[a]), std::fabs(box.pMax[a])));
    const float pad = size * (1.0f / 1048576.0f) + 1e-30f;
    RTCBounds out;
    out.lower_x = box.pMin.x - pad;
    out.lower_y = box.pMin.y - pad;
    out.lower_z = box.pMin.z - pad;
    out.align0 = 0.0f;
    out.upper_x = box.pMax.x + pad;
    out.upper_y = box.pMax.y + pad;
    out.upper_z = box.pMax.z + pad;
    out.align1 = 0.0f;
    return out;
}

// Runs on Embree's build threads, which hand work to each other through a
// task library that ThreadSanitizer does not see; the boxes were written
// before the build began and are only read here, through a plain pointer:
// a call into the vector (instrumented, and not inlined into a function
// built without the instrumentation) would be reported all the same.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
__attribute__((no_sanitize("thread")))
#endif
#endif
void userBounds(const RTCBoundsFunctionArguments *args) {
    const auto *impl = static_cast<const EmbreeAccel::Impl *>(args->geometryUserPtr);
    args->bounds_o[0] = impl->userBoxData[args->primID];
}

void userIntersect(const RTCIntersectFunctionNArguments *args) {
    if (args->N != 1 || !args->valid[0]) return;
    const auto *impl = static_cast<const EmbreeAccel::Impl *>(args->geometryUserPtr);
    auto *rayhit = reinterpret_cast<RTCRayHit *>(args->rayhit);
    float t;
    IntersectInfo scratch;
    if (!userTest(args->context, *impl->userPrims[args->primID], rayhit->ray.tfar, &t, &scratch))
        return;
    reinterpret_cast<QueryContext *>(args->context)->userHit = scratch;
    rayhit->ray.tfar = t;
    rayhit->hit.u = 0.0f;
    rayhit->hit.v = 0.0f;
    rayhit->hit.Ng_x = 0.0f;
    rayhit->hit.Ng_y = 0.0f;
    rayhit->hit.Ng_z = 1.0f;
    rayhit->hit.primID = args->primID;
    rayhit->hit.geomID = args->geomID;
    rayhit->hit.instID[0] = args->context->instID[0];
}

void userOccluded(const RTCOccludedFunctionNArguments *args) {
    if (args->N != 1 || !args->valid[0]) return;
    const auto *impl = static_cast<const EmbreeAccel::Impl *>(args->geometryUserPtr);
    auto *ray = reinterpret_cast<RTCRay *>(args->ray);
    float t;
    IntersectInfo scratch;
    if (userTest(args->context, *impl->userPrims[args->primID], ray->tfar, &t, &scratch))
        ray->tfar = -kInfinity; // Embree's mark of a blocked ray
}

// The Embree ray for a query: from the origin along the direction up to
// just below maxDist (Embree accepts a hit at its bound; the queries take
// only hits strictly nearer than maxDist).
void toEmbree(const vmath::Ray &ray, RTCRay *out) {
    out->org_x = ray.origin.x;
    out->org_y = ray.origin.y;
    out->org_z = ray.origin.z;
    out->tnear = 0.0f;
    out->dir_x = ray.direction.x;
    out->dir_y = ray.direction.y;
    out->dir_z = ray.direction.z;
    out->time = 0.0f;
    out->tfar = std::nextafter(ray.maxDist, 0.0f);
    out->mask = 0xFFFFFFFFu;
    out->id = 0;
    out->flags = 0;
}

// Rays that Embree is not asked about: a direction that is zero or not a
// number, or an origin that is not finite. No triangle is hit by such a ray.
bool embreeCanTrace(const vmath::Ray &ray) {
    const Vec3f &d = ray.direction;
    if (!std::isfinite(d.x) || !std::isfinite(d.y) || !std::isfinite(d.z)) return false;
    if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) return false;
    return finite(ray.origin) && ray.maxDist > 0.0f;
}

// The nearest hit of the listed primitives below *bound, each asked through
// its own test; lowers *bound and fills *info on a hit.
bool nearestOf(const std::vector<const Primitive *> &list, const vmath::Ray &ray, float *bound,
               IntersectInfo *info) {
    bool found = false;
    for (const Primitive *p : list) {
        float t = *bound;
        IntersectInfo scratch;
        if (p->intersect(ray, &t, &scratch) && t < *bound) {
            *bound = t;
            *info = scratch;
            found = true;
        }
    }
    return found;
}

// The hit on a mesh triangle that Embree found, measured again by the
// mesh's own test: where that test agrees that the ray hits the triangle,
// its distance and barycentrics stand (the numbers the other searches give
// for the same triangle, so that pictures differ only where the searches
// pick different triangles: at edges and grazing rays). Otherwise Embree's
// numbers stand.
void measureTriangleHit(const vmath::Ray &ray, const GeometryEntry &entry, unsigned primID,
                        const TrianglePrimitive &tri, float *t, float *b1, float *b2) {
    const MeshShape &mesh = *tri.mesh;
    Point3f p0;
    Vec3f e1, e2;
    if (entry.vertices != nullptr) {
        // The corners as Embree just read them: worldEdges would compute the
        // same floats from the mesh's lists.
        const uint32_t *corner = entry.indices + 3 * static_cast<size_t>(primID);
        auto at = [&](int k) {
            const float *v = entry.vertices + 3 * static_cast<size_t>(corner[k]);
            return Point3f(v[0], v[1], v[2]);
        };
        p0 = at(0);
        e1 = at(1) - p0;
        e2 = at(2) - p0;
    } else if (!mesh.worldEdges(tri.index, &p0, &e1, &e2)) {
        return;
    }
    float th, u, v;
    if (!rayTriangle(ray, p0, e1, e2, ray.maxDist, &th, &u, &v,
                     [&] { return mesh.worldCorners(tri.index); }) ||
        !(th < ray.maxDist))
        return;
    *t = th;
    *b1 = u;
    *b2 = v;
}

} // namespace

void EmbreeAccel::Impl::addTriangleRuns(const std::vector<TriangleRun> &runs) {
    // Copies of one mesh (meshes reading the same lists, each drawn whole)
    // become instances of one prototype when there are two or more of them.
    std::map<const MeshShape *, std::vector<const TriangleRun *>> copies;
    for (const TriangleRun &run : runs) {
        const MeshShape &lists = run.mesh->listSource();
        if (run.firstTriangle == 0 && run.count == run.mesh->numTriangles() &&
            instanceable(run.mesh->object2world))
            copies[&lists].push_back(&run);
    }
    std::map<const TriangleRun *, RTCScene> prototypeOf;
    for (const auto &entry : copies) {
        if (entry.second.size() < 2) continue;
        const TriangleRun &first = *entry.second.front();
        GeometryEntry unused;
        RTCGeometry g = triangleGeometry(*first.mesh, 0, first.count, true, &unused);
        if (g == nullptr) continue;
        RTCScene prototype = rtcNewScene(device);
        rtcSetSceneFlags(prototype, kSceneFlags);
        rtcSetSceneBuildQuality(prototype, RTC_BUILD_QUALITY_HIGH);
        rtcAttachGeometry(prototype, g);
        rtcReleaseGeometry(g);
        prototypeScenes.push_back(prototype);
        ++layout.prototypes;
        for (const TriangleRun *run : entry.second) prototypeOf[run] = prototype;
    }
    for (const TriangleRun &run : runs) {
        auto it = prototypeOf.find(&run);
        if (it != prototypeOf.end()) {
            RTCGeometry g = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_INSTANCE);
            rtcSetGeometryInstancedScene(g, it->second);
            // The top three rows of the forward matrix, as Embree reads them.
            float rows[12];
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 4; ++c) rows[4 * r + c] = run.mesh->object2world.m.m[r][c];
            rtcSetGeometryTransform(g, 0, RTC_FORMAT_FLOAT3X4_ROW_MAJOR, rows);
            rtcCommitGeometry(g);
            attach(g, {GeometryEntry::Instance, run.firstPrim, nullptr, nullptr});
            ++layout.instances;
            continue;
        }
        GeometryEntry entry{GeometryEntry::Triangles, run.firstPrim, nullptr, nullptr};
        RTCGeometry g = triangleGeometry(*run.mesh, run.firstTriangle, run.count, false, &entry);
        if (g == nullptr) continue;
        attach(g, entry);
        ++layout.triangleMeshes;
    }
}

void EmbreeAccel::Impl::addUserGeometry() {
    if (userPrims.empty()) return;
    userBoxes.reserve(userPrims.size());
    for (const Primitive *p : userPrims) userBoxes.push_back(paddedBox(*p));
    userBoxData = userBoxes.data();
    RTCGeometry g = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_USER);
    rtcSetGeometryUserPrimitiveCount(g, static_cast<unsigned>(userPrims.size()));
    rtcSetGeometryUserData(g, this);
    rtcSetGeometryBoundsFunction(g, userBounds, nullptr);
    rtcSetGeometryIntersectFunction(g, userIntersect);
    rtcSetGeometryOccludedFunction(g, userOccluded);
    rtcCommitGeometry(g);
    attach(g, {GeometryEntry::User, 0, nullptr, nullptr});
    layout.userPrimitives = userPrims.size();
}

std::unique_ptr<EmbreeAccel> EmbreeAccel::build(const std::vector<Primitive *> &prims,
                                                int threads, bool background) {
    auto impl = std::make_unique<Impl>();
    impl->device = retainDevice(threads < 1 ? 1 : threads);
    if (impl->device == nullptr) {
        Warning("Embree could not be started (error %d)",
                static_cast<int>(rtcGetDeviceError(nullptr)));
        return nullptr;
    }
    impl->scene = rtcNewScene(impl->device);
    rtcSetSceneFlags(impl->scene, kSceneFlags);
    rtcSetSceneBuildQuality(impl->scene, RTC_BUILD_QUALITY_HIGH);
    impl->primitives = prims;

    // Sort the list into runs of mesh triangles and the other primitives.
    std::vector<TriangleRun> runs;
    for (size_t num = 0; num < prims.size(); ++num) {
        const Primitive *p = prims[num];
        const TrianglePrimitive *tri = p->meshTriangle();
        if (tri != nullptr && tri->mesh != nullptr) {
            TriangleRun *last = runs.empty() ? nullptr : &runs.back();
            if (last != nullptr && last->mesh == tri->mesh &&
                last->firstPrim + static_cast<size_t>(last->count) == num &&
                last->firstTriangle + last->count == tri->index) {
                ++last->count;
            } else {
                runs.push_back({tri->mesh, num, tri->index, 1});
            }
            continue;
        }
        const Bounds3f box = p->worldBounds();
        const bool bounded = finite(box.pMin) && finite(box.pMax) && box.pMin.x <= box.pMax.x &&
                             box.pMin.y <= box.pMax.y && box.pMin.z <= box.pMax.z;
        if (bounded)
            impl->userPrims.push_back(p);
        else
            impl->unbounded.push_back(p);
    }
    impl->layout.unbounded = impl->unbounded.size();
    impl->addTriangleRuns(runs);
    impl->addUserGeometry();
    for (RTCScene prototype : impl->prototypeScenes) rtcCommitScene(prototype);

    std::unique_ptr<EmbreeAccel> accel(new EmbreeAccel(std::move(impl)));
    Impl &state = *accel->m;
    if (background) {
        try {
            state.builder = std::thread([&state] { state.commit(); });
            return accel;
        } catch (const std::system_error &) {
            // No thread to be had: build here.
        }
    }
    state.commit();
    state.ready.store(true, std::memory_order_release);
    return accel;
}

EmbreeAccel::EmbreeAccel(std::unique_ptr<Impl> impl) : m(std::move(impl)) {}

EmbreeAccel::~EmbreeAccel() = default;

const EmbreeAccel::Layout &EmbreeAccel::layout() const {
    waitForBuild();
    return m->layout;
}

void EmbreeAccel::waitForBuild() const {
    if (m->ready.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(m->joining);
    if (m->ready.load(std::memory_order_relaxed)) return;
    if (m->builder.joinable()) m->builder.join();
    INFO_LOG << "Embree BVH built over " << m->primitives.size() << " primitives in "
             << m->buildSeconds << "s";
    m->ready.store(true, std::memory_order_release);
}

bool EmbreeAccel::intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const {
    waitForBuild();
    float bound = ray.maxDist;
    IntersectInfo unboundedHit;
    const bool otherHit = nearestOf(m->unbounded, ray, &bound, &unboundedHit);
    if (!embreeCanTrace(ray)) {
        IntersectInfo userHit;
        const bool userFound = nearestOf(m->userPrims, ray, &bound, &userHit);
        if (!userFound && !otherHit) return false;
        *info = userFound ? userHit : unboundedHit;
        *t = bound;
        return true;
    }

    QueryContext query;
    rtcInitIntersectContext(&query.base);
    query.ray = &ray;
    RTCRayHit rayhit;
    toEmbree(ray, &rayhit.ray);
    if (otherHit) rayhit.ray.tfar = std::nextafter(bound, 0.0f);
    rayhit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rayhit.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(m->scene, &query.base, &rayhit);

    const unsigned hitGeometry = rayhit.hit.instID[0] != RTC_INVALID_GEOMETRY_ID
                                     ? rayhit.hit.instID[0]
                                     : rayhit.hit.geomID;
    if (hitGeometry == RTC_INVALID_GEOMETRY_ID) {
        if (!otherHit) return false;
        *t = bound;
        *info = unboundedHit;
        return true;
    }
    const GeometryEntry &entry = m->geometries[hitGeometry];
    if (entry.kind == GeometryEntry::User) {
        *t = rayhit.ray.tfar;
        *info = query.userHit;
        return true;
    }
    const TrianglePrimitive &tri =
        *m->primitives[entry.firstPrim + rayhit.hit.primID]->meshTriangle();
    float th = rayhit.ray.tfar, b1 = rayhit.hit.u, b2 = rayhit.hit.v;
    measureTriangleHit(ray, entry, rayhit.hit.primID, tri, &th, &b1, &b2);
    tri.fillHit(ray, th, b1, b2, info);
    *t = th;
    return true;
}

bool EmbreeAccel::occluded(const vmath::Ray &ray) const {
    waitForBuild();
    float bound = ray.maxDist;
    IntersectInfo scratch;
    if (nearestOf(m->unbounded, ray, &bound, &scratch)) return true;
    if (!embreeCanTrace(ray)) return nearestOf(m->userPrims, ray, &bound, &scratch);
    QueryContext query;
    rtcInitIntersectContext(&query.base);
    query.ray = &ray;
    RTCRay embreeRay;
    toEmbree(ray, &embreeRay);
    rtcOccluded1(m->scene, &query.base, &embreeRay);
    return embreeRay.tfar == -kInfinity;
}
