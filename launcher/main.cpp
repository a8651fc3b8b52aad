// vortan: renders scene files to pictures ("image.tga" in the working
// directory for a lone scene unless -o names another), one after the other
// in one process. The renderer is the shared library
// librendering.so, loaded at run time (see loadLibrary).
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "launcher/image_output.h"
#include "launcher/options.h"
#include "launcher/outputs.h"
#include "launcher/summary.h"
#include "launcher/terminal.h"
#include "launcher/tile_merge.h"
#include "rendering/render.h"
#include "scene/world.h"

#if defined(__SANITIZE_ADDRESS__)
// A sanitizer build of the program: the leak check at exit walks the
// thread-local storage of the library's render threads, which the
// sanitizer's interception of dynamic TLS lookups gets wrong for a library
// loaded with dlopen (the check then dies instead of reporting). Without
// the interception the check runs and finds nothing of ours.
extern "C" const char *__asan_default_options() { return "intercept_tls_get_addr=0"; }
#endif

namespace {

using RenderSceneFn = void (*)(float **rgb, float **extraPlane, World **world,
                               const char *sceneFile);
using WriteImgFn = int (*)(const char *fileName, float *rgb, void *extraPlane, int width,
                           int height, int fullWidth, int fullHeight, int xOffset, int yOffset);
using RenderJobFn = int (*)(RenderJob *job);

const char kLibraryName[] = "librendering.so";

// Directory of the running program: /proc/self/exe, else the directory part
// of argv[0] (empty when it has none).
std::string programDirectory(const char *argv0) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string exe;
    if (n > 0) {
        path[n] = '\0';
        exe = path;
    } else if (argv0 != nullptr) {
        exe = argv0;
    }
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

// Beside the program (a build tree), then in the lib directory beside the
// program's (an installed tree; named here as well as in the run path, which
// some instrumented builds do not search), then wherever the loader looks.
void *loadLibrary(const char *argv0) {
    const std::string dir = programDirectory(argv0);
    void *lib = dlopen((dir + "/" + kLibraryName).c_str(), RTLD_NOW);
    if (lib == nullptr) lib = dlopen((dir + "/../lib/" + kLibraryName).c_str(), RTLD_NOW);
    if (lib == nullptr) lib = dlopen(kLibraryName, RTLD_NOW);
    return lib;
}

// Writes the frame in the chosen format: TGA and PFM by the library's
// writer, PNG and EXR here. An EXR file holds `window` alone when given
// (the other formats hold the whole frame, black outside it).
bool writePicture(OutputFormat format, const std::string &name, WriteImgFn writeImg, float *rgb,
                  float *extraPlane, int width, int height, const PixelWindow *window = nullptr) {
    std::string error;
    switch (format) {
    case OutputFormat::Tga:
    case OutputFormat::Pfm:
        return writeImg(name.c_str(), rgb, extraPlane, width, height, width, height, 0, 0) != 0;
    case OutputFormat::Png:
        if (writePng(name, rgb, width, height, &error)) return true;
        break;
    case OutputFormat::Exr:
        if (writeExr(name, rgb, width, height, &error, window)) return true;
        break;
    }
    std::fprintf(stderr, "Unable to write image \"%s\": %s\n", name.c_str(), error.c_str());
    return false;
}

// Who reads what the program prints on standard error.
enum class Audience {
    Plain,    // a file, a pipe, or the classic conventions: the log and the
              // progress figures as they always were
    Quiet,    // -q: warnings and errors only
    Terminal, // a person: the TerminalView, and a summary at the end
};

// One scene's render as the library's callbacks see it.
struct SceneRun {
    TerminalView *view = nullptr; // at a terminal
    std::string picture, report;  // the plan's names, frame numbers filled in once known
    std::string failure;          // why the program stopped the render
};

void ignoreProgress(void *, uint32_t, uint32_t) {}
void runStage(void *host, int stage) {
    TerminalView::onStage(static_cast<SceneRun *>(host)->view, stage);
}
void runProgress(void *host, uint32_t done, uint32_t total) {
    TerminalView::onProgress(static_cast<SceneRun *>(host)->view, done, total);
}
void runRecord(void *host, int severity, const char *text, const char *line) {
    TerminalView::onRecord(static_cast<SceneRun *>(host)->view, severity, text, line);
}

// Once the scene has loaded, its frame number goes into the names that ask
// for one, and their directories are checked before anything is written.
int numberFrame(void *host, RenderJob *job) {
    auto *run = static_cast<SceneRun *>(host);
    for (std::string *name : {&run->picture, &run->report}) {
        if (!needsFrame(*name)) continue;
        if (job->hasFrame == 0) {
            run->failure = "the scene has no frame number for \"" + *name + "\"";
            return 0;
        }
        *name = expandFrame(*name, job->frame);
        const std::string problem = directoryProblem(*name);
        if (!problem.empty()) {
            run->failure = "cannot write \"" + *name + "\": " + problem;
            return 0;
        }
    }
    job->reportFile = run->report.empty() ? nullptr : run->report.c_str();
    return 1;
}

struct Library {
    RenderJobFn renderJob;
    WriteImgFn writeImg;
};

// Renders one scene and writes its picture. *hidden grows by the log
// records not shown.
SceneResult renderOne(const Library &lib, const CommandLine &cl, const ScenePlan &plan,
                      const std::string &label, Audience audience, TerminalView *view,
                      uint64_t *hidden) {
    SceneRun run;
    run.view = view;
    run.picture = plan.picture;
    run.report = plan.report;
    std::vector<const char *> settings;
    for (const std::string &setting : cl.settings) settings.push_back(setting.c_str());

    RenderJob job{};
    job.size = sizeof job;
    job.sceneFile = plan.scene.c_str();
    job.settings = settings.data();
    job.settingCount = static_cast<uint32_t>(settings.size());
    job.reportFile = run.report.empty() ? nullptr : run.report.c_str();
    job.outputNamedByHost = cl.outputGiven || cl.scenes.size() > 1;
    // Only a lone scene may keep the program waiting after a failed load;
    // at a terminal the summary says it failed.
    job.waitAfterFailedLoad = audience != Audience::Terminal && cl.scenes.size() == 1;
    job.countInfoRecords = audience == Audience::Terminal && !cl.verbose;
    job.host = &run;
    if (audience == Audience::Terminal) {
        job.stage = runStage;
        job.progress = runProgress;
        job.record = runRecord;
    } else if (audience == Audience::Quiet) {
        job.progress = ignoreProgress; // no progress figures
    }
    if (needsFrame(run.picture) || needsFrame(run.report)) job.loaded = numberFrame;

    resetPeakMemory();
    if (view != nullptr) view->beginScene(label);
    lib.renderJob(&job);
    if (view != nullptr) view->endScene();

    const PixelWindow region{job.regionMinX, job.regionMinY, job.regionMaxX, job.regionMaxY};
    SceneResult result;
    result.scene = plan.scene;
    if (!run.failure.empty()) {
        const std::string line = "Cannot render " + plan.scene + ": " + run.failure;
        if (view != nullptr)
            view->say(line);
        else
            std::fprintf(stderr, "%s\n", line.c_str());
        result.failure = run.failure;
    } else if (job.rgb == nullptr || job.world == nullptr || job.world->getCamera() == nullptr) {
        // The library has said why.
        result.failure = job.world == nullptr ? "the scene could not be read" : "nothing rendered";
    } else if (writePicture(cl.format, run.picture, lib.writeImg, job.rgb, job.extraPlane,
                            job.width, job.height, &region)) {
        result.ok = true;
        result.picture = run.picture;
    } else {
        // The library's writer ends its message without a line end.
        if (view != nullptr) std::fputs("\n", stderr);
        result.failure = "\"" + run.picture + "\" could not be written";
    }
    result.width = job.width;
    result.height = job.height;
    result.loadSeconds = job.loadSeconds;
    result.buildSeconds = job.buildSeconds;
    result.renderSeconds = job.renderSeconds;
    result.rays = job.rays;
    result.peakBytes = peakMemoryBytes();
    *hidden += job.infoRecordsNotMade;
    // The render is ours to free (the World's destructor is virtual: the
    // call needs nothing exported).
    delete[] job.rgb;
    delete[] job.extraPlane;
    delete job.world;
    return result;
}

// vortan --merge: the tiles read, merged and written as one picture.
int mergePictures(const CommandLine &cl, const char *program) {
    std::vector<Tile> tiles(cl.scenes.size());
    std::string error;
    for (size_t i = 0; i < tiles.size(); ++i)
        if (!readTile(cl.scenes[i], tiles[i], &error)) {
            std::fprintf(stderr, "Cannot merge \"%s\": %s\n", cl.scenes[i].c_str(), error.c_str());
            return 1;
        }
    std::vector<float> frame;
    int width = 0, height = 0;
    if (!mergeTiles(tiles, frame, &width, &height, &error)) {
        std::fprintf(stderr, "Cannot merge the tiles: %s\n", error.c_str());
        return 1;
    }
    tiles.clear();
    const std::string problem = directoryProblem(cl.output);
    if (!problem.empty()) {
        std::fprintf(stderr, "Cannot write \"%s\": %s\n", cl.output.c_str(), problem.c_str());
        return 1;
    }
    // TGA and PFM are written by the library's writer.
    WriteImgFn writeImg = nullptr;
    if (cl.format == OutputFormat::Tga || cl.format == OutputFormat::Pfm) {
        void *lib = loadLibrary(program);
        if (lib != nullptr) writeImg = reinterpret_cast<WriteImgFn>(dlsym(lib, "WriteImg"));
        if (writeImg == nullptr) {
            std::fputs("could not load the dynamic library\n", stderr);
            return 1;
        }
    }
    if (!writePicture(cl.format, cl.output, writeImg, frame.data(), nullptr, width, height))
        return 1;
    if (!cl.quiet)
        std::fprintf(stderr, "Merged %zu tiles into %s (%d x %d)\n", cl.scenes.size(),
                     cl.output.c_str(), width, height);
    return 0;
}

// The base name of the program as invoked, for messages.
std::string programName(const char *program) {
    const char *slash = std::strrchr(program, '/');
    return slash != nullptr && slash[1] != '\0' ? slash + 1 : program;
}

} // namespace

