// The in-memory scene: primitives, meshes, lights, materials, camera,
// textures and the name tables that bind shapes to materials and colour
// channels to texture files. Answers nearest-hit queries.
//
// The World owns every object handed to it through its add and set
// functions, the accelerator it installs and the texture images it reads,
// and frees them when it is destroyed. The public lists are views of those
// objects for the loader and the renderer; assigning a list entry or
// `accelerator` directly hands nothing over.
#pragma once

#include <map>
#include <memory>
#include <unordered_map>
#include <string>
#include <vector>

#include "scene/camera.h"
#include "lights/light.h"
#include "shapes/primitive.h"
#include "util/vecmath.h"

class KdTreeAccel;
class Material;
struct ColorChannel;
class MeshShape;
class TrianglePrimitive;

class World {
public:
    // A texture image: width x height colours, row-major, row 0 at the bottom.
    struct Texture {
        int width = 0;
        int height = 0;
        std::unique_ptr<Vec3f[]> texels;
        // Nearest texel at (u, v), no wrapping; (-1, -1, -1) outside the image.
        Vec3f sample(float u, float v) const;
    };

    Primitive *accelerator = nullptr; // optional, answers intersect in place of the linear loop
    // The kd-tree installed by installAccelerator (also in accelerator); its
    // occlusion query answers occluded.
    const KdTreeAccel *kdTree = nullptr;
    std::vector<Primitive *> primitives;
    std::vector<std::string> primitiveMaterialNames; // parallel to addPrimitive calls
    std::vector<LocalLight *> lights;
    Light *ambientLight = nullptr; // set by setAmbientLight; not read by rendering
    // A uniform sky of this strength: rays that leave the scene see it, and
    // surfaces receive it unshadowed as diffuse light.
    bool hasSky = false;
    Vec3f sky;
    Camera *camera = nullptr;
    std::vector<Material *> materials;
    std::map<std::string, std::string> shadingEngines; // engine name -> material name
    std::map<std::string, Texture> textures;            // image file name -> image
    std::map<std::string, std::string> fileNodes;       // file node name -> image file name
    std::vector<MeshShape *> meshes;
    std::vector<std::string> meshMaterialNames; // parallel to meshes
    std::vector<Primitive *> pendingTriangles;  // triangles waiting for the binding step

    // Shapes by node name (upper-cased), so that instances can find them.
    struct NamedShape {
        GeoPrimitive *shape = nullptr; // a MeshShape or a SpherePrimitive
        std::string shaderName;
        Point3f localCenter; // spheres: the centre before the node's matrix
    };
    std::unordered_map<std::string, NamedShape> namedShapes;
    // Shapes with visibility 0 (added by addPrototype): never drawn
    // themselves, kept for their instances.
    std::vector<GeoPrimitive *> prototypes;

    // An instance node as read: it draws the node named `target` again,
    // placed by its matrix. Expanded into shapes after the whole file is read.
    struct InstanceNode {
        std::string name;   // upper-cased
        std::string target; // upper-cased
        Transform matrix;
        bool inheritXform = true; // the instance's matrix goes on top of the target's
        bool visible = true;
        std::string shaderName; // empty: the target's shader
    };
    std::vector<InstanceNode> instanceNodes;
    // Every camera node read (addCameraNode), in file order; the loader
    // picks one at the end.
    std::vector<Camera *> cameraNodes;
    // Light types the loader drew as a point light and has said so about.
    std::vector<std::string> pointLikeLightTypes;
    // True the first time a type is noted.
    bool notePointLikeLight(const std::string &type) {
        for (const std::string &t : pointLikeLightTypes)
            if (t == type) return false;
        pointLikeLightTypes.push_back(type);
        return true;
    }

    World();
    // Virtual, so that a program that loads the library at run time can
    // delete the World it was handed: the call goes through the object's
    // own function table and needs no symbol of the library.
    virtual ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    // Each takes the object over and returns it; it lives as long as the World.
    template <class Shape> Shape *addPrimitive(std::unique_ptr<Shape> p, const char *shaderName) {
        Shape *shape = p.get();
        adoptPrimitive(std::move(p), shaderName);
        return shape;
    }
    MeshShape *addMesh(std::unique_ptr<MeshShape> m, const char *shaderName);
    GeoPrimitive *addPrototype(std::unique_ptr<GeoPrimitive> shape);
    bool addLight(std::unique_ptr<LocalLight> light);
    void setAmbientLight(std::unique_ptr<Light> light);
    template <class M> M *addMaterial(std::unique_ptr<M> m) {
        M *material = m.get();
        adoptMaterial(std::move(m));
        return material;
    }
    Camera *addCameraNode(std::unique_ptr<Camera> c);
    // Selects the camera to render through: one of cameraNodes, or null.
    bool setCamera(Camera *c);
    Camera *getCamera() const { return camera; }
    void addShadingEngine(const char *engineName, const char *materialName);
    void addFileNode(const char *nodeName, const char *fileName);
    bool addTexture(const std::string &fileName);

    // The material a shape's shader name stands for: the material of the
    // shading engine of that name, or else the material of that name.
    Material *getMaterial(const char *shaderName) const;
    // The first material added with that name.
    Material *findMaterial(const char *materialName) const;
    const Texture *getTexture(const char *fileNodeName) const;
    const Texture *findTexture(const char *fileName) const;
    // The same lookups without building a key string: colour channels call
    // getTexture at every shaded hit.
    const Texture *getTexture(const std::string &fileNodeName) const;
    const Texture *findTexture(const std::string &fileName) const;

    // Installs the accelerator that answers intersect (and, when it is a
    // kd-tree, occluded); the World owns it from now on.
    void setAccelerator(std::unique_ptr<Primitive> tree, const KdTreeAccel *asKdTree);

    // Binds every shape to the material its shading engine names, then moves
    // all mesh triangles to the end of primitives. Run once after loading.
    void bindMaterials();

    // Nearest hit closer than min(tMax, r.maxDist); returns the hit distance.
    // On a miss info.id stays -1 and the result is that bound, or the largest
    // float when an accelerator answers.
    float intersect(IntersectInfo &info, const vmath::Ray &r, float tMax) const;
    // True when intersect with the same ray and tMax would report a hit; the
    // shadow query. It stops at the first hit it finds.
    bool occluded(const vmath::Ray &r, float tMax) const;

    // A colour parameter of a surface shader that names another node: it
    // samples the texture of that node when it is an image file node, and
    // otherwise takes `fallback`, with a Warning when `report` is set.
    struct ColorNodeRef {
        ColorChannel *channel;
        Vec3f fallback;
        std::string material, param;
        bool report;
    };
    std::vector<ColorNodeRef> colorNodeRefs;
    // Settles every colorNodeRef once all nodes are read.
    void resolveColorNodes();

private:
    int nextId() const;
    void adoptPrimitive(std::unique_ptr<Primitive> p, const char *shaderName);
    void adoptMaterial(std::unique_ptr<Material> m);
    std::unordered_map<std::string, Material *> m_materialIndex; // name -> first material

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
    std::unique_ptr<Primitive> m_ownedAccelerator;
};
