#include "rendering/host_reporting.h"

#include <glog/logging.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "util/error.h"

namespace {

// The callbacks of the render in progress (all null between renders).
HostCallbacks g_callbacks;

// Hands glog's records to the host. glog calls it with its own locks held,
// one record at a time; it logs nothing itself.
class HostLogSink : public google::LogSink {
public:
    void send(google::LogSeverity severity, const char *, const char *baseFilename, int line,
              const google::LogMessageTime &time, const char *message,
              size_t messageLength) override {
        // A fatal record is printed by glog itself before the process ends.
        if (severity >= google::GLOG_FATAL || g_callbacks.record == nullptr) return;
        const std::string text(message, messageLength);
        const std::string full = ToString(severity, baseFilename, line, time, message,
                                          messageLength);
        g_callbacks.record(g_callbacks.host, severity, text.c_str(), full.c_str());
    }
};

HostLogSink g_sink;
bool g_takingRecords = false;

} // namespace

HostReporting::HostReporting(const HostCallbacks &callbacks) {
    g_callbacks = callbacks;
    m_droppedBefore = g_infoRecordsDropped.load(std::memory_order_relaxed);
    m_savedMinLogLevel = FLAGS_minloglevel;
    if (callbacks.countInfoRecords)
        FLAGS_minloglevel = std::max<int>(FLAGS_minloglevel, google::GLOG_WARNING);
}

void HostReporting::takeLogRecords() {
    if (g_callbacks.record == nullptr || m_sinkAdded) return;
    // Records go to the sink only: no file of glog's, nothing on standard
    // error but a fatal record.
    for (int severity = google::GLOG_INFO; severity < google::NUM_SEVERITIES; ++severity)
        google::SetLogDestination(severity, "");
    m_savedStderrThreshold = FLAGS_stderrthreshold;
    FLAGS_stderrthreshold = google::GLOG_FATAL;
    FLAGS_logtostderr = false;
    google::AddLogSink(&g_sink);
    m_sinkAdded = true;
    g_takingRecords = true;
}

HostReporting::~HostReporting() {
    if (m_sinkAdded) {
        google::RemoveLogSink(&g_sink);
        // Back to the library's own way: every record on standard error.
        FLAGS_logtostderr = true;
        FLAGS_stderrthreshold = m_savedStderrThreshold;
        g_takingRecords = false;
    }
    FLAGS_minloglevel = m_savedMinLogLevel;
    g_callbacks = HostCallbacks();
}

uint64_t HostReporting::infoRecordsNotMade() const {
    return g_infoRecordsDropped.load(std::memory_order_relaxed) - m_droppedBefore;
}

bool hostTakesLogRecords() { return g_takingRecords; }

void reportStage(RenderStage stage) {
    if (g_callbacks.stage != nullptr) g_callbacks.stage(g_callbacks.host, static_cast<int>(stage));
}

void reportRowsDone(uint32_t done, uint32_t total) {
    if (g_callbacks.progress != nullptr) {
        g_callbacks.progress(g_callbacks.host, done, total);
        return;
    }
    const float progress = static_cast<float>(done) / static_cast<float>(total);
    std::printf("\r%f", static_cast<double>(progress));
    std::fflush(stdout);
}
