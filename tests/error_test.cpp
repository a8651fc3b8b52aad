#include <gtest/gtest.h>

#include <glog/logging.h>

#include <cstdarg>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/error.h"

namespace {

// Records every glog record written while a test runs.
class ReportingTest : public testing::Test, public google::LogSink {
protected:
    struct Record {
        google::LogSeverity severity;
        std::string text;
    };

    void SetUp() override { google::AddLogSink(this); }
    void TearDown() override { google::RemoveLogSink(this); }

    using google::LogSink::send;
    void send(google::LogSeverity severity, const char *, const char *, int,
              const google::LogMessageTime &, const char *message, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back({severity, std::string(message, length)});
    }

    std::vector<Record> records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

    // The reporter remembers the last message for the whole process: every
    // message of a test carries the test's name, so no test depends on
    // what ran before it.
    static std::string unique(const char *what) {
        return std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + ": " +
               what;
    }

private:
    std::mutex mutex_;
    std::vector<Record> records_;
};

void reportAs(const char *kind, const char *format, ...) __attribute__((format(printf, 2, 3)));
void reportAs(const char *kind, const char *format, ...) {
    va_list args;
    va_start(args, format);
    ReportError(format, args, kind);
    va_end(args);
}

} // namespace

TEST_F(ReportingTest, FormatsOneRecordPerMessage) {
    const std::string name = unique("scene.ass");
    Error("Could not read file: %s", name.c_str());
    Warning("Mesh %s have %d sides, it has to have 3", name.c_str(), 4);
    const auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].severity, google::GLOG_ERROR);
    EXPECT_EQ(r[0].text, "Could not read file: " + name);
    EXPECT_EQ(r[1].severity, google::GLOG_WARNING);
    EXPECT_EQ(r[1].text, "Mesh " + name + " have 4 sides, it has to have 3");
}

TEST_F(ReportingTest, ImmediateRepeatsAreDropped) {
    const std::string a = unique("A"), b = unique("B");
    Error("%s", a.c_str());
    Error("%s", a.c_str());
    EXPECT_EQ(records().size(), 1u);
    Error("%s", b.c_str());
    Error("%s", a.c_str());
    const auto r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].text, a);
    EXPECT_EQ(r[1].text, b);
    EXPECT_EQ(r[2].text, a);
}

TEST_F(ReportingTest, WarningRepeatingAnErrorIsDropped) {
    const std::string text = unique("same text");
    Error("%s", text.c_str());
    Warning("%s", text.c_str());
    const auto r = records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].severity, google::GLOG_ERROR);
}

TEST_F(ReportingTest, AnyOtherKindLogsAtErrorSeverity) {
    const std::string other = unique("other kind"), lower = unique("lower-case kind");
    reportAs("Info", "%s", other.c_str());
    reportAs("warning", "%s", lower.c_str()); // the kind is compared byte for byte
    reportAs("Warning", "%s", other.c_str());
    const auto r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].severity, google::GLOG_ERROR);
    EXPECT_EQ(r[1].severity, google::GLOG_ERROR);
    EXPECT_EQ(r[2].severity, google::GLOG_WARNING);
}

TEST_F(ReportingTest, LongMessagesAreLoggedWholeButLongNamesAreCut) {
    // Any number of names of up to 200 characters: no limit on the message.
    const std::string name = unique(std::string(200, 'x').c_str()).substr(0, 200);
    const char *n = name.c_str();
    Error("%s|%s|%s|%s|%s|%s|%s|%s", n, n, n, n, n, n, n, n);
    // A longer one is cut to 200 characters and "...", whatever follows it.
    const std::string longName = name + std::string(10000, 'y');
    Warning("Could not find file %s (%d, %.1f, %zu, %c, %%s)", longName.c_str(), -3, 0.5,
            size_t{7}, 'c');
    const auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].text, name + "|" + name + "|" + name + "|" + name + "|" + name + "|" + name +
                             "|" + name + "|" + name);
    EXPECT_EQ(r[1].text, "Could not find file " + name + "... (-3, 0.5, 7, c, %s)");
}

// Reports from several threads never interleave the repeat test and the
// update: no two records in a row carry the same text.
TEST_F(ReportingTest, ConcurrentReportsNeverRepeatBackToBack) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        const std::string text = unique("thread ") + std::to_string(t);
        threads.emplace_back([text] {
            for (int i = 0; i < 40; ++i) Warning("%s", text.c_str());
        });
    }
    for (std::thread &th : threads) th.join();
    const auto r = records();
    ASSERT_FALSE(r.empty());
    for (size_t i = 1; i < r.size(); ++i) EXPECT_NE(r[i].text, r[i - 1].text) << "record " << i;
}

namespace {

// Counts how often it is formatted into a log message.
struct CountedArgument {
    int *formatted;
};
std::ostream &operator<<(std::ostream &out, const CountedArgument &a) {
    ++*a.formatted;
    return out << "counted";
}

} // namespace

TEST_F(ReportingTest, MessagesGlogWouldDropAreNotFormatted) {
    const int savedLevel = FLAGS_minloglevel;
    int formatted = 0;
    FLAGS_minloglevel = google::GLOG_WARNING;
    INFO_LOG << CountedArgument{&formatted};
    EXPECT_EQ(formatted, 0);
    Warning("%s", unique("shown").c_str());
    FLAGS_minloglevel = google::GLOG_ERROR;
    Warning("%s", unique("dropped").c_str());
    Error("%s", unique("error shown").c_str());
    FLAGS_minloglevel = savedLevel;
    INFO_LOG << CountedArgument{&formatted};
    EXPECT_EQ(formatted, 1);

    std::vector<std::string> texts;
    for (const Record &r : records()) texts.push_back(r.text);
    EXPECT_EQ(texts, (std::vector<std::string>{unique("shown"), unique("error shown"), "counted"}));
}
