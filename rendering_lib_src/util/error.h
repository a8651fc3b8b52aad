// Error and warning reporting: one glog record per message, at ERROR or
// WARNING severity, with an immediate repeat of the same text dropped.
// Reporting never stops the program; callers decide what happens next.
#pragma once

#include <glog/logging.h>

#include <cstdarg>

// An INFO record that costs nothing when glog is told to drop INFO records
// (GLOG_minloglevel or --minloglevel above 0): the message is then not even
// formatted. A plain LOG(INFO) formats the whole record before glog drops it.
#define INFO_LOG LOG_IF(INFO, FLAGS_minloglevel <= google::GLOG_INFO)

void Error(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Warning(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Shared step of Error and Warning. kind is "Error" or "Warning"; any other
// kind is logged at ERROR severity.
void ReportError(const char *format, va_list args, const char *kind)
    __attribute__((format(printf, 1, 0)));
