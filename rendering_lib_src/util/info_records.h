// Runs of numbered INFO records ("Adding triangle: 7", "... 8", ...) written
// straight to standard error in the bytes glog writes for each, without
// glog's per-record costs (a system call for the thread id, stream
// formatting, a lock). Used only where the caller has said that glog logs
// to standard error in its plain form; otherwise the records go through
// glog one by one.
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>

// While one is alive, writeNumberedInfoRecords on this thread may take the
// direct path. For a process whose logging the library set up itself: glog
// with its default prefix, no log sink of anybody's, all records to
// standard error.
class DirectInfoRecords {
public:
    DirectInfoRecords();
    ~DirectInfoRecords();
    DirectInfoRecords(const DirectInfoRecords &) = delete;
    DirectInfoRecords &operator=(const DirectInfoRecords &) = delete;

private:
    bool m_previous;
};

// Writes `count` INFO records "<text><first + k>" as if logged from
// file:line on this thread, in order. False (nothing written) when the
// direct path is not available: the caller then logs them through glog.
// With INFO records silenced, writes nothing and returns true.
bool writeNumberedInfoRecords(const char *file, int line, const char *text, int64_t first,
                              int64_t count);

// One record as glog formats it for severity letter 'I' at the given time of
// day (as gettimeofday gives it) and thread id; at most `capacity` bytes
// with the line end. Returns the length, 0 when it does not fit.
size_t formatInfoRecord(char *out, size_t capacity, const struct timeval &when, unsigned tid,
                        const char *file, int line, const char *text, int64_t number);
