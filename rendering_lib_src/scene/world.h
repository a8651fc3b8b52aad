// The in-memory scene as rendering needs it: primitives, meshes, lights,
// materials, textures, the camera and the accelerator. Answers the
// nearest-hit and the shadow query.
//
// The World owns every object handed to it through its add and set
// functions, the accelerator and the texture images, and frees them when it
// is destroyed. The public lists are views of those objects for the loader
// and the renderer; assigning a list entry or `accelerator` directly hands
// nothing over.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lights/light.h"
#include "scene/accelerator.h"
#include "scene/camera.h"
#include "shapes/primitive.h"
#include "textures/texture.h"
#include "util/conventions.h"
#include "util/vecmath.h"

class Material;
class MeshShape;
class TrianglePrimitive;

// Count of the World's ray queries (intersect and occluded). Each thread
// counts its own; the frame loop adds the render threads' counts into the
// calling thread's.
extern thread_local uint64_t g_rayQueries;

class World {
public:
    // The conventions the scene was read and is rendered with.
    Conventions conventions = Conventions::Format;
    bool classic() const { return conventions == Conventions::Classic; }
    // Answers intersect and occluded in place of the linear loop; may be null.
    const Accelerator *accelerator = nullptr;
    std::vector<Primitive *> primitives;
    std::vector<LocalLight *> lights;
    Light *ambientLight = nullptr; // set by setAmbientLight; not read by rendering
    // A uniform sky of this strength: rays that leave the scene see it, and
    // surfaces receive it unshadowed as diffuse light.
    bool hasSky = false;
    Vec3f sky;
    Camera *camera = nullptr;
    std::vector<Material *> materials;
    std::map<std::string, Texture> textures; // image file name -> image
    std::vector<MeshShape *> meshes;

    World();
    // Virtual, so that a program that loads the library at run time can
    // delete the World it was handed: the call goes through the object's
    // own function table and needs no symbol of the library.
    virtual ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    // Each takes the object over and returns it; it lives as long as the
    // World. Shapes and meshes are drawn; a prototype is only kept for the
    // copies that read its lists.
    template <class Shape> Shape *addPrimitive(std::unique_ptr<Shape> p) {
        Shape *shape = p.get();
        adoptPrimitive(std::move(p));
        return shape;
    }
    MeshShape *addMesh(std::unique_ptr<MeshShape> m);
    GeoPrimitive *addPrototype(std::unique_ptr<GeoPrimitive> shape);
    bool addLight(std::unique_ptr<LocalLight> light);
    void setAmbientLight(std::unique_ptr<Light> light);
    template <class M> M *addMaterial(std::unique_ptr<M> m) {
        M *material = m.get();
        adoptMaterial(std::move(m));
        return material;
    }
    Camera *addCamera(std::unique_ptr<Camera> c);
    // Selects the camera to render through: one added by addCamera, or null.
    bool setCamera(Camera *c);
    Camera *getCamera() const { return camera; }
    // Reads the image file into textures (once per file name); null when it
    // cannot be read.
    const Texture *addTexture(const std::string &fileName);
    const Texture *findTexture(const std::string &fileName) const;

    // Installs the accelerator that answers intersect and occluded; the
    // World owns it from now on.
    void setAccelerator(std::unique_ptr<Accelerator> accelerator);

    // Moves all mesh triangles to the end of primitives. Run once after
    // loading.
    void finishShapes();
    // True while no shape (no primitive, no mesh triangle) has been added.
    bool drawsNothing() const { return primitives.empty() && m_pendingTriangles.empty(); }

    // Nearest hit closer than min(tMax, r.maxDist); returns the hit distance.
    // On a miss info.id stays -1 and the result is that bound, or the largest
    // float when an accelerator answers.
    float intersect(IntersectInfo &info, const vmath::Ray &r, float tMax) const;
    // True when intersect with the same ray and tMax would report a hit; the
    // shadow query. It stops at the first hit it finds.
    bool occluded(const vmath::Ray &r, float tMax) const;

private:
    int nextId() const;
    void adoptPrimitive(std::unique_ptr<Primitive> p);
    void adoptMaterial(std::unique_ptr<Material> m);
    std::vector<Primitive *> m_pendingTriangles; // triangles waiting for finishShapes

    // What the World owns. The triangles of a mesh live in one block of
    // raw storage per mesh (a large mesh pays for no allocation per
    // triangle), destroyed and freed by TriangleBlockDeleter.
    struct TriangleBlockDeleter {
        int count;
        void operator()(TrianglePrimitive *block) const;
    };
    std::vector<std::unique_ptr<Primitive>> m_ownedShapes;
    std::vector<std::unique_ptr<TrianglePrimitive, TriangleBlockDeleter>> m_triangleBlocks;
    std::vector<std::unique_ptr<LocalLight>> m_ownedLights;
    std::unique_ptr<Light> m_ownedAmbientLight;
    std::vector<std::unique_ptr<Material>> m_ownedMaterials;
    std::vector<std::unique_ptr<Camera>> m_ownedCameras;
    std::unique_ptr<Accelerator> m_ownedAccelerator;
};
