// Every output file is replaced whole or not at all: a write that fails part
// way (a file-size limit standing in for a full disk), or a process that
// dies part way through one, leaves the previous file as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "image/imageio.h"
#include "launcher/image_output.h"
#include "rendering/report.h"
#include "support/temp_dir.h"

namespace {

// Writes `name` (the format follows its ending) with content picked by
// `seed`: for pictures a 64 x 48 frame of noise, which no format packs much
// below its raw size; for the report 400 groups.
bool writeFile(const std::string &name, unsigned seed) {
    constexpr int w = 64, h = 48;
    std::vector<float> rgb(w * h * 3);
    for (float &v : rgb) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(seed >> 8) / 16777216.0f;
    }
    std::string error;
    const std::string ending = name.substr(name.size() - 3);
    if (ending == "png") return writePng(name, rgb.data(), w, h, &error);
    if (ending == "exr") return writeExr(name, rgb.data(), w, h, &error);
    if (ending != ".ma") return WriteImg(name.c_str(), rgb.data(), nullptr, w, h, w, h, 0, 0) == 1;
    MayaAsciiWriter writer;
    if (!writer.open(name.c_str())) return false;
    for (int i = 0; i < 400; ++i)
        writer.addTransform(("g" + std::to_string(seed + i)).c_str(), "bsdfSamples", true, true);
    return writer.publish();
}

} // namespace

TEST(AtomicWrite, FailedOrInterruptedWriteKeepsThePreviousFile) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // The report's template is found in the working directory.
    std::filesystem::create_directory(dir.file("resources"));
    ASSERT_TRUE(writeFileBytes(dir.file("resources/empty.ma"), {'/', '/', '\n'}));
    ScopedChdir cwd(dir.path());
    ASSERT_TRUE(cwd.ok());

    for (const char *name : {"picture.tga", "picture.pfm", "picture.png", "picture.exr",
                             "report.ma"}) {
        const std::string path = dir.file(name);
        ASSERT_TRUE(writeFile(path, 1)) << name;
        const std::vector<unsigned char> previous = readFileBytes(path);
        ASSERT_GT(previous.size(), 4096u) << name;

        // In a child whose files may not grow past 2 kB: one that ignores
        // the signal the limit raises sees its write fail, the other dies.
        for (const bool survive : {true, false}) {
            const std::string where = std::string(name) + (survive ? ", failed" : ", killed");
            const pid_t child = fork();
            if (child == 0) {
                std::signal(SIGXFSZ, survive ? SIG_IGN : SIG_DFL);
                const rlimit fileSize{2048, 2048};
                if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0) _exit(3);
                _exit(writeFile(path, 2) ? 0 : 1);
            }
            int status = -1;
            waitpid(child, &status, 0);
            if (survive) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << where;
            } else {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << where;
            }
            EXPECT_EQ(readFileBytes(path), previous) << where;
            // A failed write removes its own file; a killed one leaves it,
            // under a name of its own.
            int others = 0;
            for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
                if (!entry.is_regular_file() || entry.path().filename() == name) continue;
                ++others;
                std::filesystem::remove(entry.path());
            }
            EXPECT_TRUE(!survive || others == 0) << where;
        }
        // A write that completes replaces the file.
        ASSERT_TRUE(writeFile(path, 3)) << name;
        EXPECT_NE(readFileBytes(path), previous) << name;
        std::filesystem::remove(path);
    }
}
