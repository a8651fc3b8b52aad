#include "launcher/options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "util/render_threads.h"

namespace {

bool endsWith(const std::string &name, const char *ending) {
    const size_t n = std::strlen(ending);
    if (name.size() <= n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != ending[i])
            return false;
    return true;
}

// A thread count: a whole number from 1 to the library's ceiling.
bool parseThreads(const std::string &text, int *threads) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char *end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < 1 || n > kMaxRenderThreads) return false;
    *threads = static_cast<int>(n);
    return true;
}

} // namespace

bool outputFormatOf(const std::string &fileName, OutputFormat *format) {
    // The library's writer knows .tga and .pfm in lower or upper case only
    // (it would write any other spelling as a TGA file of another name);
    // the program's own writers take any case.
    static const struct {
        const char *ending;
        bool anyCase;
        OutputFormat format;
    } kEndings[] = {{".tga", false, OutputFormat::Tga}, {".TGA", false, OutputFormat::Tga},
                    {".pfm", false, OutputFormat::Pfm}, {".PFM", false, OutputFormat::Pfm},
                    {".png", true, OutputFormat::Png},  {".exr", true, OutputFormat::Exr}};
    for (const auto &e : kEndings) {
        const size_t n = std::strlen(e.ending);
        const bool matches = e.anyCase ? endsWith(fileName, e.ending)
                                       : fileName.size() > n &&
                                             fileName.compare(fileName.size() - n, n, e.ending) == 0;
        if (matches) {
            *format = e.format;
            return true;
        }
    }
    return false;
}

CommandLine parseCommandLine(int argc, const char *const *argv) {
    CommandLine cl;
    bool optionsEnded = false;
    bool haveScene = false;
    for (int i = 1; i < argc && cl.error.empty(); ++i) {
        const std::string arg = argv[i] != nullptr ? argv[i] : "";
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            // Later plain arguments are ignored, as they always were.
            if (!haveScene) cl.scene = arg;
            haveScene = true;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // An option's value: the next argument, or what follows "=" in
        // the long form.
        std::string name = arg, value;
        bool inlineValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (inlineValue) return true;
            if (i + 1 >= argc || argv[i + 1] == nullptr) {
                cl.error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (name == "-o" || name == "--output") {
            if (!takeValue()) break;
            if (value.empty()) {
                cl.error = "option " + name + " needs a file name";
            } else if (!outputFormatOf(value, &cl.format)) {
                cl.error = "cannot write \"" + value +
                           "\": the output file name must end in .tga, .pfm, .png or .exr "
                           "(.tga and .pfm in lower or upper case)";
            }
            cl.output = value;
        } else if (name == "-t" || name == "--threads") {
            if (!takeValue()) break;
            if (!parseThreads(value, &cl.threads))
                cl.error = "option " + name + " wants a whole number of threads from 1 to " +
                           std::to_string(kMaxRenderThreads) + ", not \"" + value + "\"";
        } else if (inlineValue) {
            cl.error = "option " + name + " takes no value";
        } else if (name == "-q" || name == "--quiet") {
            cl.quiet = true;
        } else if (name == "--classic") {
            cl.classic = true;
        } else if (name == "-h" || name == "--help") {
            cl.help = true;
        } else if (name == "--version") {
            cl.version = true;
        } else {
            cl.error = "unknown option " + arg;
        }
    }
    if (cl.error.empty() && !haveScene && !cl.help && !cl.version) cl.error = "no scene file given";
    return cl;
}

std::string usageText(const char *program) {
    return std::string("Usage: ") + program +
           " [options] scene.ass\n"
           "Renders the scene and writes the picture (image.tga by default).\n"
           "\n"
           "Options:\n"
           "  -o, --output FILE   write the picture to FILE; its ending picks the format:\n"
           "                      .tga and .png (8-bit, display gamma 2.3), .pfm and .exr\n"
           "                      (32-bit float, linear)\n"
           "  -t, --threads N     render on N threads (default: every hardware thread)\n"
           "  -q, --quiet         print warnings and errors only\n"
           "      --classic       the classic conventions: vertical field of view, rays\n"
           "                      through pixel corners, the original defaults, the\n"
           "                      Whitted light formula (the same as VORTAN_CLASSIC=1)\n"
           "  -h, --help          print this help and exit\n"
           "      --version       print the version and exit\n";
}
