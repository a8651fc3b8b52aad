#include "parsers/load_state.h"

#include <sys/stat.h>

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
        // An image: sampled from now on, tinted by the channel's colour.
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
    // covers them.
    for (const ShapeShaders &entry : m_shapeShaders) {
        entry.shape->setMaterial(materialFor(entry.shader, entry.scope));
        if (entry.mesh == nullptr) continue;
        std::vector<Material *> slots;
        slots.reserve(entry.faceShaders.size());
        for (const std::string &name : entry.faceShaders) slots.push_back(materialFor(name, entry.scope));
        entry.mesh->setShaderMaterials(std::move(slots));
    }
    world.finishShapes();
}
