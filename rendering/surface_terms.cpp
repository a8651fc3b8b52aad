#include "rendering/surface_terms.h"

namespace {

const ColorChannel kBlack;

// Shading of a hit whose shape has no material: the grey a default
// AISTANDARD node would give, so that unbound shapes stay visible.
struct DefaultSurface {
    ColorChannel Kd{Vec3f(0.5f, 0.5f, 0.5f)};
    ColorChannel Ka{Vec3f(0.5f, 0.5f, 0.5f)};
};
const DefaultSurface kDefaultSurface;
constexpr float kDefaultShininess = 20.0f;
constexpr float kDefaultRefractionIndex = 1.52f;

// A hit without material shades as the default grey Standard would.
SurfaceTerms unboundTerms() {
    return {&kDefaultSurface.Kd, &kBlack, kDefaultShininess, &kDefaultSurface.Ka,
            &kBlack,             &kBlack, kDefaultRefractionIndex, &kBlack};
}

} // namespace

SurfaceTerms surfaceTerms(const Material *material) {
    if (material == nullptr) return unboundTerms();
    switch (material->kind) {
    case MaterialKind::Standard: {
        const auto *m = static_cast<const Standard *>(material);
        return {&m->Kd, &m->Ks, m->shininess, &m->Ka, &m->Kr, &m->Kt, m->refractionIndex, &m->Ke};
    }
    case MaterialKind::Lambert: {
        const auto *m = static_cast<const Lambert *>(material);
        return {&m->Kd, &kBlack, 0.0f, &m->Ka, &kBlack, &kBlack, 0.0f, &kBlack};
    }
    case MaterialKind::BlinnPhong: {
        const auto *m = static_cast<const BlinnPhong *>(material);
        return {&m->diffuse.Kd, &m->Ks, m->power, &m->Ka, &kBlack, &kBlack, 0.0f, &kBlack};
    }
    case MaterialKind::Flat: {
        const auto *m = static_cast<const Flat *>(material);
        return {&m->color, &kBlack, 0.0f, &kBlack, &kBlack, &kBlack, 0.0f, &kBlack, true};
    }
    }
    return unboundTerms();
}

