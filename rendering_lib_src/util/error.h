// Error and warning reporting: one glog record per message, at ERROR or
// WARNING severity, with an immediate repeat of the same text dropped.
// Reporting never stops the program; callers decide what happens next.
#pragma once

#include <glog/logging.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

// INFO records not made because glog was told to drop them, counted so that
// a host can say how many it did not show.
extern std::atomic<uint64_t> g_infoRecordsDropped;

inline bool infoRecordWanted() {
    if (FLAGS_minloglevel <= google::GLOG_INFO) return true;
    g_infoRecordsDropped.fetch_add(1, std::memory_order_relaxed);
    return false;
}

// An INFO record that costs nothing when glog is told to drop INFO records
// (GLOG_minloglevel or --minloglevel above 0): the message is then not even
// formatted, only counted. A plain LOG(INFO) formats the whole record before
// glog drops it.
#define INFO_LOG LOG_IF(INFO, infoRecordWanted())

// Forgets the last message, so that the next one is logged even when it
// repeats it: for a host that renders several scenes in one process.
void resetRepeatSuppression();

void Error(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Warning(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Shared step of Error and Warning. kind is "Error" or "Warning"; any other
// kind is logged at ERROR severity. A text argument ("%s") longer than
// kShownNameLength characters, a name out of a scene file as a rule, is
// shown cut to that length and followed by "...": a file can hold names of
// any length.
void ReportError(const char *format, va_list args, const char *kind)
    __attribute__((format(printf, 1, 0)));

constexpr size_t kShownNameLength = 200;
// Warnings of one format shown while a WarningLimit lives.
constexpr int kShownRepeats = 10;

// Limits the warnings of a scene load, where one fault repeated over a
// large file could otherwise give a line for each: while one lives, of the
// warnings of one format (one kind of fault) the first kShownRepeats are
// logged and the rest counted, and when the outermost one ends, each format
// that had N more gets one warning "(N more like it)", in the order they
// went over.
class WarningLimit {
public:
    WarningLimit();
    ~WarningLimit();
    WarningLimit(const WarningLimit &) = delete;
    WarningLimit &operator=(const WarningLimit &) = delete;
};

// `name` as messages show it, for those that do not go through Error and
// Warning: cut as they cut their text arguments.
std::string shownName(const std::string &name);
