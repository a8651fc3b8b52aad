// The library's render entry: logging, loading, report, buffers, timing.
#include "rendering/render.h"

#include <glog/logging.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <new>

#include "rendering/frame_loop.h"
#include "rendering/read_scene.h"
#include "rendering/report.h"
#include "scene/camera.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "util/error.h"

namespace {

// The terminate handler in place before the load's own.
std::terminate_handler g_previousTerminate = nullptr;

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

// While a scene loads, the log gets one record per triangle. Two costs of
// those records are avoidable: the C library checks the time-zone file for
// every timestamp when TZ is unset, and the unbuffered standard error makes
// one write call per record. For the duration of the load TZ names the
// default zone file explicitly (the same zone, checked once) and standard
// error is fully buffered; the previous state is restored afterwards, and
// the records come out in the same order, only in larger blocks.
//
// A fatal record (a failed internal check) ends the process without
// flushing: the sink below, which glog calls after writing each record and
// before it aborts, pushes out what the buffer holds, that record included.
// An exception that cannot be caught (one leaving a parallel region) ends
// it through the terminate handler, which flushes first as well.
class LoadLogBuffering {
public:
    LoadLogBuffering() {
        std::fflush(stderr);
        google::AddLogSink(&m_flushOnFatal);
        g_previousTerminate = std::set_terminate(flushAndTerminate);
        m_lineBuffered = __flbf(stderr) != 0;
        m_buffered = std::setvbuf(stderr, m_buffer, _IOFBF, sizeof m_buffer) == 0;
        if (std::getenv("TZ") == nullptr) {
            m_setZone = setenv("TZ", ":/etc/localtime", 1) == 0;
            if (m_setZone) tzset();
        }
    }
    ~LoadLogBuffering() {
        std::set_terminate(g_previousTerminate);
        google::RemoveLogSink(&m_flushOnFatal);
        std::fflush(stderr);
        if (m_buffered) std::setvbuf(stderr, nullptr, m_lineBuffered ? _IOLBF : _IONBF, 0);
        if (m_setZone) {
            unsetenv("TZ");
            tzset();
        }
    }
    LoadLogBuffering(const LoadLogBuffering &) = delete;
    LoadLogBuffering &operator=(const LoadLogBuffering &) = delete;

private:
    class FlushOnFatal : public google::LogSink {
    public:
        using google::LogSink::send;
        void send(google::LogSeverity severity, const char *, const char *, int,
                  const google::LogMessageTime &, const char *, size_t) override {
            if (severity == google::GLOG_FATAL) std::fflush(stderr);
        }
    };

    // Flushes, then lets the handler it replaced say what was thrown.
    [[noreturn]] static void flushAndTerminate() {
        std::fflush(stderr);
        if (g_previousTerminate != nullptr) g_previousTerminate();
        std::abort();
    }

    FlushOnFatal m_flushOnFatal;
    char m_buffer[1 << 16];
    bool m_buffered = false;
    bool m_lineBuffered = false; // how the host had it; unbuffered by default
    bool m_setZone = false;
};

} // namespace

namespace {

void renderScene(float **rgb, float **extraPlane, World **world, const char *sceneFile) {
    startLogging();
    g_intersected = 0;

    World *scene = nullptr;
    {
        LoadLogBuffering buffering;
        scene = readScene(sceneFile);
    }
    // The caller owns the scene from here; one that takes none gets it
    // freed when the render is over.
    std::unique_ptr<World> unclaimed(scene);
    if (world != nullptr) *world = unclaimed.release();
    if (scene == nullptr) {
        std::fprintf(stderr, "Error reading file %s. Press enter to exit",
                     sceneFile != nullptr ? sceneFile : "(null)");
        // Only someone at a terminal can press enter; a pipe or a file as
        // input could keep the caller waiting for good.
        if (isatty(STDIN_FILENO)) std::getchar();
        return;
    }

    Camera *camera = scene->getCamera();
    const int width = camera->getResolution()[0];
    const int height = camera->getResolution()[1];
    // The loader only accepts films whose width x height x 3 fits in 32 bits.
    // The buffers are had before anything is written: a film that does not
    // fit in memory is refused with its size, and nothing is rendered.
    // The system may promise more memory than it has, so a film larger than
    // the machine's memory is refused as well, rather than run out of
    // memory part way through the render.
    const uint32_t pixels = static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
    const double filmBytes = static_cast<double>(pixels) * 4.0 * sizeof(float);
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    const bool fits = pages <= 0 || pageSize <= 0 ||
                      filmBytes <= static_cast<double>(pages) * static_cast<double>(pageSize);
    std::unique_ptr<float[]> frame(
        fits ? new (std::nothrow) float[static_cast<size_t>(pixels) * 3] : nullptr);
    std::unique_ptr<float[]> extra(frame != nullptr ? new (std::nothrow) float[pixels] : nullptr);
    if (extra == nullptr) {
        Error("Cannot allocate the film of %d x %d pixels (%.2f GB)", width, height,
              filmBytes / 1e9);
        return;
    }

    createReport("report.ma", *scene);
    float *frameOut = frame.get();
    float *extraOut = extra.get();
    // Handed to the caller; a caller that takes no buffer still gets the
    // render it asked for, into buffers freed afterwards.
    if (rgb != nullptr) *rgb = frame.release();
    if (extraPlane != nullptr) *extraPlane = extra.release();

    // Elapsed wall time: with several render threads, processor time would
    // overstate it.
    const auto start = std::chrono::steady_clock::now();
    renderFrame(*scene, static_cast<uint32_t>(width), static_cast<uint32_t>(height), frameOut,
                extraOut);
    const auto end = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(end - start).count();

    INFO_LOG << "Time taken: " << seconds << "s";
    INFO_LOG << "Triangles intersected: " << g_intersected;
    stopLogging();
}

} // namespace

extern "C" RENDERING_API void renderSceneFromFile(float **rgb, float **extraPlane, World **world,
                                                  const char *sceneFile) {
    // No exception leaves the library: running out of memory while loading
    // is reported, and the caller gets no frame.
    try {
        renderScene(rgb, extraPlane, world, sceneFile);
    } catch (const std::bad_alloc &) {
        Error("Out of memory rendering %s", sceneFile != nullptr ? sceneFile : "(null)");
    } catch (...) {
        Error("Rendering %s failed", sceneFile != nullptr ? sceneFile : "(null)");
    }
}
