// How many threads the renderer works on: the frame loop's render threads
// and the kd-tree build's tasks.
#pragma once

// The most threads used at once.
constexpr int kMaxRenderThreads = 256;

// VORTAN_THREADS when it is a whole number >= 1 (at most kMaxRenderThreads),
// else (after a Warning for a value that is set but not usable) one per
// hardware thread.
int renderThreadsFromEnvironment();
