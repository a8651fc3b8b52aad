#include "shapes/box.h"

namespace {

// Position of x between a and b as a fraction; 0 on a flat side.
float fraction(float x, float a, float b) { return b > a ? (x - a) / (b - a) : 0.0f; }

} // namespace

BoxShape::BoxShape(const Transform &object2world, Material *material, const Point3f &lo,
                   const Point3f &hi)
    : PlacedShape(object2world, material), lo(lo), hi(hi) {}

std::unique_ptr<PlacedShape> BoxShape::placedCopy(const Transform &placement) const {
    return std::make_unique<BoxShape>(placement, nullptr, lo, hi);
}

bool BoxShape::objectHit(const vmath::Ray &ray, float tMax, ObjectHit *hit) const {
    // Slab test, remembering which face bounds the interval on each end.
    float tNear = -vmath::kMaxFloat, tFar = vmath::kMaxFloat;
    int nearAxis = -1, farAxis = -1;
    for (int a = 0; a < 3; ++a) {
        const float o = ray.origin[a], d = ray.direction[a];
        if (d == 0.0f) {
            // Parallel to this pair of faces: inside the slab or no hit.
            if (o < lo[a] || o > hi[a]) return false;
            continue;
        }
        float t0 = (lo[a] - o) / d, t1 = (hi[a] - o) / d;
        if (t0 > t1) {
            const float swap = t0;
            t0 = t1;
            t1 = swap;
        }
        if (t0 > tNear) {
            tNear = t0;
            nearAxis = a;
        }
        if (t1 < tFar) {
            tFar = t1;
            farAxis = a;
        }
    }
    // No axis crossed (a zero direction, or NaN in the ray): nothing to hit.
    if (nearAxis < 0 || farAxis < 0 || !(tNear <= tFar)) return false;

    // The entry face, or the exit face for a ray that starts inside.
    const bool entering = tNear >= 0.0f;
    float t;
    int axis;
    if (entering) {
        t = tNear;
        axis = nearAxis;
    } else if (tFar >= 0.0f) {
        t = tFar;
        axis = farAxis;
    } else {
        return false;
    }
    if (!(t < tMax)) return false;

    const Point3f p = ray.at(t);
    // The face is the one the ray crosses at t: on entry the one it meets
    // going against its normal, on exit the one it leaves through.
    const float d = ray.direction[axis];
    const float sign = (entering ? d < 0.0f : d > 0.0f) ? 1.0f : -1.0f;
    hit->t = t;
    hit->normal = Vec3f();
    hit->normal[axis] = sign;
    // Each face's own square of texture coordinates: the x faces run along
    // z and y, the y faces along x and z, the z faces along x and y.
    const int uAxis = axis == 0 ? 2 : 0;
    const int vAxis = axis == 1 ? 2 : 1;
    hit->u = fraction(p[uAxis], lo[uAxis], hi[uAxis]);
    hit->v = fraction(p[vAxis], lo[vAxis], hi[vAxis]);
    hit->dpdu = Vec3f();
    hit->dpdu[uAxis] = 1.0f;
    return true;
}
