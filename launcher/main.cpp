// vortan: renders a scene file to "image.tga" in the working directory. The
// renderer is the shared library librendering.so, loaded at run time from the
// program's own directory first, then through the dynamic loader's search.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "world.h"

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

void *loadLibrary(const char *argv0) {
    std::string path = programDirectory(argv0) + "/" + kLibraryName;
    void *lib = dlopen(path.c_str(), RTLD_NOW);
    if (lib == nullptr) lib = dlopen(kLibraryName, RTLD_NOW);
    return lib;
}

} // namespace

int main(int argc, char **argv) {
    std::fputs("Rendering", stderr);
    const char *program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "vortan";
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s <dgc file>", program);
        return -1;
    }

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

    // The render lives as long as the program: the scene's destructor is
    // the library's own and not exported, so it ends with the process.
    static float *rgb = nullptr;
    static float *extraPlane = nullptr;
    static World *world = nullptr;
    render(&rgb, &extraPlane, &world, argv[1]);
    int status = 1; // the library has already reported why nothing was rendered
    if (rgb != nullptr && world != nullptr && world->getCamera() != nullptr) {
        Camera *camera = world->getCamera();
        int width = camera->getResolution()[0];
        int height = camera->getResolution()[1];
        status = writeImg("image.tga", rgb, extraPlane, width, height, width, height, 0, 0) ? 0 : 1;
    }
    return status;
}
