#include "util/error.h"

#include <glog/logging.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {
// Text of the last message actually logged, of either kind.
std::string &lastMessage() {
    static std::string message;
    return message;
}
std::mutex &reportMutex() {
    static std::mutex mutex;
    return mutex;
}
} // namespace

void ReportError(const char *format, va_list args, const char *kind) {
    // A message glog would drop is not even formatted.
    const bool warning = std::strcmp(kind, "Warning") == 0;
    if (FLAGS_minloglevel > (warning ? google::GLOG_WARNING : google::GLOG_ERROR)) return;
    // Measure first, then format into a string of exactly that size: no
    // length limit on messages.
    va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string errorString;
    if (n > 0) {
        errorString.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&errorString[0], errorString.size(), format, args);
        errorString.pop_back();
    }

    std::lock_guard<std::mutex> lock(reportMutex());
    std::string &last = lastMessage();
    if (errorString == last) return;
    if (warning)
        LOG(WARNING) << errorString;
    else
        LOG(ERROR) << errorString;
    last = errorString;
}

void resetRepeatSuppression() {
    std::lock_guard<std::mutex> lock(reportMutex());
    lastMessage().clear();
}

void Error(const char *format, ...) {
    va_list args;
    va_start(args, format);
    ReportError(format, args, "Error");
    va_end(args);
}

void Warning(const char *format, ...) {
    va_list args;
    va_start(args, format);
    ReportError(format, args, "Warning");
    va_end(args);
}

std::atomic<uint64_t> g_infoRecordsDropped{0};
