#include "launcher/summary.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

// The value with that many decimals.
std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// 1234567 -> "1.23 M", 999 -> "999".
std::string withPrefix(double value) {
    if (value >= 1e9) return fixed(value / 1e9, 2) + " G";
    if (value >= 1e6) return fixed(value / 1e6, 2) + " M";
    if (value >= 1e3) return fixed(value / 1e3, 2) + " k";
    return fixed(value, 0);
}

std::string sceneLine(const SceneResult &r) {
    if (!r.ok) return r.scene + ": failed (" + r.failure + ")";
    std::string line = r.scene + ": wrote " + r.picture + " (" + std::to_string(r.width) +
                       " x " + std::to_string(r.height) + ")\n  load " +
                       fixed(r.loadSeconds, 2) + " s, build " + fixed(r.buildSeconds, 2) +
                       " s, render " + fixed(r.renderSeconds, 2) + " s";
    if (r.renderSeconds > 0.0)
        line += "; " + withPrefix(static_cast<double>(r.rays) / r.renderSeconds) + " rays/s";
    if (r.peakBytes > 0) {
        const double mb = static_cast<double>(r.peakBytes) / 1e6;
        line += "; peak memory " + fixed(mb, mb < 10.0 ? 1 : 0) + " MB";
    }
    return line;
}

} // namespace

std::string summaryText(const std::vector<SceneResult> &results, uint64_t hiddenRecords) {
    std::string text;
    size_t rendered = 0;
    for (const SceneResult &r : results) {
        text += sceneLine(r) + "\n";
        rendered += r.ok ? 1 : 0;
    }
    if (results.size() > 1)
        text += std::to_string(rendered) + " of " + std::to_string(results.size()) +
                " scenes rendered\n";
    if (hiddenRecords > 0)
        text += std::to_string(hiddenRecords) + " information lines not shown (-v shows them)\n";
    return text;
}

void resetPeakMemory() {
    // "5" resets the peak resident size the kernel keeps for the process.
    FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (f == nullptr) return;
    std::fputs("5", f);
    std::fclose(f);
}

uint64_t peakMemoryBytes() {
    FILE *f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return 0;
    char line[256];
    uint64_t kb = 0;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            std::sscanf(line + 6, "%" SCNu64, &kb);
            break;
        }
    std::fclose(f);
    return kb * 1024;
}
