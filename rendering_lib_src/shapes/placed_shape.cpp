#include "shapes/placed_shape.h"

namespace {

// The linear part of m applied to v (no translation, no division).
Vec3f applyLinear(const Matrix4x4 &m, const Vec3f &v) {
    return Vec3f(m.m[0][0] * v.x + m.m[0][1] * v.y + m.m[0][2] * v.z,
                 m.m[1][0] * v.x + m.m[1][1] * v.y + m.m[1][2] * v.z,
                 m.m[2][0] * v.x + m.m[2][1] * v.y + m.m[2][2] * v.z);
}

// m applied to the point p; the matrices of shapes are affine.
Point3f applyAffine(const Matrix4x4 &m, const Point3f &p) {
    return Point3f(m.m[0][0] * p.x + m.m[0][1] * p.y + m.m[0][2] * p.z + m.m[0][3],
                   m.m[1][0] * p.x + m.m[1][1] * p.y + m.m[1][2] * p.z + m.m[1][3],
                   m.m[2][0] * p.x + m.m[2][1] * p.y + m.m[2][2] * p.z + m.m[2][3]);
}

// Normals go through the transpose of the inverse, so that they stay
// perpendicular to the surface under non-uniform scale and shear.
Vec3f applyInverseTranspose(const Matrix4x4 &inv, const Vec3f &n) {
    return Vec3f(inv.m[0][0] * n.x + inv.m[1][0] * n.y + inv.m[2][0] * n.z,
                 inv.m[0][1] * n.x + inv.m[1][1] * n.y + inv.m[2][1] * n.z,
                 inv.m[0][2] * n.x + inv.m[1][2] * n.y + inv.m[2][2] * n.z);
}

} // namespace

bool PlacedShape::anyHit(const vmath::Ray &ray) const {
    float t = ray.maxDist;
    return hitDistance(ray, &t);
}

bool PlacedShape::hitDistance(const vmath::Ray &ray, float *t) const {
    IntersectInfo scratch;
    return intersect(ray, t, &scratch);
}

bool PlacedShape::intersect(const vmath::Ray &ray, float *t, IntersectInfo *info) const {
    const vmath::Ray local(applyAffine(object2world.mInv, ray.origin),
                           applyLinear(object2world.mInv, ray.direction), ray.maxDist);
    ObjectHit hit;
    if (!objectHit(local, *t, &hit)) return false;

    *t = hit.t;
    info->material = material;
    // The world point from the world ray: no round trip through the matrix.
    info->position = ray.origin + ray.direction * hit.t;
    info->normal = vmath::normalized(applyInverseTranspose(object2world.mInv, hit.normal));
    info->tangent = applyLinear(object2world.m, hit.dpdu);
    info->u = hit.u;
    info->v = hit.v;
    info->id = id;
    return true;
}

Bounds3f PlacedShape::worldBounds() const {
    const Bounds3f box = objectBounds();
    Bounds3f world;
    for (int corner = 0; corner < 8; ++corner) {
        const Point3f p((corner & 1) ? box.pMax.x : box.pMin.x,
                        (corner & 2) ? box.pMax.y : box.pMin.y,
                        (corner & 4) ? box.pMax.z : box.pMin.z);
        growBy(world, applyAffine(object2world.m, p));
    }
    return world;
}

void PlacedShape::axisRange(float *lo, float *hi, int axis) const {
    const Bounds3f box = worldBounds();
    *lo = box.pMin[axis];
    *hi = box.pMax[axis];
}
