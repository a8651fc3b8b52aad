// vortan: renders a scene file to a picture ("image.tga" in the working
// directory unless -o names another). The renderer is the shared library
// librendering.so, loaded at run time (see loadLibrary).
#include <dlfcn.h>
#include <unistd.h>

#include <fcntl.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "launcher/image_output.h"
#include "launcher/options.h"
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

// Standard output goes to /dev/null while it lives: the render's progress
// figures are not wanted by -q.
class SilencedStdout {
public:
    SilencedStdout() {
        std::fflush(stdout);
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull < 0) return;
        m_saved = dup(STDOUT_FILENO);
        if (m_saved >= 0 && dup2(devNull, STDOUT_FILENO) < 0) {
            close(m_saved);
            m_saved = -1;
        }
        close(devNull);
    }
    ~SilencedStdout() {
        if (m_saved < 0) return;
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
    }
    SilencedStdout(const SilencedStdout &) = delete;
    SilencedStdout &operator=(const SilencedStdout &) = delete;

private:
    int m_saved = -1;
};

// Writes the frame in the format the command line chose: TGA and PFM by the
// library's writer, PNG and EXR here.
bool writePicture(const CommandLine &cl, WriteImgFn writeImg, float *rgb, float *extraPlane,
                  int width, int height) {
    std::string error;
    switch (cl.format) {
    case OutputFormat::Tga:
    case OutputFormat::Pfm:
        return writeImg(cl.output.c_str(), rgb, extraPlane, width, height, width, height, 0,
                        0) != 0;
    case OutputFormat::Png:
        if (writePng(cl.output, rgb, width, height, &error)) return true;
        break;
    case OutputFormat::Exr:
        if (writeExr(cl.output, rgb, width, height, &error)) return true;
        break;
    }
    std::fprintf(stderr, "Unable to write image \"%s\": %s\n", cl.output.c_str(), error.c_str());
    return false;
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
    if (!cl.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", program, cl.error.c_str(), usageText(program).c_str());
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

    if (!cl.quiet) std::fputs("Rendering", stderr);
    // The library reads its settings from the environment: the thread
    // count, and the lowest level its log prints (read when the log library
    // is loaded with it, so before dlopen).
    if (cl.threads > 0) setenv("VORTAN_THREADS", std::to_string(cl.threads).c_str(), 1);
    if (cl.quiet) setenv("GLOG_minloglevel", "1", 1);
    if (cl.classic) setenv("VORTAN_CLASSIC", "1", 1);

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
    if (render == nullptr || writeImg == nullptr) return -1;

    float *rgb = nullptr;
    float *extraPlane = nullptr;
    World *world = nullptr;
    {
        std::unique_ptr<SilencedStdout> silence;
        if (cl.quiet) silence = std::make_unique<SilencedStdout>();
        render(&rgb, &extraPlane, &world, cl.scene.c_str());
    }
    // Without a frame the library has already said why.
    int status = 1;
    if (rgb != nullptr && world != nullptr && world->getCamera() != nullptr) {
        Camera *camera = world->getCamera();
        const int width = camera->getResolution()[0];
        const int height = camera->getResolution()[1];
        status = writePicture(cl, writeImg, rgb, extraPlane, width, height) ? 0 : 1;
    }
    // The render is ours to free (the World's destructor is virtual: the
    // call needs nothing exported).
    delete[] rgb;
    delete[] extraPlane;
    delete world;
    return status;
}