int main(int argc, char **argv) {
    const char *program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "vortan";
    // No arguments at all: the short usage line of old, on standard error.
    if (argc < 2) {
        std::fputs("Rendering", stderr);
        std::fprintf(stderr, "Usage: %s <dgc file>", program);
        return -1;
    }
    const CommandLine cl = parseCommandLine(argc, argv);
    const std::string name = programName(program);
    if (cl.merge && cl.error.empty() && !cl.help && !cl.version) return mergePictures(cl, program);
    std::vector<ScenePlan> plans = planOutputs(cl);
    std::string usageError = cl.error;
    if (usageError.empty()) usageError = sharedOutput(plans);
    if (!usageError.empty()) {
        std::fprintf(stderr, "%s: %s; see %s --help\n", name.c_str(), usageError.c_str(),
                     name.c_str());
        return 2;
    }
    if (cl.help) {
        std::fputs(usageText(program).c_str(), stdout);
        return 0;
    }
    if (cl.version) {
        std::printf("vortan %s\n", VORTAN_VERSION);
        return 0;
    }
    // Every file whose name is known is checked before anything is rendered.
    for (const ScenePlan &plan : plans)
        for (const std::string *file : {&plan.picture, &plan.report}) {
            if (file->empty() || needsFrame(*file)) continue;
            const std::string problem = directoryProblem(*file);
            if (!problem.empty()) {
                std::fprintf(stderr, "Cannot write \"%s\": %s\n", file->c_str(), problem.c_str());
                return 1;
            }
        }

    const char *classicValue = std::getenv("VORTAN_CLASSIC");
    const bool classic =
        cl.classic || (classicValue != nullptr && std::strcmp(classicValue, "1") == 0);
    // The classic frame has no regions: it renders every pixel.
    if (classic && cl.regionGiven) {
        std::fprintf(stderr, "%s: --region is not available under the classic conventions; see %s --help\n",
                     name.c_str(), name.c_str());
        return 2;
    }
    const Audience audience = cl.quiet                               ? Audience::Quiet
                              : !classic && isatty(STDERR_FILENO) != 0 ? Audience::Terminal
                                                                       : Audience::Plain;
    if (audience == Audience::Plain) std::fputs("Rendering", stderr);
    // The library reads its settings from the environment: the thread
    // count, and the lowest level its log prints (read when the log library
    // is loaded with it, so before dlopen).
    if (cl.threads > 0) setenv("VORTAN_THREADS", std::to_string(cl.threads).c_str(), 1);
    if (cl.quiet) setenv("GLOG_minloglevel", "1", 1);
    if (cl.classic) setenv("VORTAN_CLASSIC", "1", 1);
    // A region on the command line is the one rendered, whatever the
    // environment says.
    if (cl.regionGiven) unsetenv("VORTAN_REGION");

    void *lib = loadLibrary(program);
    if (lib == nullptr) {
        std::fputs("could not load the dynamic library", stdout);
        return -1;
    }

    dlerror(); // clear any earlier error so that the text below is this lookup's
    auto render = reinterpret_cast<RenderSceneFn>(dlsym(lib, "renderSceneFromFile"));
    if (render == nullptr) {
        const char *text = dlerror();
        if (text != nullptr) std::fputs(text, stdout);
        std::fputs("could not locate the function renderSceneFromFile", stdout);
    }
    auto writeImg = reinterpret_cast<WriteImgFn>(dlsym(lib, "WriteImg"));
    if (writeImg == nullptr) std::fputs("could not locate the function WriteImg", stdout);
    auto renderJob = reinterpret_cast<RenderJobFn>(dlsym(lib, "renderSceneJob"));
    if (renderJob == nullptr) std::fputs("could not locate the function renderSceneJob", stdout);
    if (render == nullptr || writeImg == nullptr || renderJob == nullptr) return -1;

    const Library library{renderJob, writeImg};
    std::unique_ptr<TerminalView> view;
    if (audience == Audience::Terminal) view = std::make_unique<TerminalView>(stderr, cl.verbose);
    std::vector<SceneResult> results;
    uint64_t hidden = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
        std::string label = plans[i].scene;
        if (plans.size() > 1)
            label = "[" + std::to_string(i + 1) + "/" + std::to_string(plans.size()) + "] " + label;
        results.push_back(
            renderOne(library, cl, plans[i], label, audience, view.get(), &hidden));
    }
    if (view != nullptr) hidden += view->hiddenRecords();
    // A lone scene outside a terminal prints nothing more than it always did.
    if (audience == Audience::Terminal || (audience == Audience::Plain && results.size() > 1)) {
        if (audience == Audience::Plain) std::fputs("\n", stderr);
        std::fputs(summaryText(results, hidden).c_str(), stderr);
    }
    for (const SceneResult &r : results)
        if (!r.ok) return 1;
    return 0;
}
