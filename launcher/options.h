// The command line of vortan: the scene file and the options around it.
#pragma once

#include <string>

enum class OutputFormat { Tga, Pfm, Png, Exr };

struct CommandLine {
    std::string scene;               // the first argument that is not an option
    std::string output = "image.tga";
    OutputFormat format = OutputFormat::Tga;
    int threads = 0;                 // 0: the library's default
    bool quiet = false;
    bool classic = false;            // the classic conventions (VORTAN_CLASSIC=1)
    bool help = false;
    bool version = false;
    std::string error;               // set when the command line is not usable
};

// Reads argv[1..argc-1]. Options may come before or after the scene; "--"
// ends the options. Sets `error` for an unknown option, a missing or bad
// value, an output name without a supported ending, or no scene (unless
// -h or --version asks for no render).
CommandLine parseCommandLine(int argc, const char *const *argv);

// The format an output file name asks for by its ending (.png and .exr in
// any letter case, .tga and .pfm in lower or upper case); false for an
// ending that is not supported.
bool outputFormatOf(const std::string &fileName, OutputFormat *format);

// The usage text, with the program name as invoked.
std::string usageText(const char *program);
