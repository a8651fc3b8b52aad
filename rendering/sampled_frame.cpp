#include "rendering/sampled_frame.h"

#include <algorithm>
#include <cstddef>

#include "rendering/sampler.h"
#include "rendering/tracer.h"
#include "scene/camera.h"
#include "scene/world.h"

SampledFrame::SampledFrame(const World &world, uint32_t width, uint32_t height)
    : m_world(world), m_camera(*world.getCamera()), m_width(static_cast<int>(width)),
      m_height(static_cast<int>(height)), m_n(world.film.aaSamples < 1 ? 1 : world.film.aaSamples),
      m_filter(world.film), m_reach(m_filter.reach()) {
    const FilmSettings &f = world.film;
    m_x0 = std::max(0, f.regionMinX);
    m_y0 = std::max(0, f.regionMinY);
    m_x1 = f.regionMaxX < 0 ? m_width - 1 : std::min(m_width - 1, f.regionMaxX);
    m_y1 = f.regionMaxY < 0 ? m_height - 1 : std::min(m_height - 1, f.regionMaxY);
}

size_t SampledFrame::scratchFloats(int w, int h) const {
    // Per sample: its colour, then its weight for each column and each row
    // of pixels it can reach (from -reach to +reach around its own).
    const size_t stride = 3 + 2 * (2 * static_cast<size_t>(m_reach) + 1);
    return static_cast<size_t>(w + 2 * m_reach) * static_cast<size_t>(h + 2 * m_reach) *
           static_cast<size_t>(m_n) * static_cast<size_t>(m_n) * stride;
}

void SampledFrame::renderTile(int r0, int r1, int c0, int c1, float *rgb,
                              std::vector<float> &scratch) const {
    const int reach = m_reach, taps = 2 * reach + 1;
    const int perPixel = m_n * m_n;
    const int stride = 3 + 2 * taps;
    const int sy0 = std::max(0, r0 - reach), sy1 = std::min(m_height - 1, r1 + reach);
    const int sx0 = std::max(0, c0 - reach), sx1 = std::min(m_width - 1, c1 + reach);
    const size_t cols = static_cast<size_t>(sx1 - sx0 + 1);
    const size_t rows = static_cast<size_t>(sy1 - sy0 + 1);
    scratch.resize(rows * cols * static_cast<size_t>(perPixel) * static_cast<size_t>(stride));

    // Trace every sample of the source pixels.
    float *out = scratch.data();
    for (int l = sy0; l <= sy1; ++l) {
        for (int k = sx0; k <= sx1; ++k) {
            const uint64_t pixel = static_cast<uint64_t>(l) * static_cast<uint64_t>(m_width) +
                                   static_cast<uint64_t>(k);
            for (int s = 0; s < perPixel; ++s, out += stride) {
                Sampler sampler(pixel, static_cast<uint32_t>(s));
                float u, v;
                stratified(sampler, static_cast<uint32_t>(s), static_cast<uint32_t>(m_n), &u, &v);
                const float lensU = sampler.next(), lensV = sampler.next();
                const vmath::Ray ray = m_camera.generateRay(static_cast<float>(k) + u,
                                                            static_cast<float>(l) + v, lensU,
                                                            lensV);
                const Vec3f c = trace(m_world, ray, kTraceDepth, RayKind::Camera, &sampler);
                out[0] = c.x;
                out[1] = c.y;
                out[2] = c.z;
                // The pixel `a - reach` columns (rows) away has its centre at
                // a - reach + 0.5 from this pixel's corner.
                for (int a = 0; a < taps; ++a) {
                    const float centre = static_cast<float>(a - reach) + 0.5f;
                    out[3 + a] = m_filter.weight1d(u - centre);
                    out[3 + taps + a] = m_filter.weight1d(v - centre);
                }
            }
        }
    }

    // Gather: each pixel of the tile is the weighted mean of the samples
    // around it, summed in double in a fixed order and rounded once, so that
    // a constant colour comes out exactly.
    for (int j = r0; j <= r1; ++j) {
        for (int i = c0; i <= c1; ++i) {
            double sum[3] = {0.0, 0.0, 0.0}, weights = 0.0;
            for (int l = std::max(sy0, j - reach); l <= std::min(sy1, j + reach); ++l) {
                for (int k = std::max(sx0, i - reach); k <= std::min(sx1, i + reach); ++k) {
                    const float *sample =
                        scratch.data() +
                        ((static_cast<size_t>(l - sy0) * cols + static_cast<size_t>(k - sx0)) *
                         static_cast<size_t>(perPixel)) *
                            static_cast<size_t>(stride);
                    const int ax = i - k + reach, ay = j - l + reach;
                    for (int s = 0; s < perPixel; ++s, sample += stride) {
                        const float w = sample[3 + ax] * sample[3 + taps + ay];
                        if (w == 0.0f) continue;
                        const double wd = static_cast<double>(w);
                        weights += wd;
                        sum[0] += wd * static_cast<double>(sample[0]);
                        sum[1] += wd * static_cast<double>(sample[1]);
                        sum[2] += wd * static_cast<double>(sample[2]);
                    }
                }
            }
            float *pixel = rgb + (static_cast<size_t>(j) * static_cast<size_t>(m_width) +
                                  static_cast<size_t>(i)) *
                                     3;
            for (int c = 0; c < 3; ++c)
                pixel[c] = weights > 0.0 ? static_cast<float>(sum[c] / weights) : 0.0f;
        }
    }
}
