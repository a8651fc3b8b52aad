#include "scene/world.h"

#include <glog/logging.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "image/image_files.h"
#include "materials/material.h"
#include "shapes/mesh.h"
#include "textures/image_texture.h"
#include "util/error.h"
#include "util/huge_pages.h"
#include "util/info_records.h"

int World::nextId() const {
    // Called right after the new object was appended to its list, so ids
    // run 0, 1, 2, ... in order of addition across the three lists.
    return static_cast<int>(primitives.size() + meshes.size() + m_pendingTriangles.size()) - 1;
}

World::World() = default;

// Members go in reverse order of declaration: the accelerator first, then
// the objects it pointed at. No destructor follows a pointer to another
// scene object, so the order is not otherwise important.
World::~World() = default;

void World::TriangleBlockDeleter::operator()(TrianglePrimitive *block) const {
    for (int i = count; i-- > 0;) block[i].~TrianglePrimitive();
    ::operator delete(block);
}

void World::adoptPrimitive(std::unique_ptr<Primitive> owned) {
    Primitive *p = owned.get();
    m_ownedShapes.push_back(std::move(owned));
    primitives.push_back(p);
    p->id = nextId();
    INFO_LOG << "Adding primitive  " << p->id;
}

MeshShape *World::addMesh(std::unique_ptr<MeshShape> owned) {
    MeshShape *m = owned.get();
    m_ownedShapes.push_back(std::move(owned));
    meshes.push_back(m);
    m->id = nextId();

    const int n = m->numTriangles();
    INFO_LOG << "Adding mesh: " << m->id << " (" << shownName(m->name) << ") with " << n;
    if (n <= 0) return m;
    // The triangles of a mesh live in one block: a large mesh pays for no
    // allocation per triangle. The block is registered before the first
    // triangle is made, and counts only the triangles already made.
    const size_t blockBytes = sizeof(TrianglePrimitive) * static_cast<size_t>(n);
    auto *block = static_cast<TrianglePrimitive *>(::operator new(blockBytes));
    adviseHugePages(block, blockBytes);
    std::unique_ptr<TrianglePrimitive, TriangleBlockDeleter> owner(block, TriangleBlockDeleter{0});
    m_triangleBlocks.push_back(std::move(owner));
    int &made = m_triangleBlocks.back().get_deleter().count;
    // Room for the new triangles at once, still growing geometrically over
    // many meshes.
    const size_t wanted = m_pendingTriangles.size() + static_cast<size_t>(n);
    if (m_pendingTriangles.capacity() < wanted)
        m_pendingTriangles.reserve(std::max(wanted, 2 * m_pendingTriangles.capacity()));
    for (int i = 0; i < n; ++i) {
        Primitive *triangle = new (block + i) TrianglePrimitive(i, m);
        ++made;
        m_pendingTriangles.push_back(triangle);
        triangle->id = nextId();
    }
    // One record per triangle (the ids run on from the first's), written
    // directly when the render entry allows it, else through glog from the
    // line below.
    const int firstId = block[0].id;
    if (!writeNumberedInfoRecords(__FILE__, __LINE__ + 2, "Adding triangle: ", firstId, n)) {
        for (int i = 0; i < n; ++i)
            INFO_LOG << "Adding triangle: " << firstId + i;
    }
    return m;
}

GeoPrimitive *World::addPrototype(std::unique_ptr<GeoPrimitive> owned) {
    GeoPrimitive *shape = owned.get();
    m_ownedShapes.push_back(std::move(owned));
    return shape;
}

bool World::addLight(std::unique_ptr<LocalLight> owned) {
    lights.push_back(owned.get());
    m_ownedLights.push_back(std::move(owned));
    return true;
}

void World::setAmbientLight(std::unique_ptr<Light> owned) {
    // A later ambient light replaces the earlier one, which nothing else
    // refers to.
    m_ownedAmbientLight = std::move(owned);
    ambientLight = m_ownedAmbientLight.get();
}

void World::adoptMaterial(std::unique_ptr<Material> owned) {
    Material *m = owned.get();
    m_ownedMaterials.push_back(std::move(owned));
    materials.push_back(m);
}

