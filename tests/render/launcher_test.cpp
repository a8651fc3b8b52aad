// The vortan program, run as a subprocess with standard input from /dev/null
// or a pipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "render/render_scene.h"
#include "support/run_program.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using namespace render_test;

namespace {

bool endsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool exists(const std::string &path) { return std::filesystem::exists(path); }

// A 4 x 3 scene whose driver asks for another output name.
const std::string kScene = header(4, 3, 45) + pointLight(0, 0, 0, 10) + sphere(0, 0, -5, 1, "");

} // namespace

TEST(Launcher, WithoutArgumentPrintsUsage) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const RunResult r = run(VORTAN_EXE, {}, dir.path());
    EXPECT_EQ(r.status, 255); // -1
    EXPECT_EQ(r.err, std::string("RenderingUsage: ") + VORTAN_EXE + " <dgc file>");
    EXPECT_EQ(r.out, "");
}

TEST(Launcher, LibraryWithoutWriteImg) {
    // The program loads the library next to itself first.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    namespace fs = std::filesystem;
    fs::copy_file(VORTAN_EXE, dir.file("vortan"));
    fs::copy_file(VORTAN_NO_WRITEIMG_LIB, dir.file("librendering.so"));
    writeFileBytes(dir.file("scene.ass"), std::vector<unsigned char>(kScene.begin(), kScene.end()));

    const RunResult r = run(dir.file("vortan"), {"scene.ass"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "could not locate the function WriteImg");
    EXPECT_EQ(r.err, "Rendering");
    EXPECT_FALSE(exists(dir.file("image.tga")));
    EXPECT_FALSE(exists(dir.file("report.ma")));
}

TEST(Launcher, WritesImageTgaWhateverTheDriverSays) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeReportTemplate(dir.path());
    writeFileBytes(dir.file("scene.ass"), std::vector<unsigned char>(kScene.begin(), kScene.end()));

    const RunResult r = run(VORTAN_EXE, {"scene.ass"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\r0.333333\r0.666667\r1.000000");
    EXPECT_EQ(r.err.rfind("Rendering", 0), 0u);
    EXPECT_TRUE(exists(dir.file("report.ma")));
    EXPECT_FALSE(exists(dir.file("out.tif")));

    // An uncompressed true-colour TGA of the film's size.
    const std::vector<unsigned char> tga = readFileBytes(dir.file("image.tga"));
    ASSERT_GE(tga.size(), 18u + 4 * 3 * 3);
    EXPECT_EQ(tga[2], 2);
    EXPECT_EQ(tga[12] | (tga[13] << 8), 4);
    EXPECT_EQ(tga[14] | (tga[15] << 8), 3);
    EXPECT_EQ(tga[16], 24);
}

TEST(Launcher, MissingSceneFails) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const RunResult r = run(VORTAN_EXE, {"missing.ass"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.err, "Error reading file missing.ass. Press enter to exit")) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(exists(dir.file("image.tga")));
}

TEST(Launcher, MissingSceneDoesNotWaitForInputFromAPipe) {
    // Standard input is a pipe that stays open and silent: only a terminal
    // gets asked to press enter. Blocked, the program is killed after 30 s.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const RunResult r = run(VORTAN_EXE, {"missing.ass"}, dir.path(), fds[0], 30);
    close(fds[0]);
    close(fds[1]);
    EXPECT_FALSE(r.killed);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.err, "Error reading file missing.ass. Press enter to exit")) << r.err;
}

TEST(Launcher, UnwritableImageFails) {
    // "image.tga" is a directory: WriteImg cannot write it, and the program
    // must not report success.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeReportTemplate(dir.path());
    writeFileBytes(dir.file("scene.ass"), std::vector<unsigned char>(kScene.begin(), kScene.end()));
    std::filesystem::create_directory(dir.file("image.tga"));

    const RunResult r = run(VORTAN_EXE, {"scene.ass"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.out, "\r1.000000"));
}

