// What the loader keeps while it reads a scene file (and the files it
// includes) and drops when the scene is complete: node names of shapes,
// materials, shading engines and image file nodes, instance nodes, camera
// nodes, the shader names of the shapes, the colours that name other nodes,
// the files being read and where the files they name are found. The World
// it fills keeps only what rendering needs.
#pragma once

#include <cstdint>
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

class TextParser;

class SceneOverrides;

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

    // ---- The files being read: the scene file, then each included file
    // on top of the one that includes it.
    struct SourceFile {
        std::string path;     // as opened
        std::string identity; // its canonical path: no file may include itself
        // Prefix of the names its nodes define ("" or "NS::", upper-cased);
        // names it uses are looked up there first, then outwards.
        std::string scope;
        Transform placement;    // places its shapes and lights in the scene
        bool placed = false;    // placement is other than the identity
        bool overrides = false; // its nodes take over names already defined
    };
    void enterFile(SourceFile file) { m_files.push_back(std::move(file)); }
    void leaveFile() { m_files.pop_back(); }
    const std::vector<SourceFile> &files() const { return m_files; }
    // 0 while the scene file itself is read.
    int includeDepth() const { return m_files.empty() ? 0 : static_cast<int>(m_files.size()) - 1; }
    // A node's own matrix placed as the file being read is placed.
    Transform placed(const Transform &local) const {
        return m_files.empty() || !m_files.back().placed ? local : m_files.back().placement * local;
    }
    // The name a node of the file being read is known by.
    std::string scopedName(const std::string &name) const { return scope() + name; }
    const std::string &scope() const;

    // Where a file a node names is found: beside the file being read, then
    // from the working directory, then in each directory of the options'
    // search path for its kind. An absolute name is taken as it stands when
    // the file is there, else its last part is looked for beside the file
    // and in the search path ('\\' separates directories too). The name as
    // given when it is found nowhere: the reader then reports it as it
    // always has.
    enum class FileKind { Texture, Scene };
    std::string findFile(const std::string &name, FileKind kind) const;
    // The options' search paths: directories separated by ';' or ':'.
    std::string textureSearchPath, proceduralSearchPath;
    // The text of every distinct file read, and the text read again
    // through files included more than once.
    uint64_t distinctBytes = 0, repeatedBytes = 0;
    struct FileRead {
        std::string identity;
        uint64_t bytes;
    };
    std::vector<FileRead> filesRead; // every distinct file read
    // Set once the file a refusal came from has been named.
    bool includeFailureReported = false;
    // The include depth of the file whose options node was read, and of the
    // one whose driver chose the output file; -1 while there is none.
    int optionsDepth = -1, outputDepth = -1;
    // The loader's node dispatch, through which included files are read.
    // Returns false when the node was refused.
    bool (*readNode)(const std::string &keyword, TextParser &parser, LoadState &state) = nullptr;
    // Settings from outside the scene file, read into the nodes they name;
    // may be null.
    SceneOverrides *overrides = nullptr;

    // A shape by its node name (upper-cased), so that instances can find it.
    struct NamedShape {
        GeoPrimitive *shape = nullptr; // a MeshShape or a SpherePrimitive
        std::string shaderName;
        Point3f localCenter; // spheres: the centre before the node's matrix
        int links = -1;      // its light links (addLinks), copied by instances
        // A mesh with per-face shaders: every name of its shader list (the
        // first is shaderName); empty otherwise.
        std::vector<std::string> faceShaders;
        Transform local;   // the node's own matrix (before the file's placement)
        std::string scope; // where its shader names are looked up
    };
    std::unordered_map<std::string, NamedShape> namedShapes;
    // The entry of a name seen from a scope: in the scope, then in each
    // enclosing one, then the name itself.
    template <class Map>
    typename Map::const_iterator findScoped(const Map &map, const std::string &scope,
                                            const std::string &name) const {
        std::string prefix = scope;
        for (;;) {
            auto it = map.find(prefix + name);
            if (it != map.end() || prefix.empty()) return it;
            prefix = enclosingScope(prefix);
        }
    }

    // An instance node as read: it draws the node named `target` again,
    // placed by its matrix. Expanded into shapes after the whole file is read.
    struct InstanceNode {
        std::string name;   // upper-cased
        std::string target; // upper-cased
        Transform matrix;
        bool inheritXform = true; // the instance's matrix goes on top of the target's
        bool visible = true;
        std::string shaderName; // empty: the target's shader
        std::string scope;      // where target and shader are looked up
        Transform placement;    // of the file it was read from
        bool placed = false;
    };
    std::vector<InstanceNode> instanceNodes;

    // Every camera node read, in file order, with the include depth of its
    // file; one is picked at the end.
    struct CameraNode {
        Camera *camera;
        int depth;
    };
    std::vector<CameraNode> cameraNodes;

    // Hands a drawn shape to the World, to be bound to the material its
    // shader name stands for once every node is read: looked up from
    // `scope`; a mesh with per-face shaders names one per shader slot.
    template <class Shape>
    Shape *addShape(std::unique_ptr<Shape> shape, const std::string &shader,
                    const std::vector<std::string> &faceShaders, const std::string &scope) {
        Shape *p = shape.get();
        MeshShape *mesh = nullptr;
        if constexpr (std::is_same_v<Shape, MeshShape>) {
            mesh = p;
            world.addMesh(std::move(shape));
        } else {
            world.addPrimitive(std::move(shape));
        }
        m_shapeShaders.push_back({p, faceShaders.empty() ? nullptr : mesh, shader, faceShaders, scope});
        return p;
    }
    // The same from the file being read, with one shader.
    template <class Shape> Shape *addShape(std::unique_ptr<Shape> shape, const std::string &shader) {
        return addShape(std::move(shape), shader, {}, scope());
    }
    Camera *addCamera(std::unique_ptr<Camera> camera);
    template <class M> M *addMaterial(std::unique_ptr<M> m) {
        M *material = world.addMaterial(std::move(m));
        // Lookups find the first material of a name, unless an included
        // file that overrides names defines it again.
        const std::string key = scopedName(material->name);
        if (overriding())
            m_materialIndex[key] = material;
        else
            m_materialIndex.emplace(key, material);
        return material;
    }
    void addShadingEngine(const std::string &engineName, const std::string &materialName) {
        m_shadingEngines[scopedName(engineName)] = {materialName, scope()};
    }
    void addFileNode(const std::string &nodeName, const std::string &fileName) {
        m_fileNodes[scopedName(nodeName)] = fileName;
    }
    // A texture node (image, checkerboard, ramp) by its name; a later node
    // of the same name replaces it.
    void addTextureNode(const std::string &nodeName, const Texture *texture) {
        m_textureNodes[scopedName(nodeName)] = texture;
    }

    // The material a shape's shader name stands for, seen from a scope:
    // the material of the shading engine of that name, or else the
    // material of that name.
    Material *materialFor(const std::string &shaderName, const std::string &scope = "") const;
    // The first material added with that name.
    Material *findMaterial(const std::string &materialName, const std::string &scope = "") const;
    // The texture of a texture node or of an image file node, or null.
    const Texture *textureOfNode(const std::string &nodeName, const std::string &scope = "") const;

    // A colour parameter of a shader that names another node: bound to the
    // texture of that node when it is a texture or image file node, and
    // otherwise set to `fallback`, with a Warning when `report` is set.
    struct ColorNodeRef {
        ColorChannel *channel;
        std::string node; // upper-cased
        Vec3f fallback;
        std::string material, param;
        bool report;
        std::string scope = std::string(); // set to the file's when noted
    };
    void colorNamesNode(ColorNodeRef ref) {
        ref.scope = scope();
        m_colorNodeRefs.push_back(std::move(ref));
    }

    // Pixel filter nodes by name.
    void addPixelFilter(const std::string &name, FilmSettings::Filter type, float width) {
        m_pixelFilters[name] = {type, width};
    }
    // The filter an output names: one of those read, or else (with a
    // Warning) the gaussian of width 2. An empty name is the gaussian.
    void choosePixelFilter(const std::string &name, FilmSettings &film) const;

    // A node of a type the loader does not read (its name upper-cased).
    void noteSkippedNode(const std::string &name, const std::string &keyword) {
        m_skippedNodes[scopedName(name)] = keyword;
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
    // The scope around a non-empty one ("A::B::" -> "A::").
    static std::string enclosingScope(const std::string &scope);
    bool overriding() const { return !m_files.empty() && m_files.back().overrides; }

    struct ShapeShaders {
        Primitive *shape;
        MeshShape *mesh; // set when the mesh has per-face shaders
        std::string shader;
        std::vector<std::string> faceShaders;
        std::string scope;
    };
    struct EngineRef {
        std::string material; // the material's name
        std::string scope;    // where it is looked up
    };
    std::vector<ShapeShaders> m_shapeShaders;
    std::vector<SourceFile> m_files;
    std::unordered_map<std::string, Material *> m_materialIndex;
    std::map<std::string, EngineRef> m_shadingEngines; // engine name -> its material
    std::map<std::string, std::string> m_fileNodes;    // file node name -> image file name
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
