#include "parsers/load_state.h"

#include "util/error.h"

Camera *LoadState::addCamera(std::unique_ptr<Camera> camera) {
    Camera *c = world.addCamera(std::move(camera));
    cameraNodes.push_back(c);
    return c;
}

Material *LoadState::materialFor(const std::string &shaderName) const {
    auto it = m_shadingEngines.find(shaderName);
    // Shapes name a shading engine, or (in most exported files) their
    // material directly.
    return findMaterial(it != m_shadingEngines.end() ? it->second : shaderName);
}

Material *LoadState::findMaterial(const std::string &materialName) const {
    auto it = m_materialIndex.find(materialName);
    return it == m_materialIndex.end() ? nullptr : it->second;
}

const Texture *LoadState::textureOfNode(const std::string &nodeName) const {
    auto node = m_textureNodes.find(nodeName);
    if (node != m_textureNodes.end()) return node->second;
    auto it = m_fileNodes.find(nodeName);
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
        if (const Texture *texture = textureOfNode(ref.node)) {
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
    // Triangles ask their mesh for its material, so binding the mesh covers
    // them.
    for (const auto &[shape, shader] : m_shapeShaders) shape->setMaterial(materialFor(shader));
    world.finishShapes();
}
