#include "util/render_threads.h"

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "util/error.h"

namespace {

int hardwareThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n < kMaxRenderThreads ? n : kMaxRenderThreads);
}

} // namespace

int renderThreadsFromEnvironment() {
    const int fallback = hardwareThreads();
    const char *value = std::getenv("VORTAN_THREADS");
    if (value == nullptr || value[0] == '\0') return fallback;
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(value, &end, 10);
    if (errno != 0 || end == value || *end != '\0' || n < 1) {
        Warning("Invalid VORTAN_THREADS value \"%s\", using %d threads", value, fallback);
        return fallback;
    }
    // Far more threads than any machine has would only make the threading
    // runtime give up on creating them.
    if (n > kMaxRenderThreads) {
        Warning("VORTAN_THREADS value \"%s\" is above %d, using %d threads", value,
                kMaxRenderThreads, kMaxRenderThreads);
        return kMaxRenderThreads;
    }
    return static_cast<int>(n);
}

