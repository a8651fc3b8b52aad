#include "rendering/frame_loop.h"

#include <omp.h>

#include <cstdio>

#include "rendering/tracer.h"
#include "scene/camera.h"
#include "scene/world.h"
#include "shapes/mesh.h"

namespace {

// Traces row j into rgb.
void renderRow(const World &world, const Camera &camera, uint32_t width, uint32_t j, float *rgb) {
    for (uint32_t i = 0; i < width; ++i) {
        // Through the pixel's corner: no half-pixel offset, no jitter.
        const vmath::Ray ray = camera.generateRay(static_cast<float>(i), static_cast<float>(j));
        const Vec3f totalColor = trace(world, ray, kTraceDepth);
        float *pixel = rgb + (static_cast<size_t>(j) * width + i) * 3;
        pixel[0] = totalColor.x;
        pixel[1] = totalColor.y;
        pixel[2] = totalColor.z;
    }
}

} // namespace

void renderRows(const World &world, uint32_t width, uint32_t height, float *rgb, int threads) {
    const Camera *camera = world.getCamera();
    if (threads < 1) threads = 1;
    if (threads > kMaxRenderThreads) threads = kMaxRenderThreads;
    const uint32_t before = g_intersected;
    const uint64_t queriesBefore = g_rayQueries;
    uint32_t tests = 0; // tests of all threads, modulo 2^32 as the counter itself
    uint64_t queries = 0;
    uint32_t rowsDone = 0;
    const int64_t rows = height;

    // Rows go to threads one at a time as they become free; each pixel is
    // computed by the same code whichever thread takes it.
#pragma omp parallel num_threads(threads) reduction(+ : tests, queries)
    {
        const uint32_t mine = g_intersected; // this thread's counters
        const uint64_t myQueries = g_rayQueries;
#pragma omp for schedule(dynamic, 1) nowait
        for (int64_t j = 0; j < rows; ++j) {
            renderRow(world, *camera, width, static_cast<uint32_t>(j), rgb);
            // One progress line per finished row, in the order rows finish,
            // so the printed fraction never decreases.
#pragma omp critical(vortan_progress)
            {
                ++rowsDone;
                const float progress =
                    static_cast<float>(rowsDone) / static_cast<float>(height);
                std::printf("\r%f", static_cast<double>(progress));
                std::fflush(stdout);
            }
        }
        tests += g_intersected - mine;
        queries += g_rayQueries - myQueries;
    }
    g_intersected = before + tests;
    g_rayQueries = queriesBefore + queries;
}

void renderFrame(const World &world, uint32_t width, uint32_t height, float *rgb, float *) {
    renderRows(world, width, height, rgb, renderThreadsFromEnvironment());
}
