#include "rendering/frame_loop.h"

#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "rendering/sampled_frame.h"
#include "rendering/host_reporting.h"
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
    const uint64_t raysBefore = g_raysCast;
    uint64_t rays = 0;
    uint32_t rowsDone = 0;
    const int64_t rows = height;

    // Rows go to threads one at a time as they become free; each pixel is
    // computed by the same code whichever thread takes it.
#pragma omp parallel num_threads(threads) reduction(+ : tests, rays)
    {
        const uint32_t mine = g_intersected; // this thread's counters
        const uint64_t myRays = g_raysCast;
#pragma omp for schedule(dynamic, 1) nowait
        for (int64_t j = 0; j < rows; ++j) {
            renderRow(world, *camera, width, static_cast<uint32_t>(j), rgb);
            // One progress line per finished row, in the order rows finish,
            // so the printed fraction never decreases.
#pragma omp critical(vortan_progress)
            {
                ++rowsDone;
                reportRowsDone(rowsDone, height);
            }
        }
        tests += g_intersected - mine;
        rays += g_raysCast - myRays;
    }
    g_intersected = before + tests;
    g_raysCast = raysBefore + rays;
}

// A sampled frame: the region in tiles shared out among threads one at a
// time. A tile traces its own samples and those of the pixels its filter
// reaches beyond it (pixels next to a tile are traced by both tiles,
// alike); the larger the tiles, the less is traced twice. Tiles are whole
// rows, 32 tall at most, unless their samples would take more than
// kTileBudget floats; their height depends on the frame's alone (not the
// region's), so that the pixels traced twice (and the tests counted) are
// the same for every thread count, and a band of the frame rendered alone
// traces no more of its neighbours than in the whole frame.
constexpr size_t kTileBudget = size_t{8} << 20; // 32 MB a thread

void renderSampledRows(const World &world, uint32_t width, uint32_t height, float *rgb,
                       int threads) {
    const SampledFrame frame(world, width, height);
    // Outside the region the frame is black.
    std::fill(rgb, rgb + static_cast<size_t>(width) * height * 3, 0.0f);
    const int rows = frame.lastRow() - frame.firstRow() + 1;
    const int cols = frame.lastColumn() - frame.firstColumn() + 1;
    int tileH = std::max(4, std::min(32, static_cast<int>(height) / 8)), tileW = cols;
    while (tileW > 8 && frame.scratchFloats(tileW, tileH) > kTileBudget) tileW = (tileW + 1) / 2;
    while (tileH > 1 && frame.scratchFloats(tileW, tileH) > kTileBudget) tileH = (tileH + 1) / 2;
    const int64_t across = (cols + tileW - 1) / tileW;
    const int64_t tiles = ((rows + tileH - 1) / tileH) * across;
    const uint32_t before = g_intersected;
    uint32_t tests = 0;
    const uint64_t raysBefore = g_raysCast;
    uint64_t rays = 0;
    uint32_t tilesDone = 0;
#pragma omp parallel num_threads(threads) reduction(+ : tests, rays)
    {
        const uint32_t mine = g_intersected;
        const uint64_t myRays = g_raysCast;
        std::vector<float> scratch; // this thread's samples, reused tile after tile
#pragma omp for schedule(dynamic, 1) nowait
        for (int64_t t = 0; t < tiles; ++t) {
            const int r0 = frame.firstRow() + static_cast<int>(t / across) * tileH;
            const int c0 = frame.firstColumn() + static_cast<int>(t % across) * tileW;
            frame.renderTile(r0, std::min(frame.lastRow(), r0 + tileH - 1), c0,
                             std::min(frame.lastColumn(), c0 + tileW - 1), rgb, scratch);
#pragma omp critical(vortan_progress)
            {
                ++tilesDone;
                reportRowsDone(tilesDone, static_cast<uint32_t>(tiles));
            }
        }
        tests += g_intersected - mine;
        rays += g_raysCast - myRays;
    }
    g_intersected = before + tests;
    g_raysCast = raysBefore + rays;
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
