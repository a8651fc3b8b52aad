#include "scene/camera.h"

#include <cmath>

namespace {
// Near and far distances of the projection; the scene's clip values are not used.
constexpr float kNearClip = 0.01f;
constexpr float kFarClip = 1000.0f;
} // namespace

Camera::Camera(float fov) : m_cameraToScreen(makePerspective(fov, kNearClip, kFarClip)) {}

std::unique_ptr<Camera> Camera::makeOrthographic() {
    auto camera = std::make_unique<Camera>(45.0f);
    // Screen x and y are camera x and y; depth is not used by the rays.
    camera->m_cameraToScreen = Transform();
    camera->m_orthographic = true;
    return camera;
}

void Camera::setScreenWindow(const float w[4], const unsigned r[2]) {
    m_resolution = Vec2i(static_cast<int>(r[0]), static_cast<int>(r[1]));
    const float rx = static_cast<float>(r[0]);
    const float ry = static_cast<float>(r[1]);
    // Window y maximum maps to raster row 0, so the y scale is negative.
    m_screenToRaster = (makeScale(rx, ry, 1.0f) *
                        makeScale(1.0f / (w[1] - w[0]), 1.0f / (w[2] - w[3]), 1.0f)) *
                       makeTranslate(Vec3f(-w[0], -w[3], 0.0f));
    m_rasterToScreen = inverse(m_screenToRaster);
    m_rasterToCamera = inverse(m_cameraToScreen) * m_rasterToScreen;
}

vmath::Ray Camera::generateRay(float x, float y) const {
    if (m_orthographic) {
        // Every ray starts on the camera's image plane and runs along its axis.
        const Point3f onFilm = m_rasterToCamera(Point3f(x, y, 0.0f));
        const Point3f origin = m_cameraToWorld(Point3f(onFilm.x, onFilm.y, nearClip));
        const Point3f ahead = m_cameraToWorld(Point3f(onFilm.x, onFilm.y, nearClip + 1.0f));
        return vmath::Ray(origin, vmath::normalized(ahead - origin), vmath::kMaxFloat);
    }
    const Point3f cameraPosition(0.0f, 0.0f, 0.0f);
    const Point3f rasterPositionPoint(x, y, 0.0f);
    const Transform mvp = m_cameraToWorld * m_rasterToCamera;
    const Point3f cameraInWorld = m_cameraToWorld(cameraPosition);
    const Point3f pointInWorld = mvp(rasterPositionPoint);
    const Vec3f pixelDir = vmath::normalized(pointInWorld - cameraInWorld);
    if (nearClip > 0.0f) {
        // The ray starts where it crosses the near plane: the raster point's
        // camera-space position scaled out to that depth.
        const Point3f onNear = m_rasterToCamera(rasterPositionPoint);
        const float s = nearClip / onNear.z;
        const Point3f start = m_cameraToWorld(Point3f(onNear.x * s, onNear.y * s, nearClip));
        return vmath::Ray(start, pixelDir, vmath::kMaxFloat);
    }
    return vmath::Ray(cameraInWorld, pixelDir, vmath::kMaxFloat);
}

namespace {

constexpr float kTwoPi = 6.28318531f;

// A point of the unit disk (or of the regular polygon of `blades` corners
// inscribed in it, turned by `rotation` degrees), uniform by area.
void lensPoint(float u, float v, int blades, float rotation, float *x, float *y) {
    if (blades < 3) {
        const float r = std::sqrt(u), phi = kTwoPi * v;
        *x = r * std::cos(phi);
        *y = r * std::sin(phi);
        return;
    }
    // A wedge (triangle from the centre) picked by u, then a point of it.
    const float n = static_cast<float>(blades);
    float wedge = std::floor(u * n);
    if (wedge >= n) wedge = n - 1.0f;
    const float su = std::sqrt(u * n - wedge);
    const float a0 = (wedge / n) * kTwoPi + rotation * 0.017453292f;
    const float a1 = a0 + kTwoPi / n;
    const float b1 = su * (1.0f - v), b2 = su * v;
    *x = b1 * std::cos(a0) + b2 * std::cos(a1);
    *y = b1 * std::sin(a0) + b2 * std::sin(a1);
}

} // namespace

vmath::Ray Camera::generateRay(float x, float y, float lensU, float lensV) const {
    if (m_orthographic || !(apertureSize > 0.0f) || !(focusDistance > 0.0f))
        return generateRay(x, y);
    // In camera space: the pinhole ray's point at the focus depth stays in
    // focus; the ray leaves from a point of the lens toward it.
    const Point3f onNear = m_rasterToCamera(Point3f(x, y, 0.0f));
    const float s = focusDistance / onNear.z;
    const Point3f focus(onNear.x * s, onNear.y * s, focusDistance);
    float lx, ly;
    lensPoint(lensU, lensV, apertureBlades, apertureRotation, &lx, &ly);
    Point3f lens(lx * apertureSize, ly * apertureSize, 0.0f);
    Vec3f dir = focus - lens;
    if (nearClip > 0.0f) {
        // Starts on the near plane.
        const float t = nearClip / dir.z;
        lens = Point3f(lens.x + dir.x * t, lens.y + dir.y * t, nearClip);
    }
    const Point3f origin = m_cameraToWorld(lens);
    const Vec3f worldDir = vmath::normalized(m_cameraToWorld(focus) - origin);
    return vmath::Ray(origin, worldDir, vmath::kMaxFloat);
}
