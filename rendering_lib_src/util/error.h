// Error and warning reporting: one glog record per message, at ERROR or
// WARNING severity, with an immediate repeat of the same text dropped.
// Reporting never stops the program; callers decide what happens next.
#pragma once

#include <glog/logging.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>

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
// kind is logged at ERROR severity.
void ReportError(const char *format, va_list args, const char *kind)
    __attribute__((format(printf, 1, 0)));
