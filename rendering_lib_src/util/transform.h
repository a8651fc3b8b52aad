// 4x4 matrices and transforms (a matrix together with its inverse). Points
// are column vectors (p' = M p); the translation sits in the fourth column.
#pragma once

#include "util/vecmath.h"

struct Matrix4x4 {
    float m[4][4];

    // The identity.
    Matrix4x4();
    // Sixteen values in row order.
    explicit Matrix4x4(const float values[4][4]);
    Matrix4x4(float t00, float t01, float t02, float t03, float t10, float t11, float t12, float t13,
              float t20, float t21, float t22, float t23, float t30, float t31, float t32, float t33);

    bool operator==(const Matrix4x4 &o) const;
    bool operator!=(const Matrix4x4 &o) const { return !(*this == o); }
};

// (A . B)[i][j] = A[i][0] B[0][j] + ... + A[i][3] B[3][j], summed in that order.
Matrix4x4 mul(const Matrix4x4 &a, const Matrix4x4 &b);
// Gauss-Jordan inversion with full pivoting. A singular matrix is not
// detected: its zero pivot yields infinite or NaN entries.
Matrix4x4 inverse(const Matrix4x4 &mat);

class Transform {
public:
    Matrix4x4 m;    // forward matrix
    Matrix4x4 mInv; // its inverse

    Transform() = default;
    explicit Transform(const Matrix4x4 &mat) : m(mat), mInv(inverse(mat)) {}
    explicit Transform(const float mat[4][4]) : Transform(Matrix4x4(mat)) {}
    // Both matrices taken as given, no check.
    Transform(const Matrix4x4 &mat, const Matrix4x4 &matInv) : m(mat), mInv(matInv) {}

    // Applies the forward matrix to a point; divides by w only when w != 1.
    Point3f operator()(const Point3f &p) const;

    bool operator==(const Transform &o) const { return m == o.m && mInv == o.mInv; }
};

// True when the matrix and its inverse hold only finite numbers: false for
// a matrix with NaN or infinity and for a singular one (whose inverse the
// elimination fills with infinities or NaN).
bool isFiniteInvertible(const Transform &t);

// The two matrices swapped, no arithmetic.
inline Transform inverse(const Transform &t) { return Transform(t.mInv, t.m); }
// The transform that applies b first, then a.
Transform operator*(const Transform &a, const Transform &b);

Transform makeScale(float x, float y, float z);
Transform makeTranslate(const Vec3f &v);
// Perspective projection; fov in degrees, n and f the near and far distances.
Transform makePerspective(float fov, float n, float f);
