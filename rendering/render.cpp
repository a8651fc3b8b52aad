// The library's render entry: logging, loading, report, buffers, timing.
#include "rendering/render.h"

#include <glog/logging.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <new>

#include "parsers/scene_nodes.h"
#include "parsers/scene_overrides.h"
#include "rendering/frame_loop.h"
#include "rendering/host_reporting.h"
#include "rendering/read_scene.h"
#include "rendering/report.h"
#include "scene/camera.h"
#include "scene/world.h"
#include "shapes/mesh.h"
#include "util/error.h"
#include "util/info_records.h"

namespace {

// The terminate handler in place before the load's own.
std::terminate_handler g_previousTerminate = nullptr;

// True while logging was set up by this library (and not by its host), so
// that only such a set-up is shut down again.
bool g_ownsLogging = false;

void startLogging(HostReporting *reporting) {
    if (!google::IsGoogleLoggingInitialized()) {
        google::InitGoogleLogging("librendering.so");
        g_ownsLogging = true;
    }
    FLAGS_logtostderr = true;
    if (reporting != nullptr) reporting->takeLogRecords();
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
// the records come out in the same order, only in larger blocks. When the
// library set logging up itself (so that glog has its plain form and no
// sink), the per-triangle records are written directly in glog's bytes.
// (When the host takes the records, standard error is left alone: what the
// host prints there shows at once.)
//
// A fatal record (a failed internal check) ends the process without
// flushing: the sink below, which glog calls after writing each record and
// before it aborts, pushes out what the buffer holds, that record included.
// An exception that cannot be caught (one leaving a parallel region) ends
// it through the terminate handler, which flushes first as well.
class LoadLogBuffering {
public:
    explicit LoadLogBuffering(bool bufferStderr) {
        std::fflush(stderr);
        google::AddLogSink(&m_flushOnFatal);
        g_previousTerminate = std::set_terminate(flushAndTerminate);
        m_lineBuffered = __flbf(stderr) != 0;
        m_buffered =
            bufferStderr && std::setvbuf(stderr, m_buffer, _IOFBF, sizeof m_buffer) == 0;
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
    std::unique_ptr<DirectInfoRecords> m_direct =
        g_ownsLogging ? std::make_unique<DirectInfoRecords>() : nullptr;
};

} // namespace

namespace {

// What one render asks beyond its scene file; the defaults are those of
// renderSceneFromFile.
struct RenderRequest {
    const char *const *settings = nullptr;
    uint32_t settingCount = 0;
    bool outputNamedByHost = false;
    bool waitAfterFailedLoad = true;
    RenderJob *job = nullptr; // the host's record, filled as the render goes
};

// True when the frame was rendered into the slots.
bool renderScene(float **rgb, float **extraPlane, World **world, const char *sceneFile,
                 const RenderRequest &request, HostReporting *reporting) {
    startLogging(reporting);
    g_intersected = 0;
    g_raysCast = 0;
    RenderJob *job = request.job;

    SceneOverrides overrides;
    for (uint32_t i = 0; i < request.settingCount; ++i)
        if (!overrides.add(request.settings[i])) {
            reportStage(RenderStage::Finished);
            return false;
        }
    LoadRequest load;
    load.overrides = overrides.empty() ? nullptr : &overrides;
    load.outputNamedByHost = request.outputNamedByHost;

    World *scene = nullptr;
    ReadSceneTimes times;
    {
        LoadLogBuffering buffering(!hostTakesLogRecords());
        scene = readScene(sceneFile, load, &times);
    }
    if (job != nullptr) {
        job->loadSeconds = times.load;
        job->buildSeconds = times.build;
    }
    // The caller owns the scene from here; one that takes none gets it
    // freed when the render is over.
    std::unique_ptr<World> unclaimed(scene);
    if (world != nullptr) *world = unclaimed.release();
    if (scene == nullptr) {
        reportStage(RenderStage::Finished);
        if (!request.waitAfterFailedLoad) return false;
        std::fprintf(stderr, "Error reading file %s. Press enter to exit",
                     sceneFile != nullptr ? sceneFile : "(null)");
        // Only someone at a terminal can press enter; a pipe or a file as
        // input could keep the caller waiting for good.
        if (isatty(STDIN_FILENO)) std::getchar();
        return false;
    }

    Camera *camera = scene->getCamera();
    const int width = camera->getResolution()[0];
    const int height = camera->getResolution()[1];
    if (job != nullptr) {
        const SceneFileSettings &settings = sceneFileSettings();
        job->width = width;
        job->height = height;
        job->hasFrame = settings.hasFrame ? 1 : 0;
        job->frame = settings.frame;
        // A negative bound (a classic film, which has no region) is the edge.
        const FilmSettings &film = scene->film;
        job->regionMinX = std::max(0, film.regionMinX);
        job->regionMinY = std::max(0, film.regionMinY);
        job->regionMaxX = film.regionMaxX < 0 ? width - 1 : film.regionMaxX;
        job->regionMaxY = film.regionMaxY < 0 ? height - 1 : film.regionMaxY;
        if (job->loaded != nullptr && job->loaded(job->host, job) == 0) {
            reportStage(RenderStage::Finished);
            return false;
        }
    }
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
        reportStage(RenderStage::Finished);
        return false;
    }

    // The host may have moved the report when the scene had loaded.
    const char *reportFile = job != nullptr ? job->reportFile : "report.ma";
    if (reportFile != nullptr) createReport(reportFile, *scene);
    float *frameOut = frame.get();
    float *extraOut = extra.get();
    // Handed to the caller; a caller that takes no buffer still gets the
    // render it asked for, into buffers freed afterwards.
    if (rgb != nullptr) *rgb = frame.release();
    if (extraPlane != nullptr) *extraPlane = extra.release();

    reportStage(RenderStage::Rendering);
    // Elapsed wall time: with several render threads, processor time would
    // overstate it.
    // A BVH still building in the background (beside the report) is
    // finished before the clock starts.
    if (scene->accelerator != nullptr) scene->accelerator->waitForBuild();
    const auto start = std::chrono::steady_clock::now();
    renderFrame(*scene, static_cast<uint32_t>(width), static_cast<uint32_t>(height), frameOut,
                extraOut);
    const auto end = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(end - start).count();
    reportStage(RenderStage::Finished);

    INFO_LOG << "Time taken: " << seconds << "s";
    // Embree tests triangles inside its own library, uncounted: what is
    // counted there is the ray queries it answered.
    if (scene->accelerator != nullptr && !scene->accelerator->countsTriangleTests())
        INFO_LOG << "Ray queries answered by Embree: " << g_raysCast;
    else
        INFO_LOG << "Triangles intersected: " << g_intersected;
    if (job != nullptr) {
        job->renderSeconds = seconds;
        job->rays = g_raysCast;
        job->triangleTests = g_intersected;
    }
    stopLogging();
    return true;
}

const char *printable(const char *path) { return path != nullptr ? path : "(null)"; }

} // namespace

extern "C" RENDERING_API void renderSceneFromFile(float **rgb, float **extraPlane, World **world,
                                                  const char *sceneFile) {
    // No exception leaves the library: running out of memory while loading
    // is reported, and the caller gets no frame.
    try {
        renderScene(rgb, extraPlane, world, sceneFile, RenderRequest(), nullptr);
    } catch (const std::bad_alloc &) {
        Error("Out of memory rendering %s", printable(sceneFile));
    } catch (...) {
        Error("Rendering %s failed", printable(sceneFile));
    }
}

extern "C" RENDERING_API int renderSceneJob(RenderJob *job) {
    if (job == nullptr) return 0;
    if (job->size < sizeof(RenderJob)) {
        Error("renderSceneJob: the record holds %u bytes, a RenderJob %zu", job->size,
              sizeof(RenderJob));
        return 0;
    }
    job->rgb = job->extraPlane = nullptr;
    job->world = nullptr;
    job->width = job->height = job->hasFrame = 0;
    job->frame = 0.0f;
    job->regionMinX = job->regionMinY = job->regionMaxX = job->regionMaxY = 0;
    job->loadSeconds = job->buildSeconds = job->renderSeconds = 0.0;
    job->rays = job->infoRecordsNotMade = 0;
    job->triangleTests = 0;

    HostCallbacks callbacks;
    callbacks.host = job->host;
    callbacks.stage = job->stage;
    callbacks.progress = job->progress;
    callbacks.record = job->record;
    callbacks.countInfoRecords = job->countInfoRecords != 0;
    HostReporting reporting(callbacks);
    // Every scene starts from the start-up settings, and its messages are
    // not taken for repeats of the last scene's.
    resetSceneFileSettings();
    resetRepeatSuppression();

    RenderRequest request;
    request.settings = job->settings;
    request.settingCount = job->settings != nullptr ? job->settingCount : 0;
    request.outputNamedByHost = job->outputNamedByHost != 0;
    request.waitAfterFailedLoad = job->waitAfterFailedLoad != 0;
    request.job = job;
    bool rendered = false;
    // As in renderSceneFromFile, no exception leaves the library.
    try {
        rendered = renderScene(&job->rgb, &job->extraPlane, &job->world, job->sceneFile, request,
                               &reporting);
    } catch (const std::bad_alloc &) {
        Error("Out of memory rendering %s", printable(job->sceneFile));
    } catch (...) {
        Error("Rendering %s failed", printable(job->sceneFile));
    }
    job->infoRecordsNotMade = reporting.infoRecordsNotMade();
    return rendered ? 1 : 0;
}
