// Collects the glog records written while it is alive, so that tests can
// check message texts and counts exactly.
#pragma once

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

class LogCapture : public google::LogSink {
public:
    struct Record {
        google::LogSeverity severity;
        std::string text;
    };

    LogCapture() { google::AddLogSink(this); }
    ~LogCapture() override { google::RemoveLogSink(this); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    using google::LogSink::send;
    void send(google::LogSeverity severity, const char *, const char *, int,
              const google::LogMessageTime &, const char *message, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back({severity, std::string(message, length)});
    }

    // Texts of the records of one severity, in order.
    std::vector<std::string> texts(google::LogSeverity severity) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const Record &r : records_)
            if (r.severity == severity) out.push_back(r.text);
        return out;
    }
    std::vector<std::string> infos() const { return texts(google::GLOG_INFO); }
    std::vector<std::string> errors() const { return texts(google::GLOG_ERROR); }

private:
    mutable std::mutex mutex_;
    std::vector<Record> records_;
};
