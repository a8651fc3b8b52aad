// The command line of vortan: the scene files and the options around them.
#pragma once

#include <string>
#include <vector>

enum class OutputFormat { Tga, Pfm, Png, Exr };

struct CommandLine {
    std::vector<std::string> scenes; // every argument that is not an option, in order
    // The picture's file; with several scenes a pattern ({name}, # runs).
    std::string output = "image.tga";
    bool outputGiven = false;
    OutputFormat format = OutputFormat::Tga;
    std::string report;              // --report (a pattern like -o); empty: the default
    bool noReport = false;
    // NODE.PARAM=VALUE settings of --res, --camera, --samples and --set, in
    // the order given (a later one wins).
    std::vector<std::string> settings;
    int threads = 0;                 // 0: the library's default
    // --region: the pixels rendered (x0 y0 x1 y1, inclusive), also among
    // the settings; the rest of the frame is black.
    bool regionGiven = false;
    int region[4] = {0, 0, 0, 0};
    // --merge: the arguments are tiles of one frame, merged into `output`;
    // nothing is rendered.
    bool merge = false;
    bool quiet = false;
    bool verbose = false;
    bool classic = false;            // the classic conventions (VORTAN_CLASSIC=1)
    bool help = false;
    bool version = false;
    std::string error;               // set when the command line is not usable
};

// Reads argv[1..argc-1]. Options may come before or after the scenes; "--"
// ends the options. Sets `error` (one line) for an unknown option, a
// missing or bad value, an output name without a supported ending, several
// scenes with an output or report name that is not a pattern, or no scene
// (unless -h or --version asks for no render). With --merge: no -o, a
// pattern as -o, no tile, or an option that only a render takes.
CommandLine parseCommandLine(int argc, const char *const *argv);

// The format an output file name asks for by its ending (.png and .exr in
// any letter case, .tga and .pfm in lower or upper case); false for an
// ending that is not supported.
bool outputFormatOf(const std::string &fileName, OutputFormat *format);

// A name that stands for several files: it holds "{name}" or a "#".
bool isNamePattern(const std::string &name);

// The usage text, with the program name as invoked.
std::string usageText(const char *program);
