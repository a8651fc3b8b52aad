#include "materials/material.h"

#include "shapes/primitive.h"

Vec3f ColorChannel::evaluate(const IntersectInfo &info) const {
    if (texture == nullptr) return color;
    return vmath::mulComponents(texture->sample(info.u, info.v), color);
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
    if (material.Ka.texture != nullptr) return true;
    switch (material.kind) {
    case MaterialKind::Lambert:
        return static_cast<const Lambert &>(material).Kd.texture != nullptr;
    case MaterialKind::Standard: {
        const Standard &m = static_cast<const Standard &>(material);
        return m.Kd.texture != nullptr || m.Ks.texture != nullptr || m.Kr.texture != nullptr ||
               m.Kt.texture != nullptr || m.Ke.texture != nullptr;
    }
    case MaterialKind::BlinnPhong: {
        const BlinnPhong &m = static_cast<const BlinnPhong &>(material);
        return m.diffuse.Kd.texture != nullptr || m.Ks.texture != nullptr;
    }
    case MaterialKind::Flat:
        return static_cast<const Flat &>(material).color.texture != nullptr;
    }
    return false;
}
