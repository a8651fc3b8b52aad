// Perspective or orthographic camera: turns a raster position (pixels, origin at the top-left
// of the film, y down) into a world-space primary ray. Camera space looks
// along +z with y up.
#pragma once

#include <memory>
#include <string>

#include "util/transform.h"
#include "util/vecmath.h"

class Camera {
public:
    explicit Camera(float fov);
    // An orthographic camera: parallel rays along +z in camera space; the
    // screen window is its visible extent in camera-space units.
    static std::unique_ptr<Camera> makeOrthographic();
    bool isOrthographic() const { return m_orthographic; }

    void setName(const std::string &name) { m_name = name; }
    const std::string &getName() const { return m_name; }
    void setCam2World(const Transform &t) { m_cameraToWorld = t; }
    void setOutputFileName(const std::string &name) { m_outputFileName = name; }
    const std::string &getOutputFileName() const { return m_outputFileName; }

    // screenWindow: x minimum, x maximum, y minimum, y maximum;
    // resolution: width, height in pixels.
    void setScreenWindow(const float screenWindow[4], const unsigned resolution[2]);

    // Film resolution (width, height). Virtual so that a program holding a
    // camera from the library can ask without linking the library; defined
    // here so that the class has no key function and such a program also
    // gets the class's type information without linking the library (the
    // sanitizer's dynamic type checks need it).
    virtual Vec2i getResolution() { return m_resolution; }
    virtual ~Camera() = default;

    // The primary ray through raster position (x, y): unit direction,
    // maximum distance the largest float.
    vmath::Ray generateRay(float x, float y) const;
    // The same through the point (lensU, lensV) in [0, 1)^2 of the lens: a
    // perspective camera with an aperture focuses at focusDistance; without
    // one (and for an orthographic camera) the lens numbers are not used.
    vmath::Ray generateRay(float x, float y, float lensU, float lensV) const;

    std::string m_name;
    Transform m_cameraToWorld;
    Transform m_rasterToCamera;
    Transform m_cameraToScreen;
    Transform m_screenToRaster;
    Transform m_rasterToScreen;
    Vec2i m_resolution;
    std::string m_outputFileName;
    // Orthographic cameras: the visible extent given in the file
    // (screen_window_min, screen_window_max), camera-space units.
    Point2f windowMin{-1.0f, -1.0f};
    Point2f windowMax{1.0f, 1.0f};
    // False when the node's matrix or field of view cannot give rays; such a
    // camera is never rendered through.
    bool usable = true;
    // Camera-space depth before which nothing is hit (0: from the eye); the
    // primary rays start on that plane.
    float nearClip = 0.0f;
    // Depth of field: the lens radius (0: a pinhole), the camera-space depth
    // in focus, the aperture's blades (below 3: round) and their rotation in
    // degrees.
    float apertureSize = 0.0f;
    float focusDistance = 1.0f;
    int apertureBlades = 0;
    float apertureRotation = 0.0f;
    // Shutter interval (in the scene's motion time) the picture shows.
    float shutterStart = 0.0f, shutterEnd = 1.0f;
    bool shutterGiven = false;

private:
    bool m_orthographic = false;
};
