#include "util/transform.h"

#include <cmath>
#include <utility>

Matrix4x4::Matrix4x4() {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] = (i == j) ? 1.0f : 0.0f;
}

Matrix4x4::Matrix4x4(const float values[4][4]) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] = values[i][j];
}

Matrix4x4::Matrix4x4(float t00, float t01, float t02, float t03, float t10, float t11, float t12,
                     float t13, float t20, float t21, float t22, float t23, float t30, float t31,
                     float t32, float t33) {
    m[0][0] = t00; m[0][1] = t01; m[0][2] = t02; m[0][3] = t03;
    m[1][0] = t10; m[1][1] = t11; m[1][2] = t12; m[1][3] = t13;
    m[2][0] = t20; m[2][1] = t21; m[2][2] = t22; m[2][3] = t23;
    m[3][0] = t30; m[3][1] = t31; m[3][2] = t32; m[3][3] = t33;
}

bool Matrix4x4::operator==(const Matrix4x4 &o) const {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (m[i][j] != o.m[i][j]) return false;
    return true;
}

Matrix4x4 mul(const Matrix4x4 &a, const Matrix4x4 &b) {
    Matrix4x4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
    return r;
}

Matrix4x4 inverse(const Matrix4x4 &mat) {
    int indxc[4], indxr[4];
    int ipiv[4] = {0, 0, 0, 0};
    float minv[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) minv[i][j] = mat.m[i][j];

    for (int i = 0; i < 4; ++i) {
        // Full pivot search; ">=" lets the last entry of equal magnitude win.
        int irow = 0, icol = 0;
        float big = 0.0f;
        for (int j = 0; j < 4; ++j) {
            if (ipiv[j] == 1) continue;
            for (int k = 0; k < 4; ++k) {
                if (ipiv[k] != 0) continue;
                if (std::fabs(minv[j][k]) >= big) {
                    big = std::fabs(minv[j][k]);
                    irow = j;
                    icol = k;
                }
            }
        }
        ++ipiv[icol];
        if (irow != icol)
            for (int k = 0; k < 4; ++k) std::swap(minv[irow][k], minv[icol][k]);
        indxr[i] = irow;
        indxc[i] = icol;

        // A zero pivot is not detected: the division gives infinities.
        float pivinv = 1.0f / minv[icol][icol];
        minv[icol][icol] = 1.0f;
        for (int j = 0; j < 4; ++j) minv[icol][j] *= pivinv;

        for (int j = 0; j < 4; ++j) {
            if (j == icol) continue;
            float save = minv[j][icol];
            minv[j][icol] = 0.0f;
            for (int k = 0; k < 4; ++k) minv[j][k] -= save * minv[icol][k];
        }
    }
    // Undo the column permutation.
    for (int j = 3; j >= 0; --j) {
        if (indxr[j] != indxc[j])
            for (int k = 0; k < 4; ++k) std::swap(minv[k][indxr[j]], minv[k][indxc[j]]);
    }
    return Matrix4x4(minv);
}

Point3f Transform::operator()(const Point3f &p) const {
    const float x = p.x, y = p.y, z = p.z;
    float xp = m.m[0][0] * x + m.m[0][1] * y + m.m[0][2] * z + m.m[0][3];
    float yp = m.m[1][0] * x + m.m[1][1] * y + m.m[1][2] * z + m.m[1][3];
    float zp = m.m[2][0] * x + m.m[2][1] * y + m.m[2][2] * z + m.m[2][3];
    float wp = m.m[3][0] * x + m.m[3][1] * y + m.m[3][2] * z + m.m[3][3];
    if (wp == 1.0f) return Point3f(xp, yp, zp);
    return Point3f(xp / wp, yp / wp, zp / wp);
}

Transform operator*(const Transform &a, const Transform &b) {
    return Transform(mul(a.m, b.m), mul(b.mInv, a.mInv));
}

Transform makeScale(float x, float y, float z) {
    Matrix4x4 m(x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1);
    Matrix4x4 minv(1.0f / x, 0, 0, 0, 0, 1.0f / y, 0, 0, 0, 0, 1.0f / z, 0, 0, 0, 0, 1);
    return Transform(m, minv);
}

Transform makeTranslate(const Vec3f &v) {
    Matrix4x4 m(1, 0, 0, v.x, 0, 1, 0, v.y, 0, 0, 1, v.z, 0, 0, 0, 1);
    Matrix4x4 minv(1, 0, 0, -v.x, 0, 1, 0, -v.y, 0, 0, 1, -v.z, 0, 0, 0, 1);
    return Transform(m, minv);
}

Transform makePerspective(float fov, float n, float f) {
    Matrix4x4 persp(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, f / (f - n), (-f * n) / (f - n), 0, 0, 1, 0);
    // Degrees to radians with pi/180 as the float 0.017453292.
    constexpr float kDegToRad = 0.017453292f;
    float radians = fov * kDegToRad;
    float invTan = 1.0f / std::tan(radians / 2.0f);
    return makeScale(invTan, invTan, 1.0f) * Transform(persp);
}

bool isFiniteInvertible(const Transform &t) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (!std::isfinite(t.m.m[i][j]) || !std::isfinite(t.mInv.m[i][j])) return false;
    return true;
}
