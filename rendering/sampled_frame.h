// A sampled frame, tile by tile: the camera samples of a tile's pixels,
// and of the pixels around it that its filter reaches, are traced, then
// gathered into the tile's pixels in a fixed order (source
// pixel by source pixel, sample by sample). A pixel's value therefore does
// not depend on the tiles, the threads or the region rendered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rendering/film.h"

class Camera;
class World;

class SampledFrame {
public:
    // The frame the world's film settings ask for: its samples, filter and
    // region (clamped to width x height).
    SampledFrame(const World &world, uint32_t width, uint32_t height);

    // The region's rows and columns, inclusive.
    int firstRow() const { return m_y0; }
    int lastRow() const { return m_y1; }
    int firstColumn() const { return m_x0; }
    int lastColumn() const { return m_x1; }

    // Floats of scratch a tile of w x h pixels needs.
    size_t scratchFloats(int w, int h) const;
    // Renders rows r0..r1 and columns c0..c1 (inclusive, within the region)
    // into rgb (the whole frame, row 0 at the top). `scratch` holds the
    // tile's samples; it grows as needed and is reused.
    void renderTile(int r0, int r1, int c0, int c1, float *rgb, std::vector<float> &scratch) const;

private:
    const World &m_world;
    const Camera &m_camera;
    int m_width, m_height;
    int m_n;      // samples per pixel along each axis
    PixelFilter m_filter;
    int m_reach;  // pixels a sample reaches beyond its own
    int m_x0, m_y0, m_x1, m_y1;
};
