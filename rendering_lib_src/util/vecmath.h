// Small single-precision vector library of the renderer: vectors, points,
// rays. Points and vectors are distinct types (point - point is a vector,
// point + vector is a point). Every operation is written out in the order the
// renderer's results depend on; nothing here may be reassociated.
#pragma once

#include <cfloat>
#include <cmath>

namespace vmath {

// The largest finite float: the default maximum distance of every ray.
constexpr float kMaxFloat = 3.4028235e38f;

struct Vec3f {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    constexpr Vec3f() = default;
    constexpr Vec3f(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
    float &operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
};

struct Point3f {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    constexpr Point3f() = default;
    constexpr Point3f(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
    float &operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
};

struct Point2f {
    float x = 0.0f, y = 0.0f;
    constexpr Point2f() = default;
    constexpr Point2f(float x_, float y_) : x(x_), y(y_) {}
};

// Two-component int vector (film resolution: width, height).
struct Vec2i {
    int data[2] = {0, 0};
    constexpr Vec2i() = default;
    constexpr Vec2i(int a, int b) : data{a, b} {}
    int &operator[](int i) { return data[i]; }
    int operator[](int i) const { return data[i]; }
};

// A ray: origin, direction (any length) and maximum distance.
struct Ray {
    Point3f origin;
    Vec3f direction;
    float maxDist = kMaxFloat;
    constexpr Ray() = default;
    constexpr Ray(const Point3f &o, const Vec3f &d, float tMax = kMaxFloat)
        : origin(o), direction(d), maxDist(tMax) {}
    Point3f at(float t) const;
};

inline bool operator==(const Vec3f &a, const Vec3f &b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
inline bool operator!=(const Vec3f &a, const Vec3f &b) { return !(a == b); }
inline bool operator==(const Point3f &a, const Point3f &b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
inline bool operator!=(const Point3f &a, const Point3f &b) { return !(a == b); }
inline bool operator==(const Point2f &a, const Point2f &b) { return a.x == b.x && a.y == b.y; }

inline Vec3f operator+(const Vec3f &a, const Vec3f &b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3f operator-(const Vec3f &a, const Vec3f &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3f operator-(const Vec3f &a) { return {-a.x, -a.y, -a.z}; }
inline Vec3f operator*(const Vec3f &a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3f operator*(float s, const Vec3f &a) { return {s * a.x, s * a.y, s * a.z}; }
inline Vec3f operator/(const Vec3f &a, float s) { return {a.x / s, a.y / s, a.z / s}; }
inline Vec3f &operator+=(Vec3f &a, const Vec3f &b) { a = a + b; return a; }
inline Vec3f &operator-=(Vec3f &a, const Vec3f &b) { a = a - b; return a; }
inline Vec3f &operator*=(Vec3f &a, float s) { a = a * s; return a; }

inline Vec3f operator-(const Point3f &a, const Point3f &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Point3f operator+(const Point3f &p, const Vec3f &v) { return {p.x + v.x, p.y + v.y, p.z + v.z}; }
inline Point3f operator-(const Point3f &p, const Vec3f &v) { return {p.x - v.x, p.y - v.y, p.z - v.z}; }

// Colour product, channel by channel.
inline Vec3f mulComponents(const Vec3f &a, const Vec3f &b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }

inline float dot(const Vec3f &a, const Vec3f &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3f cross(const Vec3f &a, const Vec3f &b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float lengthSquared(const Vec3f &v) { return dot(v, v); }
inline float length(const Vec3f &v) { return std::sqrt(dot(v, v)); }

// Unit-length copy of v; a zero vector stays zero.
inline Vec3f normalized(const Vec3f &v) {
    float len = length(v);
    if (len == 0.0f) return v;
    return {v.x / len, v.y / len, v.z / len};
}
// Normalises v in place and returns its former length; a zero vector stays zero.
inline float normalize(Vec3f &v) {
    float len = length(v);
    if (len != 0.0f) v = Vec3f(v.x / len, v.y / len, v.z / len);
    return len;
}

// v mirrored about the normal n: v - 2 (v . n) n.
inline Vec3f reflect(const Vec3f &v, const Vec3f &n) { return v - n * (2.0f * dot(v, n)); }

inline Point3f Ray::at(float t) const { return origin + direction * t; }

} // namespace vmath

using vmath::Point2f;
using vmath::Point3f;
using vmath::Vec2i;
using vmath::Vec3f;