Camera *World::addCamera(std::unique_ptr<Camera> owned) {
    Camera *c = owned.get();
    m_ownedCameras.push_back(std::move(owned));
    return c;
}

void World::setAccelerator(std::unique_ptr<Accelerator> tree) {
    m_ownedAccelerator = std::move(tree);
    accelerator = m_ownedAccelerator.get();
}

bool World::setCamera(Camera *c) {
    camera = c;
    return true;
}

const Raster *World::addImage(const std::string &fileName) {
    // Every node that names the file reads it again (and says so), into
    // the same entry: textures already made over it stay valid.
    Raster image;
    if (!readImageFile(fileName, image)) return nullptr;
    Raster &entry = images[fileName];
    entry = std::move(image);
    return &entry;
}

const Raster *World::findImage(const std::string &fileName) const {
    auto it = images.find(fileName);
    return it == images.end() ? nullptr : &it->second;
}

const Texture *World::addTexture(const std::string &fileName) {
    const Raster *image = addImage(fileName);
    if (image == nullptr) return nullptr;
    const Texture *&lookup = m_fileTextures[fileName];
    if (lookup == nullptr) lookup = addTexture(std::make_unique<ImageTexture>(image));
    return lookup;
}

const Texture *World::findTexture(const std::string &fileName) const {
    auto it = m_fileTextures.find(fileName);
    return it == m_fileTextures.end() ? nullptr : it->second;
}

const Texture *World::addTexture(std::unique_ptr<Texture> texture) {
    m_ownedTextures.push_back(std::move(texture));
    return m_ownedTextures.back().get();
}

int World::addLightLinks(LightLinks links) {
    m_lightLinks.push_back(std::move(links));
    return static_cast<int>(m_lightLinks.size()) - 1;
}

void World::linkShape(int shapeId, int links) {
    if (shapeId < 0) return;
    if (m_linksById.size() <= static_cast<size_t>(shapeId))
        m_linksById.resize(static_cast<size_t>(shapeId) + 1, -1);
    m_linksById[static_cast<size_t>(shapeId)] = links;
}

void World::finishShapes() {
    primitives.reserve(primitives.size() + m_pendingTriangles.size());
    primitives.insert(primitives.end(), m_pendingTriangles.begin(), m_pendingTriangles.end());
    // Cleared and given back: the list is not needed after loading.
    std::vector<Primitive *>().swap(m_pendingTriangles);
}

float World::intersect(IntersectInfo &info, const vmath::Ray &r, float tMax) const {
    ++g_raysCast;
    info.material = nullptr;
    info.id = -1;
    float bound = tMax < r.maxDist ? tMax : r.maxDist;

    if (accelerator) {
        // The accelerator takes its bound from the ray itself.
        vmath::Ray bounded = r;
        bounded.maxDist = bound;
        float t = vmath::kMaxFloat;
        accelerator->intersect(bounded, &t, &info);
        info.ray = r;
        return t;
    }

    IntersectInfo scratch;
    scratch.ray = r;
    // Each primitive reports only hits closer than the running t and lowers
    // it; a hit counts when it is also strictly below the bound, so of two
    // hits at the same distance the earlier primitive wins.
    float t = tMax > r.maxDist ? tMax : r.maxDist;
    for (const Primitive *p : primitives) {
        if (p->intersect(r, &t, &scratch) && t < bound) {
            bound = t;
            info = scratch;
        }
    }
    return bound;
}

bool World::occluded(const vmath::Ray &r, float tMax) const {
    ++g_raysCast;
    const float bound = tMax < r.maxDist ? tMax : r.maxDist;
    if (accelerator) {
        vmath::Ray bounded = r;
        bounded.maxDist = bound;
        return accelerator->occluded(bounded);
    }
    // Any primitive with a hit strictly before the bound blocks; which one
    // is nearest does not matter.
    IntersectInfo scratch;
    for (const Primitive *p : primitives) {
        float t = bound;
        if (p->intersect(r, &t, &scratch) && t < bound) return true;
    }
    return false;
}

thread_local uint64_t g_raysCast = 0;
