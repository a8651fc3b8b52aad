// The render entries of the library and the pieces they drive.
#pragma once

#include <cstdint>

#include "util/api.h"

class World;

// Renders a scene file. On success *rgb receives the width x height x 3
// float frame (row 0 at the top), *extraPlane a second per-pixel buffer and
// *world the scene; on a failed load *world is null and the other two slots
// are left as they were, and a film that cannot be had gives *world the
// scene but leaves the buffer slots as they were. The caller owns what it received: the buffers are
// new[] arrays (delete[]), and the World frees everything in it when
// deleted (its destructor is virtual, so a caller that loads the library at
// run time can delete it too). Anything the caller passes no slot for is
// freed before the call returns.
extern "C" RENDERING_API void renderSceneFromFile(float **rgb, float **extraPlane, World **world,
                                                  const char *sceneFile);

// One render as a host program asks for it, beside renderSceneFromFile: the
// settings it adds to the scene, where the ray report goes, the callbacks
// through which it hears of the render, and what the render took. The host
// zero-fills the record, sets `size` to sizeof(RenderJob) and fills what it
// needs; null callbacks leave their part as renderSceneFromFile does it.
struct RenderJob {
    uint32_t size;

    // In.
    const char *sceneFile;
    // "NODE.PARAM=VALUE" each, read as if the scene file said them (a later
    // one wins): NODE a node's name, or "options" for the options node.
    const char *const *settings;
    uint32_t settingCount;
    const char *reportFile;      // the ray report's file; null: no report
    int outputNamedByHost;       // no warning that the scene names no output file
    int waitAfterFailedLoad;     // print "Error reading file ..." and, at a terminal, wait
    int countInfoRecords;        // INFO records are not made, only counted

    // Callbacks, one call at a time, from whichever thread has the news.
    void *host;
    void (*stage)(void *host, int stage); // 0 loading, 1 building, 2 rendering, 3 finished
    void (*progress)(void *host, uint32_t rowsDone, uint32_t rows);
    // A log record instead of standard error: glog's severity (0 INFO, 1
    // WARNING, 2 ERROR), the message, and the line glog would have printed.
    void (*record)(void *host, int severity, const char *text, const char *line);
    // After loading, before the report and the render (width, height and
    // the frame are set): may change reportFile; 0 stops the render.
    int (*loaded)(void *host, struct RenderJob *job);

    // Out. The first three as the slots of renderSceneFromFile.
    float *rgb;
    float *extraPlane;
    World *world;
    int width, height;
    int hasFrame; // the options gave a frame number
    float frame;
    // The pixels rendered, inclusive bounds, set with width and height:
    // the whole frame, or the region the film settings name (black around it).
    int regionMinX, regionMinY, regionMaxX, regionMaxY;
    double loadSeconds, buildSeconds, renderSeconds; // wall times
    uint64_t rays;          // ray queries of the frame
    uint32_t triangleTests; // as logged after "Triangles intersected: "
    uint64_t infoRecordsNotMade;
};

// Renders job->sceneFile with what the job asks. 1 when the frame was
// rendered (job->rgb holds it), 0 otherwise, after reporting why. Scene
// settings of an earlier render do not carry over.
extern "C" RENDERING_API int renderSceneJob(RenderJob *job);
