// The frame loop: rows (or bands of rows) shared out among render threads.
// The only part of the renderer that knows about threads.
#pragma once

#include <cstdint>

#include "util/render_threads.h"

class World;

// The frame, traced to depth 2 and written to rgb (width x height x 3
// floats, row 0 at the top) by `threads` threads: under the classic
// conventions one primary ray per pixel corner; under the format's the
// world's film settings (samples, filter, region; outside the region black).
// The picture does not depend on the thread count. Reports the share done
// after every finished row (or tile), never decreasing (reportRowsDone:
// "\r%f" unless the host takes it). The ray/triangle tests and the ray
// queries of all threads are added to the caller's g_intersected and
// g_raysCast.
void renderRows(const World &world, uint32_t width, uint32_t height, float *rgb, int threads);

// renderRows on the number of render threads VORTAN_THREADS asks for (every
// hardware thread by default). The second buffer is not written.
void renderFrame(const World &world, uint32_t width, uint32_t height, float *rgb,
                 float *extraPlane);
