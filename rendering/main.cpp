// The library's render entry and frame loop.
#include <glog/logging.h>

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "camera.h"
#include "mesh.h"
#include "render.h"
#include "report.h"
#include "tracer.h"
#include "world.h"

namespace {

// True while logging was set up by this library (and not by its host), so
// that only such a set-up is shut down again.
bool g_ownsLogging = false;

void startLogging() {
    if (!google::IsGoogleLoggingInitialized()) {
        google::InitGoogleLogging("librendering.so");
        g_ownsLogging = true;
    }
    FLAGS_logtostderr = true;
}

void stopLogging() {
    if (g_ownsLogging) {
        google::ShutdownGoogleLogging();
        g_ownsLogging = false;
    }
}

} // namespace

void renderFrame(const World &world, uint32_t width, uint32_t height, float *rgb, float *) {
    const Camera *camera = world.getCamera();
    uint32_t rowsDone = 0;
    for (uint32_t j = 0; j < height; ++j) {
        for (uint32_t i = 0; i < width; ++i) {
            // Through the pixel's corner: no half-pixel offset, no jitter.
            const vmath::Ray ray = camera->generateRay(static_cast<float>(i), static_cast<float>(j));
            const Vec3f totalColor = trace(world, ray, kTraceDepth);
            float *pixel = rgb + (static_cast<size_t>(j) * width + i) * 3;
            pixel[0] = totalColor.x;
            pixel[1] = totalColor.y;
            pixel[2] = totalColor.z;
        }
        ++rowsDone;
        const float progress = static_cast<float>(rowsDone) / static_cast<float>(height);
        std::printf("\r%f", static_cast<double>(progress));
        std::fflush(stdout);
    }
}

extern "C" RENDERING_API void renderSceneFromFile(float **rgb, float **extraPlane, World **world,
                                                  const char *sceneFile) {
    startLogging();
    g_intersected = 0;

    World *scene = readScene(sceneFile);
    if (world != nullptr) *world = scene;
    if (scene == nullptr) {
        std::fprintf(stderr, "Error reading file %s. Press enter to exit",
                     sceneFile != nullptr ? sceneFile : "(null)");
        std::getchar();
        return;
    }

    createReport("report.ma", *scene);

    Camera *camera = scene->getCamera();
    const int width = camera->getResolution()[0];
    const int height = camera->getResolution()[1];
    // The loader only accepts films whose width x height x 3 fits in 32 bits.
    const uint32_t pixels = static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
    float *frame = new float[static_cast<size_t>(pixels) * 3];
    float *extra = new float[pixels];
    if (rgb != nullptr) *rgb = frame;
    if (extraPlane != nullptr) *extraPlane = extra;

    const clock_t start = std::clock();
    renderFrame(*scene, static_cast<uint32_t>(width), static_cast<uint32_t>(height), frame, extra);
    const clock_t end = std::clock();
    const double seconds = static_cast<double>(end - start) / CLOCKS_PER_SEC;

    LOG(INFO) << "Time taken: " << seconds << "s";
    LOG(INFO) << "Triangles intersected: " << g_intersected;
    stopLogging();
}
