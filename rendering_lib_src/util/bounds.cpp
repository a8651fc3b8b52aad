#include "util/bounds.h"

#include <utility>

namespace {

// Component-wise minimum and maximum. On equal values, or when the second
// value is NaN, the first one stays.
inline float minOf(float a, float b) { return b < a ? b : a; }
inline float maxOf(float a, float b) { return a < b ? b : a; }

// Widening of the far slab distance against rounding: 1 + 2 gamma(3) with
// gamma(n) = n eps / (1 - n eps), eps = 2^-24, evaluated in double and
// rounded once to float (1.0000004f).
constexpr double kHalfEpsilon = 1.0 / 16777216.0;
constexpr double kGamma3 = 3.0 * kHalfEpsilon / (1.0 - 3.0 * kHalfEpsilon);
constexpr float kFarWidening = static_cast<float>(1.0 + 2.0 * kGamma3);
static_assert(kFarWidening == 1.0000004f, "far-distance widening must be 1.0000004f");

} // namespace

Bounds3<float>::Bounds3(const Point3f &a, const Point3f &b)
    : pMin(minOf(a.x, b.x), minOf(a.y, b.y), minOf(a.z, b.z)),
      pMax(maxOf(a.x, b.x), maxOf(a.y, b.y), maxOf(a.z, b.z)) {}

int Bounds3<float>::maximumExtent() const {
    const Vec3f d = diagonal();
    if (d.x > d.y && d.x > d.z) return 0;
    if (d.y > d.z) return 1;
    return 2;
}

float Bounds3<float>::surfaceArea() const {
    const Vec3f d = diagonal();
    return 2.0f * (d.x * d.y + d.x * d.z + d.y * d.z);
}

bool Bounds3<float>::intersectP(const vmath::Ray &ray, float *hitT0, float *hitT1) const {
    float t0 = 0.0f;
    float t1 = ray.maxDist;
    for (int i = 0; i < 3; ++i) {
        // A zero direction component gives an infinite inverse, so a ray
        // parallel to the slab and outside it gets an empty interval.
        const float inv = 1.0f / ray.direction[i];
        float tNear = (pMin[i] - ray.origin[i]) * inv;
        float tFar = (pMax[i] - ray.origin[i]) * inv;
        if (tNear > tFar) std::swap(tNear, tFar);
        tFar = tFar * kFarWidening;
        if (tNear > t0) t0 = tNear;
        if (tFar < t1) t1 = tFar;
        if (t0 > t1) return false;
    }
    if (hitT0) *hitT0 = t0;
    if (hitT1) *hitT1 = t1;
    return true;
}

Bounds3f unionOf(const Bounds3f &b1, const Bounds3f &b2) {
    const Point3f lo(minOf(b1.pMin.x, b2.pMin.x), minOf(b1.pMin.y, b2.pMin.y),
                     minOf(b1.pMin.z, b2.pMin.z));
    const Point3f hi(maxOf(b1.pMax.x, b2.pMax.x), maxOf(b1.pMax.y, b2.pMax.y),
                     maxOf(b1.pMax.z, b2.pMax.z));
    // Through the reordering constructor: the union of two empty boxes
    // therefore spans the whole float range rather than staying empty.
    return Bounds3f(lo, hi);
}

void growBy(Bounds3f &box, const Point3f &p) {
    for (int i = 0; i < 3; ++i) {
        if (p[i] < box.pMin[i]) box.pMin[i] = p[i];
        if (p[i] > box.pMax[i]) box.pMax[i] = p[i];
    }
}