TEST(Launcher, ImageFileIsTheSameForEveryThreadCountAndAccelerator) {
    // The showcase with its texture, rendered by the program itself: the
    // bytes of image.tga do not depend on VORTAN_THREADS or VORTAN_ACCEL.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeReportTemplate(dir.path());
    const std::filesystem::path source(VORTAN_SOURCE_DIR);
    writeFileBytes(dir.file("checker.tga"), readFileBytes((source / "scenes/checker.tga").string()));
    writeFileBytes(dir.file("showcase.ass"),
                   readFileBytes((source / "scenes/showcase.ass").string()));

    // Embree (which also builds its tree on VORTAN_THREADS threads) may pick
    // another triangle at an edge than the other two, so its images are
    // compared among themselves.
    std::vector<unsigned char> first, firstEmbree;
    const char *settings[][2] = {{"1", "none"},   {"2", "kdtree"}, {"3", "kdtree"},
                                 {"7", "none"},   {"1", "embree"}, {"2", "embree"},
                                 {"7", "embree"}};
    for (const auto &s : settings) {
#if !VORTAN_HAVE_EMBREE
        if (std::string(s[1]) == "embree") continue;
#endif
        SCOPED_TRACE(std::string(s[0]) + " threads, " + s[1]);
        ScopedEnv threads("VORTAN_THREADS", s[0]);
        ScopedEnv accel("VORTAN_ACCEL", s[1]);
        std::filesystem::remove(dir.file("image.tga"));
        const RunResult r = run(VORTAN_EXE, {"showcase.ass"}, dir.path());
        ASSERT_EQ(r.status, 0);
        const std::vector<unsigned char> image = readFileBytes(dir.file("image.tga"));
        ASSERT_GT(image.size(), 18u);
        std::vector<unsigned char> &reference = std::string(s[1]) == "embree" ? firstEmbree : first;
        if (reference.empty())
            reference = image;
        else
            EXPECT_TRUE(image == reference);
    }
}

