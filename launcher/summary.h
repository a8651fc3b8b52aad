// The closing summary of a run: what each scene wrote or why it failed, the
// wall times of loading, building the ray accelerator and rendering, the ray
// rate and the peak memory; and the process's peak memory as the system
// counts it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SceneResult {
    std::string scene;
    bool ok = false;
    std::string picture; // written, when ok
    std::string failure; // why not, when not ok
    int width = 0, height = 0;
    double loadSeconds = 0.0, buildSeconds = 0.0, renderSeconds = 0.0;
    uint64_t rays = 0;
    uint64_t peakBytes = 0; // 0: not known
};

// A line or two per scene, then, for several scenes, how many were rendered, and
// how many log lines were not shown when there were any.
std::string summaryText(const std::vector<SceneResult> &results, uint64_t hiddenRecords);

// Starts the peak memory count afresh, where the system allows it.
void resetPeakMemory();
// The most memory the process has held since it started or since the last
// reset, in bytes; 0 when the system does not say.
uint64_t peakMemoryBytes();
