// Error and warning reporting: one glog record per message, at ERROR or
// WARNING severity, with an immediate repeat of the same text dropped.
// Reporting never stops the program; callers decide what happens next.
#pragma once

#include <cstdarg>

void Error(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Warning(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Shared step of Error and Warning. kind is "Error" or "Warning"; any other
// kind is logged at ERROR severity.
void ReportError(const char *format, va_list args, const char *kind)
    __attribute__((format(printf, 1, 0)));
