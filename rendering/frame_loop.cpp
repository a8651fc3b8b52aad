#include "rendering/frame_loop.h"

#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "rendering/sampled_frame.h"
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

// The classic frame: one ray through each pixel's corner, rows shared out
// among threads one at a time.
void renderClassicRows(const World &world, uint32_t width, uint32_t height, float *rgb,
                       int threads) {
    const Camera *camera = world.getCamera();
    const uint32_t before = g_intersected;
    uint32_t tests = 0; // tests of all threads, modulo 2^32 as the counter itself
    uint32_t rowsDone = 0;
    const int64_t rows = height;

    // Rows go to threads one at a time as they become free; each pixel is
    // computed by the same code whichever thread takes it.
#pragma omp parallel num_threads(threads) reduction(+ : tests)
    {
        const uint32_t mine = g_intersected; // this thread's counter
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
    }
    g_intersected = before + tests;
}

// A sampled frame: the region's rows in bands shared out among threads one
// at a time. A band traces its own samples and those of the rows its
// filter reaches beyond it (rows next to a band are traced by both bands,
// alike); the taller the bands, the less is traced twice, the fewer bands
// there are to share out.
void renderSampledRows(const World &world, uint32_t width, uint32_t height, float *rgb,
                       int threads) {
    const SampledFrame frame(world, width, height);
    // Outside the region the frame is black.
    std::fill(rgb, rgb + static_cast<size_t>(width) * height * 3, 0.0f);
    const int rows = frame.lastRow() - frame.firstRow() + 1;
    // The band height depends on the frame alone, so that the rows traced
    // twice (and the tests counted) are the same for every thread count.
    const int band = std::max(4, std::min(32, rows / 8));
    const int64_t bands = (rows + band - 1) / band;
    const uint32_t before = g_intersected;
    uint32_t tests = 0;
    int rowsDone = 0;
#pragma omp parallel num_threads(threads) reduction(+ : tests)
    {
        const uint32_t mine = g_intersected;
        std::vector<float> scratch; // this thread's samples, reused band after band
#pragma omp for schedule(dynamic, 1) nowait
        for (int64_t b = 0; b < bands; ++b) {
            const int r0 = frame.firstRow() + static_cast<int>(b) * band;
            const int r1 = std::min(frame.lastRow(), r0 + band - 1);
            frame.renderBand(r0, r1, rgb, scratch);
#pragma omp critical(vortan_progress)
            {
                rowsDone += r1 - r0 + 1;
                const float progress = static_cast<float>(rowsDone) / static_cast<float>(rows);
                std::printf("\r%f", static_cast<double>(progress));
                std::fflush(stdout);
            }
        }
        tests += g_intersected - mine;
    }
    g_intersected = before + tests;
}

} // namespace

void renderRows(const World &world, uint32_t width, uint32_t height, float *rgb, int threads) {
    if (threads < 1) threads = 1;
    if (threads > kMaxRenderThreads) threads = kMaxRenderThreads;
    if (world.classic())
        renderClassicRows(world, width, height, rgb, threads);
    else
        renderSampledRows(world, width, height, rgb, threads);
}

void renderFrame(const World &world, uint32_t width, uint32_t height, float *rgb, float *) {
    renderRows(world, width, height, rgb, renderThreadsFromEnvironment());
}
