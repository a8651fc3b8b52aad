// What a render tells its host while it runs: the stage it is in, the rows
// done, and its log records. Without a host's callbacks everything goes out
// as it always has (progress as "\r%f" on standard output, log records on
// standard error); a host that installs callbacks (renderSceneJob) gets them
// instead and decides what a person sees.
#pragma once

#include <cstdint>

// Stages of one render, in order; Finished comes last whatever the outcome,
// before the library prints anything of its own on the standard streams.
enum class RenderStage { Loading = 0, Building = 1, Rendering = 2, Finished = 3 };

// The host's callbacks; a null one keeps the plain behaviour of its kind.
// Each is called one call at a time, from whichever thread has the news.
struct HostCallbacks {
    void *host = nullptr;
    void (*stage)(void *host, int stage) = nullptr;
    void (*progress)(void *host, uint32_t done, uint32_t total) = nullptr;
    // A log record: glog's severity (0 INFO to 3 FATAL), the message, and
    // the line as glog would print it (prefix and message, no newline).
    void (*record)(void *host, int severity, const char *text, const char *line) = nullptr;
    // INFO records are not made at all, only counted.
    bool countInfoRecords = false;
};

// Installs the callbacks while it lives (one render at a time in a
// process). Log records reach `record` instead of standard error once
// logging is started (startLogging in the render entry asks
// hostTakesLogRecords).
class HostReporting {
public:
    explicit HostReporting(const HostCallbacks &callbacks);
    ~HostReporting();
    HostReporting(const HostReporting &) = delete;
    HostReporting &operator=(const HostReporting &) = delete;

    // INFO records counted and not made since the object was made.
    uint64_t infoRecordsNotMade() const;
    // Routes glog's records to the host from now on (logging must be started).
    void takeLogRecords();

private:
    uint64_t m_droppedBefore = 0;
    int m_savedMinLogLevel = 0;
    int m_savedStderrThreshold = 0;
    bool m_sinkAdded = false;
};

// True while a host takes the log records: glog then writes nothing to
// standard error itself.
bool hostTakesLogRecords();
void reportStage(RenderStage stage);
// `done` rows of `total` finished: to the host, or as "\r%f" (done / total in
// single precision) on standard output.
void reportRowsDone(uint32_t done, uint32_t total);
