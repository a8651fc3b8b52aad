// Loading a scene for rendering: the loader reads the file, then the chosen
// accelerator is built over what it read.
#pragma once

#include "parsers/ass_parser.h"

class World;

// Wall times of the two steps, in seconds.
struct ReadSceneTimes {
    double load = 0.0;
    double build = 0.0;
};

// Loads a scene file into a new World and installs the accelerator
// VORTAN_ACCEL asks for; null after reporting the cause. Reports the
// Loading and Building stages to the host, and the time each took in
// *times when given.
World *readScene(const char *path, const LoadRequest &request = LoadRequest(),
                 ReadSceneTimes *times = nullptr);
