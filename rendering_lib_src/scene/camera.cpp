#include "scene/camera.h"

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
        const Point3f origin = m_cameraToWorld(Point3f(onFilm.x, onFilm.y, 0.0f));
        const Point3f ahead = m_cameraToWorld(Point3f(onFilm.x, onFilm.y, 1.0f));
        return vmath::Ray(origin, vmath::normalized(ahead - origin), vmath::kMaxFloat);
    }
    const Point3f cameraPosition(0.0f, 0.0f, 0.0f);
    const Point3f rasterPositionPoint(x, y, 0.0f);
    const Transform mvp = m_cameraToWorld * m_rasterToCamera;
    const Point3f cameraInWorld = m_cameraToWorld(cameraPosition);
    const Point3f pointInWorld = mvp(rasterPositionPoint);
    const Vec3f pixelDir = vmath::normalized(pointInWorld - cameraInWorld);
    return vmath::Ray(cameraInWorld, pixelDir, vmath::kMaxFloat);
}
