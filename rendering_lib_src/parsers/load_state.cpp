#include "parsers/load_state.h"

#include <sys/stat.h>

#include <cctype>
#include <cmath>

#include "lights/light_sampling.h"

#include "util/error.h"

namespace {

bool isReadableFile(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string directoryOf(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

const std::string &LoadState::scope() const {
    static const std::string global;
    return m_files.empty() ? global : m_files.back().scope;
}

std::string LoadState::enclosingScope(const std::string &scope) {
    // "A::B::": the separator before the last name ends the enclosing scope.
    if (scope.size() < 3) return std::string();
    const size_t cut = scope.rfind("::", scope.size() - 3);
    return cut == std::string::npos ? std::string() : scope.substr(0, cut + 2);
}

std::string LoadState::findFile(const std::string &name, FileKind kind) const {
    if (name.empty()) return name;
    if (name[0] == '/' && isReadableFile(name)) return name;
    // Files written on Windows separate directories with '\\'. An absolute
    // name that is not found as it stands (a path of the machine the file
    // was written on) is looked for by its last part.
    std::string relative = name;
    for (char &c : relative)
        if (c == '\\') c = '/';
    const bool absolute = relative[0] == '/' || (relative.size() > 2 && relative[1] == ':' &&
                                                 ((relative[0] | 0x20) >= 'a' && (relative[0] | 0x20) <= 'z'));
    if (absolute) relative = relative.substr(relative.find_last_of('/') + 1);
    if (relative.empty()) return name;
    // Beside the file that names it, then from the working directory.
    if (!m_files.empty()) {
        const std::string dir = directoryOf(m_files.back().path);
        if (!dir.empty() && isReadableFile(dir + relative)) return dir + relative;
    }
    if (!absolute) {
        if (isReadableFile(name)) return name;
        if (relative != name && isReadableFile(relative)) return relative;
    }
    const std::string &searchPath =
        kind == FileKind::Texture ? textureSearchPath : proceduralSearchPath;
    // Directories are separated by ';' in files written on Windows and by
    // ':' elsewhere.
    const char *separators = searchPath.find(';') != std::string::npos ? ";" : ":";
    size_t start = 0;
    while (start < searchPath.size()) {
        size_t end = searchPath.find_first_of(separators, start);
        if (end == std::string::npos) end = searchPath.size();
        std::string dir = searchPath.substr(start, end - start);
        for (char &c : dir)
            if (c == '\\') c = '/';
        if (!dir.empty()) {
            if (dir.back() != '/') dir += '/';
            if (isReadableFile(dir + relative)) return dir + relative;
        }
        start = end + 1;
    }
    return name;
}

Camera *LoadState::addCamera(std::unique_ptr<Camera> camera) {
    Camera *c = world.addCamera(std::move(camera));
    cameraNodes.push_back({c, includeDepth()});
    return c;
}

Material *LoadState::materialFor(const std::string &shaderName, const std::string &scope) const {
    // Shapes name a shading engine, or (in most exported files) their
    // material directly.
    auto it = findScoped(m_shadingEngines, scope, shaderName);
    if (it != m_shadingEngines.end()) return findMaterial(it->second.material, it->second.scope);
    return findMaterial(shaderName, scope);
}

Material *LoadState::findMaterial(const std::string &materialName, const std::string &scope) const {
    auto it = findScoped(m_materialIndex, scope, materialName);
    return it == m_materialIndex.end() ? nullptr : it->second;
}

const Texture *LoadState::textureOfNode(const std::string &nodeName, const std::string &scope) const {
    auto node = findScoped(m_textureNodes, scope, nodeName);
    if (node != m_textureNodes.end()) return node->second;
    auto it = findScoped(m_fileNodes, scope, nodeName);
    if (it == m_fileNodes.end()) return nullptr;
    return world.findTexture(it->second);
}

bool LoadState::notePointLikeLight(const std::string &type) {
    for (const std::string &t : m_pointLikeLightTypes)
        if (t == type) return false;
    m_pointLikeLightTypes.push_back(type);
    return true;
}

void LoadState::bindColorNodes() {
    for (const ColorNodeRef &ref : m_colorNodeRefs) {
        // A texture: sampled from now on, tinted by the channel's colour.
        if (const Texture *texture = textureOfNode(ref.node, ref.scope)) {
            ref.channel->texture = texture;
            continue;
        }
        if (ref.report)
            Warning("Shader %s: %s names \"%s\", which cannot be evaluated; using the default",
                    ref.material.c_str(), ref.param.c_str(), ref.node.c_str());
        *ref.channel = ColorChannel(ref.fallback);
    }
    std::vector<ColorNodeRef>().swap(m_colorNodeRefs);
}

void LoadState::bindMaterials() {
    // Shapes name shading engines; an unknown engine or material binds null.
    // Triangles ask their mesh for their material, so binding the mesh
    // covers them. A shader of a type this loader does not read is named,
    // with the count of shapes shaded grey for it, once per type.
    std::map<std::string, size_t> unreadTypes;
    for (const ShapeShaders &entry : m_shapeShaders) {
        Material *material = materialFor(entry.shader, entry.scope);
        entry.shape->setMaterial(material);
        if (material == nullptr && !entry.shader.empty()) {
            auto engine = findScoped(m_shadingEngines, entry.scope, entry.shader);
            const std::string &named =
                engine != m_shadingEngines.end() ? engine->second.material : entry.shader;
            auto skipped = findScoped(m_skippedNodes, entry.scope, named);
            if (skipped != m_skippedNodes.end()) ++unreadTypes[skipped->second];
        }
        if (entry.mesh == nullptr) continue;
        std::vector<Material *> slots;
        slots.reserve(entry.faceShaders.size());
        for (const std::string &name : entry.faceShaders) slots.push_back(materialFor(name, entry.scope));
        entry.mesh->setShaderMaterials(std::move(slots));
    }
    for (const auto &[keyword, shapes] : unreadTypes) {
        std::string type = keyword;
        for (char &c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        Warning("Shader type %s is not supported; %zu shape%s using it %s shaded grey",
                type.c_str(), shapes, shapes == 1 ? "" : "s", shapes == 1 ? "is" : "are");
    }
    world.finishShapes();
}

void LoadState::moveLater(std::vector<Transform> keys,
                          std::function<void(const Transform &)> place) {
    if (keys.size() > 1) m_movingMatrices.push_back({std::move(keys), std::move(place)});
}

void LoadState::moveVerticesLater(std::vector<Point3f> keys, size_t count, MeshShape *mesh,
                                  bool normals) {
    if (count > 0 && keys.size() > count && keys.size() % count == 0)
        m_movingVertices.push_back({std::move(keys), count, mesh, normals});
}

namespace {

// Where `time` falls among n keys spread over [start, end]: the earlier
// key's index and the weight of the later one.
void keyPosition(float time, float start, float end, size_t n, size_t *k, float *w) {
    float f = 0.0f;
    if (end > start && n > 1) f = (time - start) / (end - start) * static_cast<float>(n - 1);
    if (!(f > 0.0f)) f = 0.0f; // NaN too
    const float last = static_cast<float>(n - 1);
    if (f > last) f = last;
    *k = static_cast<size_t>(f);
    if (*k >= n - 1) *k = n > 1 ? n - 2 : 0;
    *w = n > 1 ? f - static_cast<float>(*k) : 0.0f;
}

float lerp(float a, float b, float w) { return a + (b - a) * w; }

} // namespace

void LoadState::placeMovingNodes(float time, float motionStart, float motionEnd) {
    for (const MovingMatrix &m : m_movingMatrices) {
        size_t k;
        float w;
        keyPosition(time, motionStart, motionEnd, m.keys.size(), &k, &w);
        const Matrix4x4 &a = m.keys[k].m, &b = m.keys[k + 1].m;
        float out[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) out[i][j] = lerp(a.m[i][j], b.m[i][j], w);
        m.place(Transform(Matrix4x4(out)));
    }
    for (const MovingVertices &v : m_movingVertices) {
        const size_t keys = v.keys.size() / v.count;
        size_t k;
        float w;
        keyPosition(time, motionStart, motionEnd, keys, &k, &w);
        const Point3f *a = v.keys.data() + k * v.count;
        const Point3f *b = a + v.count;
        for (size_t i = 0; i < v.count; ++i) {
            const Point3f p(lerp(a[i].x, b[i].x, w), lerp(a[i].y, b[i].y, w),
                            lerp(a[i].z, b[i].z, w));
            if (v.normals)
                v.mesh->normals[i] = Vec3f(p.x, p.y, p.z);
            else
                v.mesh->vertices[i] = p;
        }
    }
    m_movingMatrices.clear();
    m_movingVertices.clear();
}

int LoadState::addLinks(const ShapeLinks &links) {
    if (!links.useLights && !links.useShadows) return -1;
    m_links.push_back(links);
    return static_cast<int>(m_links.size()) - 1;
}

void LoadState::linkShape(const Primitive *shape, int links) {
    if (links >= 0) m_linkedShapes.emplace_back(shape->id, links);
}

void LoadState::bindLightLinks() {
    if (m_linkedShapes.empty()) return;
    // A name stands for every light of that name.
    auto maskOf = [&](const std::vector<std::string> &names) {
        std::vector<uint8_t> mask(world.lights.size(), 0);
        for (size_t i = 0; i < world.lights.size(); ++i)
            for (const std::string &n : names)
                if (world.lights[i]->name == n) mask[i] = 1;
        return mask;
    };
    std::vector<int> setOf(m_links.size(), -1);
    for (const auto &[id, links] : m_linkedShapes) {
        if (setOf[links] < 0) {
            const ShapeLinks &l = m_links[links];
            World::LightLinks set;
            set.lights = l.useLights ? maskOf(l.lights) : std::vector<uint8_t>(world.lights.size(), 1);
            set.shadows = l.useShadows ? maskOf(l.shadows) : std::vector<uint8_t>(world.lights.size(), 1);
            setOf[links] = world.addLightLinks(std::move(set));
        }
        world.linkShape(id, setOf[links]);
    }
}

void LoadState::bindLightFilters() {
    std::vector<std::string> warned;
    for (const auto &[light, filters] : m_filteredLights) {
        for (const std::string &name : filters) {
            auto it = m_decays.find(name);
            if (it != m_decays.end()) {
                light->decays.push_back(it->second);
                continue;
            }
            bool said = false;
            for (const std::string &w : warned) said = said || w == name;
            if (said) continue;
            warned.push_back(name);
            Warning("Light %s: filter \"%s\" is not a light_decay filter; it is ignored",
                    light->name.c_str(), name.c_str());
        }
    }
    m_filteredLights.clear();
}

void LoadState::choosePixelFilter(const std::string &name, FilmSettings &film) const {
    film.filter = FilmSettings::Filter::Gaussian;
    film.filterWidth = 2.0f;
    if (name.empty()) return;
    auto it = m_pixelFilters.find(name);
    if (it != m_pixelFilters.end()) {
        film.filter = it->second.first;
        film.filterWidth = it->second.second;
        return;
    }
    auto skipped = m_skippedNodes.find(name);
    if (skipped != m_skippedNodes.end()) {
        std::string type = skipped->second;
        for (char &c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        Warning("Filter %s is a %s, which is not supported; using a gaussian filter of width 2",
                name.c_str(), type.c_str());
    } else {
        Warning("Filter %s is not defined; using a gaussian filter of width 2", name.c_str());
    }
}

void LoadState::buildLightSurfaces() {
    constexpr float kPi = 3.14159265f;
    for (auto &[light, a] : m_areaLights) {
        const Transform &l2w = light->light2world;
        LightSurface surface;
        float radius = a.radius;
        switch (a.kind) {
        case LightSurface::Kind::Sphere:
            surface = sphereSurface(l2w, radius);
            break;
        case LightSurface::Kind::Disc:
            surface = discSurface(l2w, radius);
            break;
        case LightSurface::Kind::Quad:
            surface = quadSurface(l2w, a.corners);
            break;
        case LightSurface::Kind::Disk:
            if (!(radius > 0.0f)) radius = 0.5f;
            surface = diskSurface(l2w, radius);
            break;
        case LightSurface::Kind::Cylinder:
            if (!(radius > 0.0f)) radius = 0.5f;
            surface = cylinderSurface(l2w, a.bottom, a.top, radius);
            break;
        case LightSurface::Kind::Mesh: {
            surface.kind = LightSurface::Kind::Mesh;
            surface.twoSided = true;
            auto named = namedShapes.find(a.mesh);
            const MeshShape *mesh = named == namedShapes.end()
                                        ? nullptr
                                        : dynamic_cast<const MeshShape *>(named->second.shape);
            if (mesh != nullptr)
                for (int i = 0; i < mesh->numTriangles(); ++i)
                    for (int k = 0; k < 3; ++k) surface.triangles.push_back(mesh->cornerWorld(i, k));
            if (mesh == nullptr || !finishTriangleSurface(surface)) {
                Warning("Light %s: mesh \"%s\" is no mesh with an area; the light gives none",
                        light->name.c_str(), a.mesh.c_str());
                light->intensity = 0.0f;
                light->setExposure(light->exposure);
                continue;
            }
            break;
        }
        }
        if (!(surface.area > 0.0f) || !std::isfinite(surface.area)) {
            Warning("Light %s has no area; it is lit as a point", light->name.c_str());
            continue;
        }
        // A sphere or disc keeps the point or spot light's intensity: seen
        // from afar it gives what the point gave. Other surfaces give
        // colour x intensity x 2^exposure per unit area when normalised.
        const Vec3f &e = light->emitted();
        float divisor = 1.0f;
        if (a.kind == LightSurface::Kind::Sphere || a.kind == LightSurface::Kind::Disc)
            divisor = kPi * radius * radius;
        else if (a.normalize)
            divisor = surface.area;
        surface.radiance = Vec3f(e.x / divisor, e.y / divisor, e.z / divisor);
        surface.cameraVisibility = a.camera;
        light->surface = std::make_unique<const LightSurface>(std::move(surface));
    }
    m_areaLights.clear();
}
