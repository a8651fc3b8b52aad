// What the loader keeps while it reads one scene file and drops when the
// scene is complete: node names of shapes, materials, shading engines and
// image file nodes, instance nodes, camera nodes, the shader names of the
// shapes and the colours that name other nodes. The World it fills keeps
// only what rendering needs.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "lights/light.h"
#include "materials/material.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "util/transform.h"

class LoadState {
public:
    World &world;

    explicit LoadState(World &w) : world(w) {}
    LoadState(const LoadState &) = delete;
    LoadState &operator=(const LoadState &) = delete;

    // A shape's light and shadow groups as read (light node names,
    // upper-cased): with useLights only the lights named light it; with
    // useShadows only the lights named are shadowed on it.
    struct ShapeLinks {
        std::vector<std::string> lights, shadows;
        bool useLights = false, useShadows = false;
    };
    // Keeps a shape's links; -1 when they leave every light as it is.
    int addLinks(const ShapeLinks &links);
    // The drawn shape gets the links addLinks returned (nothing for -1).
    void linkShape(const Primitive *shape, int links);

    // A shape by its node name (upper-cased), so that instances can find it.
    struct NamedShape {
        GeoPrimitive *shape = nullptr; // a MeshShape or a SpherePrimitive
        std::string shaderName;
        Point3f localCenter; // spheres: the centre before the node's matrix
        int links = -1;      // its light links (addLinks), copied by instances
    };
    std::unordered_map<std::string, NamedShape> namedShapes;

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

    // Every camera node read, in file order; one is picked at the end.
    std::vector<Camera *> cameraNodes;

    // Hands a drawn shape to the World, to be bound to the material its
    // shader name stands for once every node is read.
    template <class Shape> Shape *addShape(std::unique_ptr<Shape> shape, const std::string &shader) {
        Shape *p = shape.get();
        if constexpr (std::is_same_v<Shape, MeshShape>)
            world.addMesh(std::move(shape));
        else
            world.addPrimitive(std::move(shape));
        m_shapeShaders.emplace_back(p, shader);
        return p;
    }
    Camera *addCamera(std::unique_ptr<Camera> camera);
    template <class M> M *addMaterial(std::unique_ptr<M> m) {
        M *material = world.addMaterial(std::move(m));
        // Lookups find the first material of a name.
        m_materialIndex.emplace(material->name, material);
        return material;
    }
    void addShadingEngine(const std::string &engineName, const std::string &materialName) {
        m_shadingEngines[engineName] = materialName;
    }
    void addFileNode(const std::string &nodeName, const std::string &fileName) {
        m_fileNodes[nodeName] = fileName;
    }
    // A texture node (image, checkerboard, ramp) by its name; a later node
    // of the same name replaces it.
    void addTextureNode(const std::string &nodeName, const Texture *texture) {
        m_textureNodes[nodeName] = texture;
    }

    // The material a shape's shader name stands for: the material of the
    // shading engine of that name, or else the material of that name.
    Material *materialFor(const std::string &shaderName) const;
    // The first material added with that name.
    Material *findMaterial(const std::string &materialName) const;
    // The texture of a texture node or of an image file node, or null.
    const Texture *textureOfNode(const std::string &nodeName) const;

    // A colour parameter of a shader that names another node: bound to the
    // texture of that node when it is a texture or image file node, and
    // otherwise set to `fallback`, with a Warning when `report` is set.
    struct ColorNodeRef {
        ColorChannel *channel;
        std::string node; // upper-cased
        Vec3f fallback;
        std::string material, param;
        bool report;
    };
    void colorNamesNode(const ColorNodeRef &ref) { m_colorNodeRefs.push_back(ref); }

    // Pixel filter nodes by name.
    void addPixelFilter(const std::string &name, FilmSettings::Filter type, float width) {
        m_pixelFilters[name] = {type, width};
    }
    // The filter an output names: one of those read, or else (with a
    // Warning) the gaussian of width 2. An empty name is the gaussian.
    void choosePixelFilter(const std::string &name, FilmSettings &film) const;

    // A node of a type the loader does not read (its name upper-cased).
    void noteSkippedNode(const std::string &name, const std::string &keyword) {
        m_skippedNodes[name] = keyword;
    }

    // True the first time a light type is noted (lit as a point light).
    bool notePointLikeLight(const std::string &type);

    // Motion keys. A matrix or vertex list of several keys is read whole; the
    // node is made with its first key, and placed at the picture's time once
    // every node is read (the options and the camera may come later).
    void moveLater(std::vector<Transform> keys, std::function<void(const Transform &)> place);
    // keys: count x (keys) points, key after key; the mesh holds the first.
    void moveVerticesLater(std::vector<Point3f> keys, size_t count, MeshShape *mesh,
                           bool normals);
    // Places every moving node at `time` (motion time), its keys spread
    // evenly over [motionStart, motionEnd], interpolated linearly between
    // the two nearest keys.
    void placeMovingNodes(float time, float motionStart, float motionEnd);

    // After the last node: binds every colour that names a node, then every
    // shape to its material.
    void bindColorNodes();
    void bindMaterials();
    // After the last node: hands the light links of shapes to the World.
    void bindLightLinks();

    // Light filters: a light names its filters by node name; they are bound
    // after the last node (a filter of another type is warned, once).
    void addLightDecay(const std::string &name, const LightDecay &decay) {
        m_decays[name] = decay;
    }
    void filterLight(LocalLight *light, const std::vector<std::string> &filters) {
        m_filteredLights.emplace_back(light, filters);
    }
    void bindLightFilters();

    // A light with an area, as read: its surface is made once every node is
    // read and moving nodes are placed (a mesh light needs its mesh).
    struct AreaLight {
        LightSurface::Kind kind = LightSurface::Kind::Sphere;
        float radius = -1.0f; // -1: the type's default
        bool normalize = true;
        float camera = 0.0f;
        Point3f corners[4] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
        Point3f bottom, top;
        std::string mesh;
    };
    void shapeLightLater(LocalLight *light, const AreaLight &area) {
        m_areaLights.emplace_back(light, area);
    }
    void buildLightSurfaces();

private:
    std::vector<std::pair<Primitive *, std::string>> m_shapeShaders;
    std::unordered_map<std::string, Material *> m_materialIndex;
    std::map<std::string, std::string> m_shadingEngines; // engine name -> material name
    std::map<std::string, std::string> m_fileNodes;      // file node name -> image file name
    std::map<std::string, const Texture *> m_textureNodes; // texture node name -> texture
    std::vector<ColorNodeRef> m_colorNodeRefs;
    std::vector<std::string> m_pointLikeLightTypes;
    struct MovingMatrix {
        std::vector<Transform> keys;
        std::function<void(const Transform &)> place;
    };
    std::vector<MovingMatrix> m_movingMatrices;
    std::vector<ShapeLinks> m_links;
    std::map<std::string, std::string> m_skippedNodes; // node name -> keyword
    std::map<std::string, std::pair<FilmSettings::Filter, float>> m_pixelFilters;
    std::map<std::string, LightDecay> m_decays;
    std::vector<std::pair<LocalLight *, AreaLight>> m_areaLights;
    std::vector<std::pair<LocalLight *, std::vector<std::string>>> m_filteredLights;
    std::vector<std::pair<int, int>> m_linkedShapes; // shape id, index in m_links
    struct MovingVertices {
        std::vector<Point3f> keys;
        size_t count;
        MeshShape *mesh;
        bool normals;
    };
    std::vector<MovingVertices> m_movingVertices;
};
