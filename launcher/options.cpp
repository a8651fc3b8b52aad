#include "launcher/options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "util/render_threads.h"

namespace {

// The largest film side an image file holds.
constexpr long kMaxSide = 65535;
// The largest AA_samples the command line passes on.
constexpr long kMaxSamples = 256;

bool endsWith(const std::string &name, const char *ending) {
    const size_t n = std::strlen(ending);
    if (name.size() <= n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != ending[i])
            return false;
    return true;
}

// A whole number from `low` to `high`, digits only.
bool parseWhole(const std::string &text, long low, long high, long *value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char *end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < low || n > high) return false;
    *value = n;
    return true;
}

// A thread count: a whole number from 1 to the library's ceiling.
bool parseThreads(const std::string &text, int *threads) {
    long n = 0;
    if (!parseWhole(text, 1, kMaxRenderThreads, &n)) return false;
    *threads = static_cast<int>(n);
    return true;
}

// "WxH" (or "WXH"), each side 1 to the largest an image file holds.
bool parseResolution(const std::string &text, long *width, long *height) {
    const size_t x = text.find_first_of("xX");
    return x != std::string::npos && parseWhole(text.substr(0, x), 1, kMaxSide, width) &&
           parseWhole(text.substr(x + 1), 1, kMaxSide, height);
}

// "NODE.PARAM=VALUE" with a node, a parameter and a value; the library
// checks the rest.
bool isSetting(const std::string &text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq + 1 == text.size()) return false;
    const size_t dot = text.rfind('.', eq);
    return dot != std::string::npos && dot > 0 && dot + 1 < eq;
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
    for (int i = 1; i < argc && cl.error.empty(); ++i) {
        const std::string arg = argv[i] != nullptr ? argv[i] : "";
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            cl.scenes.push_back(arg);
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
        long a = 0, b = 0;
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
            cl.outputGiven = true;
        } else if (name == "-t" || name == "--threads") {
            if (!takeValue()) break;
            if (!parseThreads(value, &cl.threads))
                cl.error = "option " + name + " wants a whole number of threads from 1 to " +
                           std::to_string(kMaxRenderThreads) + ", not \"" + value + "\"";
        } else if (name == "--res") {
            if (!takeValue()) break;
            if (parseResolution(value, &a, &b)) {
                cl.settings.push_back("options.xres=" + std::to_string(a));
                cl.settings.push_back("options.yres=" + std::to_string(b));
            } else {
                cl.error = "option --res wants WIDTHxHEIGHT (1 to 65535 each), not \"" +
                           value + "\"";
            }
        } else if (name == "--camera") {
            if (!takeValue()) break;
            if (value.empty() || value.find_first_of("\"\r\n") != std::string::npos)
                cl.error = "option --camera wants a camera name, not \"" + value + "\"";
            else
                cl.settings.push_back("options.camera=\"" + value + "\"");
        } else if (name == "-s" || name == "--samples") {
            if (!takeValue()) break;
            if (parseWhole(value, 1, kMaxSamples, &a))
                cl.settings.push_back("options.AA_samples=" + std::to_string(a));
            else
                cl.error = "option " + name + " wants a whole number from 1 to " +
                           std::to_string(kMaxSamples) + ", not \"" + value + "\"";
        } else if (name == "--set") {
            if (!takeValue()) break;
            if (isSetting(value))
                cl.settings.push_back(value);
            else
                cl.error = "option --set wants NODE.PARAM=VALUE, not \"" + value + "\"";
        } else if (name == "--region") {
            // Four values, the long form's "=" holding the first.
            static const char *const kBounds[] = {"region_min_x", "region_min_y",
                                                  "region_max_x", "region_max_y"};
            for (int k = 0; k < 4 && cl.error.empty(); ++k) {
                if (k > 0) inlineValue = false;
                if (!takeValue()) break;
                if (!parseWhole(value, 0, kMaxSide - 1, &a))
                    cl.error = "option --region wants X0 Y0 X1 Y1, pixel numbers from 0 to " +
                               std::to_string(kMaxSide - 1) + ", not \"" + value + "\"";
                cl.region[k] = static_cast<int>(a);
            }
            if (!cl.error.empty()) break;
            if (cl.region[0] > cl.region[2] || cl.region[1] > cl.region[3]) {
                cl.error = "option --region wants X0 <= X1 and Y0 <= Y1";
                break;
            }
            cl.regionGiven = true;
            for (int k = 0; k < 4; ++k)
                cl.settings.push_back(std::string("options.") + kBounds[k] + "=" +
                                      std::to_string(cl.region[k]));
        } else if (name == "--report") {
            if (!takeValue()) break;
            if (value.empty()) cl.error = "option --report needs a file name";
            cl.report = value;
        } else if (inlineValue) {
            cl.error = "option " + name + " takes no value";
        } else if (name == "--no-report") {
            cl.noReport = true;
        } else if (name == "-q" || name == "--quiet") {
            cl.quiet = true;
        } else if (name == "-v" || name == "--verbose") {
            cl.verbose = true;
        } else if (name == "--merge") {
            cl.merge = true;
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
    if (!cl.error.empty()) return cl;
    if (cl.merge) {
        if (!cl.settings.empty() || cl.threads != 0 || !cl.report.empty() || cl.noReport ||
            cl.classic)
            cl.error = "--merge takes -o and the tile files only";
        else if (!cl.outputGiven)
            cl.error = "--merge needs -o, the merged picture's file";
        else if (isNamePattern(cl.output))
            cl.error = "--merge writes one picture: -o wants a plain file name, not \"" +
                       cl.output + "\"";
        else if (cl.scenes.empty() && !cl.help && !cl.version)
            cl.error = "--merge needs the tile files";
        return cl;
    }
    if (cl.quiet && cl.verbose) {
        cl.error = "-q and -v ask for opposite things";
    } else if (cl.scenes.empty() && !cl.help && !cl.version) {
        cl.error = "no scene file given";
    } else if (cl.scenes.size() > 1) {
        // Several scenes must not all write one file.
        if (cl.outputGiven && !isNamePattern(cl.output))
            cl.error = "with several scenes, -o wants a name with {name} or #, not \"" +
                       cl.output + "\"";
        else if (!cl.report.empty() && !isNamePattern(cl.report))
            cl.error = "with several scenes, --report wants a name with {name} or #, not \"" +
                       cl.report + "\"";
    }
    return cl;
}

