#include "util/info_records.h"

#include <glog/logging.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

thread_local bool t_direct = false;

// The calendar fields glog prints, for one second.
struct Second {
    time_t second = -1;
    std::tm fields{};
};

// The time of day as glog takes it: gettimeofday as whole microseconds,
// scaled to seconds in double precision, the second cut off and the rest
// scaled back (which may land one microsecond low, as it does in glog).
void splitTime(const struct timeval &when, time_t *second, int *micros) {
    const double now =
        static_cast<double>(static_cast<int64_t>(when.tv_sec) * 1000000 + when.tv_usec) *
        0.000001;
    *second = static_cast<time_t>(now);
    *micros = static_cast<int>((now - static_cast<double>(*second)) * 1000000);
}

void fieldsOf(time_t second, std::tm *fields) {
    if (FLAGS_log_utc_time)
        gmtime_r(&second, fields);
    else
        localtime_r(&second, fields);
}

// Writes value as `width` digits with leading zeros (more when it needs them).
char *zeroPadded(char *out, long value, int width) {
    char digits[24];
    int n = 0;
    unsigned long v = value < 0 ? 0ul - static_cast<unsigned long>(value)
                                : static_cast<unsigned long>(value);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (value < 0) digits[n++] = '-';
    for (int k = n; k < width; ++k) *out++ = '0';
    while (n > 0) *out++ = digits[--n];
    return out;
}

// The record's bytes: glog's prefix "Lyyyymmdd hh:mm:ss.uuuuuu ttttt
// file:line] " (the year only with log_year_in_prefix; the thread id right
// aligned in five places), the text, the number and the line end. `out`
// must hold kMaxRecord bytes beyond the text.
char *formatRecord(char *out, const std::tm &t, int micros, unsigned tid, const char *base,
                   size_t baseLength, int line, const char *text, size_t textLength,
                   int64_t number) {
    *out++ = 'I';
    if (FLAGS_log_year_in_prefix) out = zeroPadded(out, 1900L + t.tm_year, 4);
    out = zeroPadded(out, 1L + t.tm_mon, 2);
    out = zeroPadded(out, t.tm_mday, 2);
    *out++ = ' ';
    out = zeroPadded(out, t.tm_hour, 2);
    *out++ = ':';
    out = zeroPadded(out, t.tm_min, 2);
    *out++ = ':';
    out = zeroPadded(out, t.tm_sec, 2);
    *out++ = '.';
    out = zeroPadded(out, micros, 6);
    *out++ = ' ';
    char id[16];
    const size_t idLength = static_cast<size_t>(zeroPadded(id, static_cast<long>(tid), 1) - id);
    for (size_t k = idLength; k < 5; ++k) *out++ = ' ';
    std::memcpy(out, id, idLength);
    out += idLength;
    *out++ = ' ';
    std::memcpy(out, base, baseLength);
    out += baseLength;
    *out++ = ':';
    out = zeroPadded(out, line, 1);
    *out++ = ']';
    *out++ = ' ';
    std::memcpy(out, text, textLength);
    out += textLength;
    out = zeroPadded(out, static_cast<long>(number), 1);
    *out++ = '\n';
    return out;
}

constexpr size_t kMaxRecord = 128; // everything of a record but the text and the file name

const char *baseName(const char *file) {
    const char *slash = std::strrchr(file, '/');
    return slash != nullptr ? slash + 1 : file;
}

} // namespace

DirectInfoRecords::DirectInfoRecords() : m_previous(t_direct) { t_direct = true; }

DirectInfoRecords::~DirectInfoRecords() { t_direct = m_previous; }

size_t formatInfoRecord(char *out, size_t capacity, const struct timeval &when, unsigned tid,
                        const char *file, int line, const char *text, int64_t number) {
    const char *base = baseName(file);
    const size_t baseLength = std::strlen(base), textLength = std::strlen(text);
    if (capacity < kMaxRecord + baseLength + textLength) return 0;
    time_t second;
    int micros;
    splitTime(when, &second, &micros);
    std::tm fields;
    fieldsOf(second, &fields);
    return static_cast<size_t>(formatRecord(out, fields, micros, tid, base, baseLength, line,
                                            text, textLength, number) -
                               out);
}

bool writeNumberedInfoRecords(const char *file, int line, const char *text, int64_t first,
                              int64_t count) {
    if (FLAGS_minloglevel > google::GLOG_INFO) return true;
    // Only the plain set-up: everything to standard error with glog's own
    // prefix.
    if (!t_direct || !FLAGS_logtostderr || FLAGS_logtostdout || !FLAGS_log_prefix) return false;
    if (count <= 0) return true;
    const char *base = baseName(file);
    const size_t baseLength = std::strlen(base), textLength = std::strlen(text);
    const size_t recordLimit = kMaxRecord + baseLength + textLength;
    char buffer[1 << 16];
    if (recordLimit > sizeof buffer) return false;
    // glog asks for the thread id with every record; it is the same for all.
    const unsigned tid = static_cast<unsigned>(syscall(SYS_gettid));
    Second current;
    char *end = buffer;
    for (int64_t k = 0; k < count; ++k) {
        struct timeval when;
        gettimeofday(&when, nullptr);
        time_t second;
        int micros;
        splitTime(when, &second, &micros);
        if (second != current.second) {
            current.second = second;
            fieldsOf(second, &current.fields);
        }
        if (static_cast<size_t>(buffer + sizeof buffer - end) < recordLimit) {
            std::fwrite(buffer, 1, static_cast<size_t>(end - buffer), stderr);
            end = buffer;
        }
        end = formatRecord(end, current.fields, micros, tid, base, baseLength, line, text,
                           textLength, first + k);
    }
    std::fwrite(buffer, 1, static_cast<size_t>(end - buffer), stderr);
    return true;
}