TEST(Launcher, InstalledProgramFindsItsReportTemplate) {
    // Installed into a fresh prefix and run where there is no resources/
    // folder, the program reports from the template installed with it.
    TempDir prefix, dir;
    ASSERT_TRUE(prefix.ok());
    ASSERT_TRUE(dir.ok());
    const RunResult install =
        run(VORTAN_CMAKE, {"--install", VORTAN_BUILD_DIR, "--prefix", prefix.path()}, dir.path());
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    writeFileBytes(dir.file("scene.ass"), std::vector<unsigned char>(kScene.begin(), kScene.end()));

#if defined(__SANITIZE_ADDRESS__)
    // GCC's AddressSanitizer makes dlopen its own call, so the program's run
    // path (bin/../lib) is not searched: the library's directory is named.
    ScopedEnv libraryPath("LD_LIBRARY_PATH", prefix.file("lib").c_str());
#endif
    const RunResult r = run(prefix.file("bin/vortan"), {"scene.ass"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("Could not find empty.ma"), std::string::npos) << r.err;
    const std::string templ = readText(std::string(VORTAN_SOURCE_DIR) + "/resources/empty.ma");
    const std::string report = readText(dir.file("report.ma"));
    ASSERT_FALSE(templ.empty());
    EXPECT_GT(report.size(), templ.size());
    EXPECT_EQ(report.compare(0, templ.size(), templ), 0);
    EXPECT_TRUE(exists(dir.file("image.tga")));

    // A template below the working directory comes first.
    const std::string mine = "//local template\n";
    std::filesystem::create_directory(dir.file("resources"));
    writeFileBytes(dir.file("resources/empty.ma"),
                   std::vector<unsigned char>(mine.begin(), mine.end()));
    const RunResult local = run(prefix.file("bin/vortan"), {"scene.ass"}, dir.path());
    EXPECT_EQ(local.status, 0) << local.out << local.err;
    EXPECT_EQ(readText(dir.file("report.ma")).rfind(mine, 0), 0u);
}

TEST(Launcher, OptionsChooseTheOutputThreadsAndQuiet) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeReportTemplate(dir.path());
    writeFileBytes(dir.file("scene.ass"), std::vector<unsigned char>(kScene.begin(), kScene.end()));
    // The option's thread count wins over the environment's.
    ScopedEnv threads("VORTAN_THREADS", "many");

    const RunResult quiet = run(VORTAN_EXE, {"-q", "-o", "out.png", "scene.ass", "-t", "2"},
                                dir.path());
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, ""); // no progress figures
    // Warnings and errors only, and none about the thread count.
    EXPECT_EQ(quiet.err.find("VORTAN_THREADS"), std::string::npos) << quiet.err;
    for (size_t at = 0; at < quiet.err.size(); at = quiet.err.find('\n', at) + 1) {
        EXPECT_TRUE(quiet.err[at] == 'W' || quiet.err[at] == 'E') << quiet.err.substr(at, 60);
        if (quiet.err.find('\n', at) == std::string::npos) break;
    }
    const RunResult loud = run(VORTAN_EXE, {"scene.ass", "-o", "loud.png"}, dir.path());
    EXPECT_EQ(loud.err.rfind("Rendering", 0), 0u);
    EXPECT_NE(loud.err.find("Invalid VORTAN_THREADS"), std::string::npos);
    EXPECT_TRUE(exists(dir.file("out.png")));
    EXPECT_FALSE(exists(dir.file("image.tga")));

    // Each ending writes its format (the contents are checked where the
    // writers are tested).
    for (const char *name : {"out.exr", "OUT.PFM", "plain.tga"}) {
        const RunResult r = run(VORTAN_EXE, {"scene.ass", "--output", name}, dir.path());
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_TRUE(exists(dir.file(name))) << name;
    }
    const std::vector<unsigned char> tga = readFileBytes(dir.file("plain.tga"));
    const std::vector<unsigned char> png = readFileBytes(dir.file("out.png"));
    ASSERT_EQ(tga.size(), 18u + 4 * 3 * 3);
    EXPECT_EQ(std::string(png.begin(), png.begin() + 4), "\x89PNG");
    const std::vector<unsigned char> exr = readFileBytes(dir.file("out.exr"));
    ASSERT_GT(exr.size(), 4u);
    EXPECT_EQ(std::string(exr.begin(), exr.begin() + 4), std::string("\x76\x2f\x31\x01", 4));
}

TEST(Launcher, HelpVersionAndBadOptions) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeReportTemplate(dir.path());
    writeFileBytes(dir.file("scene.ass"), std::vector<unsigned char>(kScene.begin(), kScene.end()));

    const RunResult help = run(VORTAN_EXE, {"--help"}, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(std::string("Usage: ") + VORTAN_EXE + " [options] scene.ass", 0), 0u);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(run(VORTAN_EXE, {"scene.ass", "-h"}, dir.path()).out, help.out);
    const RunResult version = run(VORTAN_EXE, {"--version"}, dir.path());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vortan ", 0), 0u);

    const std::vector<std::vector<std::string>> bad = {
        {"--help-me", "scene.ass"}, {"scene.ass", "-o", "a.jpg"}, {"scene.ass", "-o"},
        {"-t", "0", "scene.ass"},   {"-q"},                        {"scene.ass", "-t", "x"}};
    for (const auto &args : bad) {
        const RunResult r = run(VORTAN_EXE, args, dir.path());
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        // One line, pointing at the help.
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_TRUE(endsWith(r.err, "; see vortan --help\n")) << r.err;
    }
    EXPECT_FALSE(exists(dir.file("image.tga")));
    EXPECT_FALSE(exists(dir.file("report.ma")));
}

TEST(Launcher, HostRendersTwiceAndFreesBoth) {
    // Run in the sanitizer build too, where the leak check fails the host
    // if anything of either render is left.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeReportTemplate(dir.path());
    writeFileBytes(dir.file("scene.ass"), std::vector<unsigned char>(kScene.begin(), kScene.end()));
    const RunResult r = run(VORTAN_TWO_RENDERS, {VORTAN_LIB, "scene.ass"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(endsWith(r.err, "two renders freed\n")) << r.err;
}