bool isNamePattern(const std::string &name) {
    return name.find("{name}") != std::string::npos || name.find('#') != std::string::npos;
}

std::string usageText(const char *program) {
    return std::string("Usage: ") + program +
           " [options] scene.ass [more scenes...]\n"
           "       " + program + " --merge -o FILE TILE...\n"
           "Renders each scene and writes its picture (image.tga by default; with several\n"
           "scenes, <scene name>.tga).\n"
           "\n"
           "Options:\n"
           "  -o, --output FILE   write the picture to FILE; its ending picks the format:\n"
           "                      .tga and .png (8-bit, display gamma 2.3), .pfm and .exr\n"
           "                      (32-bit float, linear). With several scenes FILE is a\n"
           "                      pattern: {name} is the scene file's name without its\n"
           "                      ending, a run of # the scene's frame number\n"
           "  -t, --threads N     render on N threads (default: every hardware thread)\n"
           "      --res WxH       render W x H pixels\n"
           "      --camera NAME   render through the camera node NAME\n"
           "  -s, --samples N     the options' AA_samples\n"
           "      --region X0 Y0 X1 Y1\n"
           "                      render only the pixels from column X0, row Y0 to\n"
           "                      column X1, row Y1 (inclusive, row 0 at the top); the\n"
           "                      rest of the frame is black, and an .exr file holds\n"
           "                      the region alone in the whole frame\n"
           "      --set NODE.PARAM=VALUE\n"
           "                      set a parameter of a node (\"options\" for the options),\n"
           "                      as if the scene file said it; repeatable\n"
           "      --report FILE   write the ray report to FILE (default: beside the\n"
           "                      picture, ending in .ma; report.ma without -o)\n"
           "      --no-report     write no ray report\n"
           "  -q, --quiet         print warnings and errors only\n"
           "  -v, --verbose       print every log line, at a terminal too\n"
           "      --classic       the classic conventions: vertical field of view, rays\n"
           "                      through pixel corners, the original defaults, the\n"
           "                      Whitted light formula (the same as VORTAN_CLASSIC=1)\n"
           "      --merge -o FILE TILE...\n"
           "                      merge the pictures of region renders of one frame\n"
           "                      into FILE (.exr tiles, or whole-frame tiles black\n"
           "                      outside their region); renders nothing\n"
           "  -h, --help          print this help and exit\n"
           "      --version       print the version and exit\n";
}
