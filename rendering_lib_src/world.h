// The in-memory scene: primitives, meshes, lights, materials, camera,
// textures and the name tables that bind shapes to materials and colour
// channels to texture files. Answers nearest-hit queries.
#pragma once

#include <map>
#include <unordered_map>
#include <string>
#include <vector>

#include "camera.h"
#include "light.h"
#include "primitive.h"
#include "vecmath.h"

class KdTreeAccel;
class Material;
struct ColorChannel;
class MeshShape;

class World {
public:
    // A texture image: width x height colours, row-major, row 0 at the bottom.
    struct Texture {
        int width = 0;
        int height = 0;
        Vec3f *texels = nullptr;
        // Nearest texel at (u, v), no wrapping; (-1, -1, -1) outside the image.
        Vec3f sample(float u, float v) const;
    };

    Primitive *accelerator = nullptr; // optional, answers intersect in place of the linear loop
    // The kd-tree installed by installAccelerator (also in accelerator); its
    // occlusion query answers occluded. Not owned.
    const KdTreeAccel *kdTree = nullptr;
    std::vector<Primitive *> primitives;
    std::vector<std::string> primitiveMaterialNames; // parallel to addPrimitive calls
    std::vector<LocalLight *> lights;
    Light *ambientLight = nullptr; // stored by the loader; not read by rendering
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
    // Shapes with visibility 0: never drawn themselves, kept for their instances.
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
    // Every camera node read, in file order; the loader picks one at the end.
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

    World() = default;

    void addPrimitive(Primitive *p, const char *shaderName);
    void addMesh(MeshShape *m, const char *shaderName);
    bool addLight(LocalLight *light);
    void addMaterial(Material *m);
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
    std::unordered_map<std::string, Material *> m_materialIndex; // name -> first material
};
