#include "scene/world.h"

#include <glog/logging.h>

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "bvh/kdtreeaccel.h"
#include "util/error.h"
#include "image/imageio.h"
#include "materials/material.h"
#include "shapes/mesh.h"

namespace {
// Name arguments come from the loader as C strings; a null one counts as empty.
const char *orEmpty(const char *s) { return s ? s : ""; }
} // namespace

int World::nextId() const {
    // Called right after the new object was appended to its list, so ids
    // run 0, 1, 2, ... in order of addition across the three lists.
    return static_cast<int>(primitives.size() + meshes.size() + pendingTriangles.size()) - 1;
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

void World::adoptPrimitive(std::unique_ptr<Primitive> owned, const char *shaderName) {
    Primitive *p = owned.get();
    m_ownedShapes.push_back(std::move(owned));
    primitives.push_back(p);
    p->id = nextId();
    INFO_LOG << "Adding primitive  " << p->id;
    primitiveMaterialNames.push_back(orEmpty(shaderName));
}

MeshShape *World::addMesh(std::unique_ptr<MeshShape> owned, const char *shaderName) {
    MeshShape *m = owned.get();
    m_ownedShapes.push_back(std::move(owned));
    meshes.push_back(m);
    m->id = nextId();
    meshMaterialNames.push_back(orEmpty(shaderName));

    const int n = m->numTriangles();
    INFO_LOG << "Adding mesh: " << m->id << " (" << m->name << ") with " << n;
    if (n <= 0) return m;
    // The triangles of a mesh live in one block: a large mesh pays for no
    // allocation per triangle. The block is registered before the first
    // triangle is made, and counts only the triangles already made.
    auto *block = static_cast<TrianglePrimitive *>(
        ::operator new(sizeof(TrianglePrimitive) * static_cast<size_t>(n)));
    std::unique_ptr<TrianglePrimitive, TriangleBlockDeleter> owner(block, TriangleBlockDeleter{0});
    m_triangleBlocks.push_back(std::move(owner));
    int &made = m_triangleBlocks.back().get_deleter().count;
    for (int i = 0; i < n; ++i) {
        Primitive *triangle = new (block + i) TrianglePrimitive(i, m);
        ++made;
        pendingTriangles.push_back(triangle);
        triangle->id = nextId();
        INFO_LOG << "Adding triangle: " << triangle->id;
    }
    return m;
}

GeoPrimitive *World::addPrototype(std::unique_ptr<GeoPrimitive> owned) {
    GeoPrimitive *shape = owned.get();
    m_ownedShapes.push_back(std::move(owned));
    prototypes.push_back(shape);
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
    // Lookups find the first material of a name.
    m_materialIndex.emplace(m->name, m);
}

Camera *World::addCameraNode(std::unique_ptr<Camera> owned) {
    Camera *c = owned.get();
    m_ownedCameras.push_back(std::move(owned));
    cameraNodes.push_back(c);
    return c;
}

void World::setAccelerator(std::unique_ptr<Primitive> tree, const KdTreeAccel *asKdTree) {
    m_ownedAccelerator = std::move(tree);
    accelerator = m_ownedAccelerator.get();
    kdTree = asKdTree;
}

bool World::setCamera(Camera *c) {
    camera = c;
    return true;
}

void World::addShadingEngine(const char *engineName, const char *materialName) {
    shadingEngines[orEmpty(engineName)] = orEmpty(materialName);
}

void World::addFileNode(const char *nodeName, const char *fileName) {
    fileNodes[orEmpty(nodeName)] = orEmpty(fileName);
}

bool World::addTexture(const std::string &fileName) {
    int width = 0, height = 0;
    std::unique_ptr<Vec3f[]> texels(ReadImageTGA(fileName, &width, &height));
    if (!texels) return false;
    Texture &tex = textures[fileName];
    tex.width = width;
    tex.height = height;
    tex.texels = std::move(texels);
    return true;
}

Material *World::getMaterial(const char *shaderName) const {
    auto it = shadingEngines.find(orEmpty(shaderName));
    // Shapes name a shading engine, or (in most exported files) their
    // material directly.
    return findMaterial(it != shadingEngines.end() ? it->second.c_str() : orEmpty(shaderName));
}

Material *World::findMaterial(const char *materialName) const {
    auto it = m_materialIndex.find(orEmpty(materialName));
    return it == m_materialIndex.end() ? nullptr : it->second;
}

void World::resolveColorNodes() {
    for (const ColorNodeRef &ref : colorNodeRefs) {
        if (getTexture(ref.channel->texture) != nullptr) continue; // an image: sampled
        if (ref.report)
            Warning("Shader %s: %s names \"%s\", which cannot be evaluated; using the default",
                    ref.material.c_str(), ref.param.c_str(), ref.channel->texture.c_str());
        *ref.channel = ColorChannel(ref.fallback);
    }
    std::vector<ColorNodeRef>().swap(colorNodeRefs);
}

const World::Texture *World::getTexture(const char *fileNodeName) const {
    return getTexture(std::string(orEmpty(fileNodeName)));
}

const World::Texture *World::findTexture(const char *fileName) const {
    return findTexture(std::string(orEmpty(fileName)));
}

const World::Texture *World::getTexture(const std::string &fileNodeName) const {
    auto it = fileNodes.find(fileNodeName);
    if (it == fileNodes.end()) return nullptr;
    return findTexture(it->second);
}

const World::Texture *World::findTexture(const std::string &fileName) const {
    auto it = textures.find(fileName);
    return it == textures.end() ? nullptr : &it->second;
}

void World::bindMaterials() {
    // Shapes name shading engines; an unknown engine or material binds null.
    // Only the shapes added with addPrimitive have names: the loop stops
    // there even if triangles were already handed over.
    for (size_t i = 0; i < primitives.size() && i < primitiveMaterialNames.size(); ++i)
        primitives[i]->setMaterial(getMaterial(primitiveMaterialNames[i].c_str()));
    // Triangles ask their mesh for its material, so binding the mesh covers them.
    for (size_t i = 0; i < meshes.size() && i < meshMaterialNames.size(); ++i)
        meshes[i]->setMaterial(getMaterial(meshMaterialNames[i].c_str()));
    primitives.reserve(primitives.size() + pendingTriangles.size());
    primitives.insert(primitives.end(), pendingTriangles.begin(), pendingTriangles.end());
    // Cleared and given back: the list is not needed after loading.
    std::vector<Primitive *>().swap(pendingTriangles);
}

float World::intersect(IntersectInfo &info, const vmath::Ray &r, float tMax) const {
    info.material = nullptr;
    info.id = -1;
    float bound = tMax < r.maxDist ? tMax : r.maxDist;

    if (accelerator) {
        // The accelerator takes its bound from the ray itself.
        vmath::Ray bounded = r;
        bounded.maxDist = bound;
        float t = vmath::kMaxFloat;
        accelerator->intersect(bounded, &t, &info);
        info.world = this;
        info.ray = r;
        return t;
    }

    IntersectInfo scratch;
    scratch.ray = r;
    scratch.world = this;
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
    const float bound = tMax < r.maxDist ? tMax : r.maxDist;
    if (accelerator) {
        if (accelerator != kdTree) {
            IntersectInfo info;
            intersect(info, r, tMax);
            return info.id != -1;
        }
        vmath::Ray bounded = r;
        bounded.maxDist = bound;
        return kdTree->occluded(bounded);
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

Vec3f World::Texture::sample(float u, float v) const {
    if (!texels || width <= 0 || height <= 0) return kMissingTextureColor;
    const float fx = u * static_cast<float>(width);
    const float fy = v * static_cast<float>(height);
    // The texel index is the product truncated toward zero, so (-1, width)
    // is the float range that lands inside; NaN fails both comparisons.
    // Converting anything outside that range to int would be undefined.
    if (!(fx > -1.0f && fx < static_cast<float>(width))) return kMissingTextureColor;
    if (!(fy > -1.0f && fy < static_cast<float>(height))) return kMissingTextureColor;
    const int x = static_cast<int>(fx);
    const int y = static_cast<int>(fy);
    // Float rounding of a huge width could still let x reach it.
    if (x >= width || y >= height) return kMissingTextureColor;
    return texels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}
