#include "materials/material.h"

#include "shapes/primitive.h"
#include "scene/world.h"

Vec3f ColorChannel::evaluate(const IntersectInfo &info) const {
    if (texture.empty()) return color;
    const World::Texture *tex = info.world ? info.world->getTexture(texture) : nullptr;
    if (!tex) return kMissingTextureColor;
    return vmath::mulComponents(tex->sample(info.u, info.v), color);
}

Lambert::Lambert(const char *name, float kd, const ColorChannel &Kd)
    : Material(MaterialKind::Lambert, name), kd(kd), Kd(Kd) {}

BlinnPhong::BlinnPhong(const char *name, float kd, const ColorChannel &Kd, float ks,
                       const ColorChannel &Ks, float power)
    : Material(MaterialKind::BlinnPhong, name),
      // The diffuse part is a Lambert of its own, named after this material.
      diffuse((std::string(name ? name : "") + "_diffuse").c_str(), kd, Kd), power(power), Ks(Ks),
      ks(ks) {}

bool usesTexture(const Material &material) {
    if (!material.Ka.texture.empty()) return true;
    switch (material.kind) {
    case MaterialKind::Lambert:
        return !static_cast<const Lambert &>(material).Kd.texture.empty();
    case MaterialKind::Standard: {
        const Standard &m = static_cast<const Standard &>(material);
        return !m.Kd.texture.empty() || !m.Ks.texture.empty() || !m.Kr.texture.empty() ||
               !m.Kt.texture.empty() || !m.Ke.texture.empty();
    }
    case MaterialKind::BlinnPhong: {
        const BlinnPhong &m = static_cast<const BlinnPhong &>(material);
        return !m.diffuse.Kd.texture.empty() || !m.Ks.texture.empty();
    }
    case MaterialKind::Flat:
        return !static_cast<const Flat &>(material).color.texture.empty();
    }
    return false;
}
