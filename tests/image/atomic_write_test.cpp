// Every output file is replaced whole or not at all: a write that fails part
// way (a file-size limit standing in for a full disk), or a process that
// dies part way through one, leaves the previous file as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "image/imageio.h"
#include "launcher/image_output.h"
#include "rendering/report.h"
#include "support/temp_dir.h"

namespace {

constexpr int kWidth = 64, kHeight = 48;

// A frame of noise: no format can pack it much below its raw size.
std::vector<float> frame(unsigned seed) {
    std::vector<float> rgb(kWidth * kHeight * 3);
    for (float &v : rgb) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(seed >> 8) / 16777216.0f;
    }
    return rgb;
}

// Writes the file of one format; `seed` picks its content.
using Writer = std::function<bool(const std::string &path, unsigned seed)>;

struct Format {
    const char *name;
    Writer write;
};

const Format kFormats[] = {
    {"picture.tga",
     [](const std::string &path, unsigned seed) {
         std::vector<float> rgb = frame(seed);
         return WriteImg(path.c_str(), rgb.data(), nullptr, kWidth, kHeight, kWidth, kHeight,
                         0, 0) == 1;
     }},
    {"picture.pfm",
     [](const std::string &path, unsigned seed) {
         std::vector<float> rgb = frame(seed);
         return WriteImg(path.c_str(), rgb.data(), nullptr, kWidth, kHeight, kWidth, kHeight,
                         0, 0) == 1;
     }},
    {"picture.png",
     [](const std::string &path, unsigned seed) {
         std::string error;
         return writePng(path, frame(seed).data(), kWidth, kHeight, &error);
     }},
    {"picture.exr",
     [](const std::string &path, unsigned seed) {
         std::string error;
         return writeExr(path, frame(seed).data(), kWidth, kHeight, &error);
     }},
    {"report.ma",
     [](const std::string &path, unsigned seed) {
         MayaAsciiWriter writer;
         if (!writer.open(path.c_str())) return false;
         for (int i = 0; i < 400; ++i) {
             const std::string group = "group" + std::to_string(seed) + "_" + std::to_string(i);
             writer.addTransform(group.c_str(), "bsdfSamples", true, true);
         }
         return writer.publish();
     }},
};

// Runs write in a child process whose files may not grow past `limit`
// bytes; with `survive` the child ignores the signal that limit raises, so
// its write fails and says so, otherwise the signal ends it part way.
// Returns the child's wait status.
int writeInLimitedChild(const Writer &write, const std::string &path, rlim_t limit,
                        bool survive) {
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, survive ? SIG_IGN : SIG_DFL);
        const rlimit fileSize{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0) _exit(3);
        _exit(write(path, 2) ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return status;
}

} // namespace

TEST(AtomicWrite, FailedOrInterruptedWriteKeepsThePreviousFile) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // The report's template is found in the working directory.
    std::filesystem::create_directory(dir.file("resources"));
    ASSERT_TRUE(writeFileBytes(dir.file("resources/empty.ma"),
                               std::vector<unsigned char>{'/', '/', 'M', 'a', 'y', 'a', '\n'}));
    ScopedChdir cwd(dir.path());
    ASSERT_TRUE(cwd.ok());

    for (const Format &format : kFormats) {
        const std::string path = dir.file(format.name);
        ASSERT_TRUE(format.write(path, 1)) << format.name;
        const std::vector<unsigned char> previous = readFileBytes(path);
        ASSERT_GT(previous.size(), 4096u) << format.name;

        for (const bool survive : {true, false}) {
            const std::string where =
                std::string(format.name) + (survive ? ", write fails" : ", writer dies");
            const int status = writeInLimitedChild(format.write, path, 2048, survive);
            if (survive) {
                ASSERT_TRUE(WIFEXITED(status)) << where;
                EXPECT_EQ(WEXITSTATUS(status), 1) << where << ": the failure is reported";
            } else {
                ASSERT_TRUE(WIFSIGNALED(status)) << where;
                EXPECT_EQ(WTERMSIG(status), SIGXFSZ) << where;
            }
            EXPECT_EQ(readFileBytes(path), previous) << where;
            // A failed write removes its own file; a killed one cannot, and
            // leaves it under a name of its own.
            int others = 0;
            for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
                if (!entry.is_regular_file() || entry.path().filename() == format.name) continue;
                ++others;
                std::filesystem::remove(entry.path());
            }
            if (survive) {
                EXPECT_EQ(others, 0) << where;
            }
        }
        // And a write that completes replaces the file.
        ASSERT_TRUE(format.write(path, 3)) << format.name;
        EXPECT_NE(readFileBytes(path), previous) << format.name;
        std::filesystem::remove(path);
    }
}
