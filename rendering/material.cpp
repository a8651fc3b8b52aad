#include "material.h"

#include "primitive.h"
#include "world.h"

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
