// The files each scene of a run writes (the picture and the ray report),
// named from the command line, and the checks made on them before anything
// is rendered.
#pragma once

#include <string>
#include <vector>

struct CommandLine;

// True when the name holds a "#" (a frame number, known once the scene has loaded).
bool needsFrame(const std::string &name);
// The scene file's name without its directory and its last ending.
std::string sceneStem(const std::string &scenePath);
// "{name}" becomes `stem`; with a frame, each run of "#" becomes the frame
// number rounded to a whole number and padded with zeros to the run's
// length ("####" and 7 give "0007").
std::string expandName(const std::string &pattern, const std::string &stem);
std::string expandFrame(const std::string &pattern, float frame);
// The picture's name with its ending replaced by ".ma".
std::string reportBeside(const std::string &picture);
// Empty when the directory `file` would go in exists and files can be made
// there; otherwise why not, as a sentence.
std::string directoryProblem(const std::string &file);

// One scene of a run and the names it writes; the names may still hold "#"
// runs.
struct ScenePlan {
    std::string scene;
    std::string picture;
    std::string report; // empty: no report
};
// One plan per scene: the picture is -o expanded, or image.tga for a lone
// scene, or <stem>.tga; the report is --report expanded, or the picture's
// name ending in .ma when -o is given, or report.ma for a lone scene, or
// <stem>.ma; none with --no-report.
std::vector<ScenePlan> planOutputs(const CommandLine &cl);
// A sentence naming two scenes that would write the same file (names
// without "#" only), or empty.
std::string sharedOutput(const std::vector<ScenePlan> &plans);
