// The per-triangle INFO records written directly are the bytes glog writes:
// a mesh added with and without the direct path logs the same lines, but
// for the time of each record.
#include <glog/logging.h>
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "scene/world.h"
#include "shapes/mesh.h"
#include "util/info_records.h"

namespace {

// A fan of n triangles around the origin.
std::unique_ptr<MeshShape> fan(int n) {
    std::vector<Point3f> vertices{Point3f(0, 0, 0)};
    std::vector<int> indices;
    for (int k = 0; k <= n; ++k) {
        vertices.emplace_back(std::cos(0.1f * k), std::sin(0.1f * k), 1.0f);
        if (k > 0) indices.insert(indices.end(), {0, k, k + 1});
    }
    auto mesh = std::make_unique<MeshShape>(Transform(), nullptr);
    mesh->setData(n, static_cast<int>(vertices.size()), indices.data(), vertices.data(), 0,
                  nullptr, nullptr, nullptr, 0, nullptr);
    mesh->name = "fan";
    return mesh;
}

// What standard error gets when a world is given meshes of 3 and 300
// triangles, through glog or directly.
std::string logOfLoading(bool direct) {
    World world;
    std::unique_ptr<DirectInfoRecords> path =
        direct ? std::make_unique<DirectInfoRecords>() : nullptr;
    testing::internal::CaptureStderr();
    world.addMesh(fan(3));
    world.addMesh(fan(300));
    return testing::internal::GetCapturedStderr();
}

} // namespace

TEST(InfoRecords, DirectRecordsAreTheBytesGlogWrites) {
    const bool toStderr = FLAGS_logtostderr;
    const int level = FLAGS_minloglevel;
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_INFO;
    const std::string viaGlog = logOfLoading(false);
    const std::string direct = logOfLoading(true);
    FLAGS_minloglevel = google::GLOG_WARNING;
    const std::string quiet = logOfLoading(true);
    FLAGS_logtostderr = toStderr;
    FLAGS_minloglevel = level;

    // Every record: "I", the date, the time to the microsecond, the thread
    // id, file:line and the text; only the date and time may differ.
    const std::regex stamp("^I[0-9]{8} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{6} ");
    auto lines = [&](const std::string &text) {
        std::vector<std::string> out;
        size_t begin = 0;
        while (begin < text.size()) {
            const size_t end = text.find('\n', begin);
            std::string line = text.substr(begin, end - begin);
            begin = end == std::string::npos ? text.size() : end + 1;
            // glog's own notice, once, when nobody has initialised it.
            if (line.rfind("WARNING: Logging before InitGoogleLogging()", 0) == 0) continue;
            EXPECT_TRUE(std::regex_search(line, stamp)) << line;
            out.push_back(std::regex_replace(line, stamp, "I<time> "));
        }
        return out;
    };
    const std::vector<std::string> expected = lines(viaGlog);
    ASSERT_EQ(expected.size(), 2u + 3u + 300u);
    EXPECT_EQ(lines(direct), expected);
    EXPECT_EQ(direct.back(), '\n');
    // INFO silenced: no record either way.
    EXPECT_EQ(quiet, "");
}

TEST(InfoRecords, PrefixHasTheTimeToTheMicrosecondAndTheThreadIdInFivePlaces) {
    // 2009-02-13 23:31:30.000123 UTC, formatted in UTC.
    const bool utc = FLAGS_log_utc_time;
    FLAGS_log_utc_time = true;
    char out[256];
    const struct timeval when{1234567890, 123};
    const size_t n = formatInfoRecord(out, sizeof out, when, 42, "/some/dir/world.cpp", 62,
                                      "Adding triangle: ", 7);
    FLAGS_log_utc_time = utc;
    EXPECT_EQ(std::string(out, n),
              "I20090213 23:31:30.000123    42 world.cpp:62] Adding triangle: 7\n");
    EXPECT_EQ(formatInfoRecord(out, 40, when, 42, "world.cpp", 62, "Adding triangle: ", 7), 0u);
}
