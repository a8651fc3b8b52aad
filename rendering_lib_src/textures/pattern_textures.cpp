#include "textures/pattern_textures.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr float kTwoPi = 6.2831855f;

// True for an odd cell index; huge values (all even as floats) and values
// that are no numbers give a fixed answer.
bool oddCell(float x) { return std::fmod(std::floor(x), 2.0f) != 0.0f; }

} // namespace

Vec3f CheckerboardTexture::sample(float u, float v) const {
    const bool odd = oddCell(u * uFrequency + uOffset) != oddCell(v * vFrequency + vOffset);
    return odd ? color2 : color1;
}

RampTexture::RampTexture(RampType type, std::vector<RampKey> keys)
    : m_type(type), m_keys(std::move(keys)) {
    // Keys are written in any order; equal positions keep theirs.
    std::stable_sort(m_keys.begin(), m_keys.end(),
                     [](const RampKey &a, const RampKey &b) { return a.position < b.position; });
}

Vec3f RampTexture::at(float p) const {
    if (m_keys.empty()) return Vec3f();
    // NaN falls to the first key too.
    if (!(p > m_keys.front().position)) return m_keys.front().color;
    if (p >= m_keys.back().position) return m_keys.back().color;
    // The last key at or before p; the one after it is strictly beyond.
    const auto next = std::upper_bound(m_keys.begin(), m_keys.end(), p,
                                       [](float x, const RampKey &k) { return x < k.position; });
    const RampKey &a = *(next - 1);
    const RampKey &b = *next;
    float f = (p - a.position) / (b.position - a.position);
    switch (a.interpolation) {
    case RampInterpolation::None:
        return a.color;
    case RampInterpolation::Smooth:
        f = f * f * (3.0f - 2.0f * f);
        break;
    case RampInterpolation::Linear:
        break;
    }
    return a.color + (b.color - a.color) * f;
}

Vec3f RampTexture::sample(float u, float v) const {
    const float du = u - 0.5f, dv = v - 0.5f;
    float p = 0.0f;
    switch (m_type) {
    case RampType::U:
        p = u;
        break;
    case RampType::V:
        p = v;
        break;
    case RampType::Diagonal:
        p = (u + v) * 0.5f;
        break;
    case RampType::Radial:
        p = std::atan2(dv, du) / kTwoPi;
        if (p < 0.0f) p += 1.0f;
        break;
    case RampType::Circular:
        p = 2.0f * std::sqrt(du * du + dv * dv);
        break;
    case RampType::Box:
        p = 2.0f * std::max(std::fabs(du), std::fabs(dv));
        break;
    }
    return at(p);
}
