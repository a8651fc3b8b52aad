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

#include "image/raster.h"
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

// Count of ray queries (intersect and occluded) answered. Each thread counts
// its own; the frame loop adds the render threads' counts into the calling
// thread's.
extern thread_local uint64_t g_raysCast;

// How the film is sampled (the format's conventions; a classic render
// casts one ray through each pixel's corner and fills the whole frame).
struct FilmSettings {
    enum class Filter { Gaussian, Box };
    int aaSamples = 1;                 // n x n camera samples per pixel
    Filter filter = Filter::Gaussian;  // how samples are weighed into pixels
    float filterWidth = 2.0f;          // pixels across
    // The pixels rendered, inclusive bounds; the rest of the frame is black.
    // A negative bound: to the frame's edge.
    int regionMinX = -1, regionMinY = -1, regionMaxX = -1, regionMaxY = -1;
};

class World {
public:
    // The conventions the scene was read and is rendered with.
    Conventions conventions = Conventions::Format;
    FilmSettings film;
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
    // How much of the sky camera rays see, how much it lights surfaces
    // diffusely, and how much mirror and refracted rays see (the format's
    // conventions; classic renders see and receive all of it).
    struct SkyVisibility {
        float camera = 1.0f, diffuse = 1.0f, specular = 1.0f;
    } skyVisibility;
    // Shadow rays toward the sky per shading point, squared (the format's
    // conventions; the classic sky lights surfaces unshadowed).
    int skySamples = 1;
    Camera *camera = nullptr;
    std::vector<Material *> materials;
    // Image files read for texturing, by file name: the textures that show
    // an image share its pixels.
    std::map<std::string, Raster> images;
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
    // Reads the image file into images, into the entry of its name (a file
    // read again replaces the pixels its textures show); null when it
    // cannot be read, the entry then unchanged.
    const Raster *addImage(const std::string &fileName);
    const Raster *findImage(const std::string &fileName) const;
    // Reads the image file (addImage) and returns the classic lookup of it
    // (nearest texel, no wrapping), one per file name; null when the file
    // cannot be read.
    const Texture *addTexture(const std::string &fileName);
    // The classic lookup of a file read by addTexture, or null.
    const Texture *findTexture(const std::string &fileName) const;
    // Takes over a texture of any kind.
    const Texture *addTexture(std::unique_ptr<Texture> texture);

    // Installs the accelerator that answers intersect and occluded; the
    // World owns it from now on.
    void setAccelerator(std::unique_ptr<Accelerator> accelerator);

    // Moves all mesh triangles to the end of primitives. Run once after
    // loading.
    void finishShapes();
    // True while no shape (no primitive, no mesh triangle) has been added.
    bool drawsNothing() const { return primitives.empty() && m_pendingTriangles.empty(); }

    // Which lights light a shape and which of them are shadowed on it, by
    // light index (1: yes). Shapes without links: every light, shadowed.
    struct LightLinks {
        std::vector<uint8_t> lights, shadows;
    };
    int addLightLinks(LightLinks links);
    void linkShape(int shapeId, int links);
    // The links of the shape a hit reports (IntersectInfo::id), or null.
    const LightLinks *linksOf(int shapeId) const {
        if (shapeId < 0 || static_cast<size_t>(shapeId) >= m_linksById.size()) return nullptr;
        const int k = m_linksById[static_cast<size_t>(shapeId)];
        return k < 0 ? nullptr : &m_lightLinks[static_cast<size_t>(k)];
    }

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
    std::vector<LightLinks> m_lightLinks;
    std::vector<int> m_linksById; // shape id -> index in m_lightLinks, or -1

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
    std::vector<std::unique_ptr<Texture>> m_ownedTextures;
    std::map<std::string, const Texture *> m_fileTextures; // image file name -> classic lookup
};
