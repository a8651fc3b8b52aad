#include "util/error.h"

#include <glog/logging.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// The warnings of the loads under way: how many of each format were shown,
// and how many more were held back (formats in the order they went over).
struct RepeatLimit {
    int depth = 0;
    std::unordered_map<const char *, int> shown;
    std::unordered_map<const char *, size_t> more;
    std::vector<const char *> over;
};
RepeatLimit &repeatLimit() {
    static RepeatLimit limit;
    return limit;
}

// A copy of `format` in which every plain "%s" whose argument is longer than
// kShownNameLength reads "%.200s...", in *capped; false when no argument is
// that long. The arguments are walked as the conversions read them; a
// format with conversions this does not follow ('*' sizes, positional
// arguments, %n, wide text), which no message of the renderer uses, is left
// as it is.
bool capLongTexts(const char *format, va_list args, std::string *capped) {
    va_list ap;
    va_copy(ap, args);
    bool ok = true, changed = false;
    std::string out;
    const char *copied = format; // text before this is in out
    for (const char *p = format; ok && *p != '\0'; ++p) {
        if (*p != '%') continue;
        if (*++p == '%') continue;
        while (*p != '\0' && std::strchr("-+ #0'I", *p) != nullptr) ++p;
        while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
        bool precision = false;
        if (*p == '.') {
            precision = true;
            for (++p; std::isdigit(static_cast<unsigned char>(*p));) ++p;
        }
        int longs = 0;
        char size = 0;
        for (; *p != '\0' && std::strchr("hlLqjzZt", *p) != nullptr; ++p) {
            if (*p == 'l')
                ++longs;
            else
                size = *p;
        }
        switch (*p) {
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'c':
            if (size == 'j')
                (void)va_arg(ap, intmax_t);
            else if (size == 'z' || size == 'Z')
                (void)va_arg(ap, size_t);
            else if (size == 't')
                (void)va_arg(ap, ptrdiff_t);
            else if (longs >= 2 || size == 'q' || size == 'L')
                (void)va_arg(ap, long long);
            else if (longs == 1)
                (void)va_arg(ap, long);
            else
                (void)va_arg(ap, int);
            break;
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
            if (size == 'L')
                (void)va_arg(ap, long double);
            else
                (void)va_arg(ap, double);
            break;
        case 'p':
            (void)va_arg(ap, void *);
            break;
        case 'm':
            break;
        case 's': {
            if (longs > 0) {
                ok = false;
                break;
            }
            const char *text = va_arg(ap, const char *);
            if (precision || text == nullptr || std::strlen(text) <= kShownNameLength) break;
            out.append(copied, p);
            out += "." + std::to_string(kShownNameLength) + "s...";
            copied = p + 1;
            changed = true;
            break;
        }
        default: // '*', '$', 'n' or no conversion at all
            ok = false;
            break;
        }
    }
    va_end(ap);
    if (!ok || !changed) return false;
    out += copied;
    *capped = std::move(out);
    return true;
}

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
    std::string capped;
    const char *shown = capLongTexts(format, args, &capped) ? capped.c_str() : format;
    // Measure first, then format into a string of exactly that size.
    va_list measure;
    va_copy(measure, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral" // format, or its copy with cut texts
    int n = std::vsnprintf(nullptr, 0, shown, measure);
    va_end(measure);
    std::string errorString;
    if (n > 0) {
        errorString.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&errorString[0], errorString.size(), shown, args);
        errorString.pop_back();
    }
#pragma GCC diagnostic pop

    std::lock_guard<std::mutex> lock(reportMutex());
    std::string &last = lastMessage();
    if (errorString == last) return;
    RepeatLimit &limit = repeatLimit();
    if (warning && limit.depth > 0) {
        int &shownCount = limit.shown[format];
        if (shownCount >= kShownRepeats) {
            if (limit.more[format]++ == 0) limit.over.push_back(format);
            return;
        }
        ++shownCount;
    }
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

WarningLimit::WarningLimit() {
    std::lock_guard<std::mutex> lock(reportMutex());
    ++repeatLimit().depth;
}

WarningLimit::~WarningLimit() {
    std::lock_guard<std::mutex> lock(reportMutex());
    RepeatLimit &limit = repeatLimit();
    if (--limit.depth > 0) return;
    std::string &last = lastMessage();
    for (const char *format : limit.over) {
        last = "(" + std::to_string(limit.more[format]) + " more like it)";
        LOG(WARNING) << last;
    }
    limit = RepeatLimit();
}

std::string shownName(const std::string &name) {
    if (name.size() <= kShownNameLength) return name;
    return name.substr(0, kShownNameLength) + "...";
}
