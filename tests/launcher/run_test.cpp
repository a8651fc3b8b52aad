// The vortan program as people and scripts use it: what each audience sees,
// several scenes in one run, overrides of the scene's settings, where the
// report goes, and the output checks made before anything is rendered.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/outputs.h"
#include "launcher/options.h"
#include "launcher/terminal.h"
#include "render/render_scene.h"
#include "support/run_program.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using namespace render_test;

namespace {

namespace fs = std::filesystem;

bool contains(const std::string &s, const std::string &part) {
    return s.find(part) != std::string::npos;
}

void writeText(const std::string &path, const std::string &text) {
    ASSERT_TRUE(writeFileBytes(path, std::vector<unsigned char>(text.begin(), text.end())));
}

// Width and height from a TGA file's header; 0 x 0 when there is none.
std::pair<int, int> tgaSize(const std::string &path) {
    const std::vector<unsigned char> tga = readFileBytes(path);
    if (tga.size() < 18) return {0, 0};
    return {tga[12] | (tga[13] << 8), tga[14] | (tga[15] << 8)};
}

// A small scene with a second camera, no output driver, and an image node
// whose file is missing (an error the load goes on after).
std::string scene(int xres, int yres, float radius, const std::string &camera = "cam",
                  float intensity = 10) {
    return "options\n{\n xres " + std::to_string(xres) + "\n yres " + std::to_string(yres) +
           "\n camera \"" + camera + "\"\n}\npersp_camera\n{\n name cam\n fov 45\n}\n" +
           "persp_camera\n{\n name wide\n fov 90\n}\n" + pointLight(0, 2, 0, intensity) +
           sphere(0, 0, -5, radius, "") + "image\n{\n name tex\n filename \"gone.tga\"\n}\n";
}

// A directory with the report template and scene.ass in it.
struct Workspace {
    TempDir dir;
    Workspace() {
        writeReportTemplate(dir.path());
        writeText(dir.file("scene.ass"), scene(4, 3, 1));
    }
    RunResult vortan(const std::vector<std::string> &args, bool terminal = false) const {
        return run(VORTAN_EXE, args, dir.path(), -1, 0, terminal);
    }
};

size_t count(const std::string &s, const std::string &part) {
    size_t n = 0;
    for (size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + 1)) ++n;
    return n;
}

} // namespace

TEST(Launcher, EachAudienceSeesItsOwn) {
    // The format's conventions: under the classic ones the terminal gets
    // the plain output too.
    ScopedEnv conventions("VORTAN_CLASSIC", "0");
    Workspace w;
    const RunResult plain = w.vortan({"scene.ass"});
    const size_t infoLines = count(plain.err, "\nI") + (plain.err.rfind("RenderingI", 0) == 0);
    ASSERT_GT(infoLines, 3u);

    struct Case {
        std::vector<std::string> args;
        bool terminal;
        bool plainLog; // glog lines and "\r%f" progress on standard output, as always
        bool bar;      // a progress bar and a summary on the terminal
        bool info;     // INFO lines shown
    } cases[] = {
        {{"scene.ass"}, true, false, true, false},
        {{"-v", "scene.ass"}, true, false, true, true},
        {{"-q", "scene.ass"}, true, false, false, false},
        {{"--classic", "scene.ass"}, true, true, false, true},
        {{"-v", "scene.ass"}, false, true, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + (c.terminal ? " at a terminal" : " into a file"));
        const RunResult r = w.vortan(c.args, c.terminal);
        EXPECT_EQ(r.status, 0);
        // Classic frames report each row; sampled ones each tile (one here).
        const bool classic = c.args[0] == "--classic";
        EXPECT_EQ(r.out, !c.plainLog ? "" : classic ? "\r0.333333\r0.666667\r1.000000" : "\r1.000000");
        EXPECT_EQ(r.err.rfind("Rendering", 0) == 0, c.plainLog) << r.err;
        EXPECT_EQ(contains(r.err, "] Time taken: "), c.info) << r.err;
        EXPECT_EQ(contains(r.err, "100%  0:00 elapsed\x1b[K\r\n"), c.bar) << r.err;
        EXPECT_EQ(contains(r.err, "scene.ass: wrote image.tga (4 x 3)\r\n  load "), c.bar) << r.err;
        // The error of the load is shown to every audience, once.
        EXPECT_EQ(count(r.err, "Unable to open TGA file \"gone.tga\""), 1u) << r.err;
        if (c.bar && !c.info) {
            EXPECT_TRUE(contains(r.err, "error: Unable to open TGA file \"gone.tga\"\r\n"));
            // As many as the plain log has.
            EXPECT_TRUE(contains(r.err, std::to_string(infoLines) +
                                            " information lines not shown (-v shows them)\r\n"))
                << r.err;
        }
    }
}

TEST(Launcher, SeveralScenesGoOnPastAFailure) {
    Workspace w;
    // Settings of one scene must not reach the next: c.ass has no options
    // node, so its film is the default 600 x 600, not a.ass's 5 x 4.
    writeText(w.dir.file("a.ass"), scene(5, 4, 1, "wide"));
    writeText(w.dir.file("c.ass"), "persp_camera\n{\n name first\n}\n" + pointLight(0, 0, 0, 10) +
                                        sphere(0, 0, -5, 1, ""));
    fs::create_directory(w.dir.file("out"));

    const RunResult r = w.vortan({"a.ass", "missing.ass", "c.ass", "-o", "out/{name}.tga"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tgaSize(w.dir.file("out/a.tga")), std::make_pair(5, 4));
    EXPECT_EQ(tgaSize(w.dir.file("out/c.tga")), std::make_pair(600, 600));
    EXPECT_TRUE(fs::exists(w.dir.file("out/a.ma")) && fs::exists(w.dir.file("out/c.ma")));
    EXPECT_FALSE(fs::exists(w.dir.file("out/missing.tga")));
    EXPECT_TRUE(contains(r.err, "\na.ass: wrote out/a.tga (5 x 4)\n  load ")) << r.err;
    EXPECT_TRUE(contains(r.err, "\nmissing.ass: failed (the scene could not be read)\n"));
    EXPECT_TRUE(contains(r.err, "\nc.ass: wrote out/c.tga (600 x 600)\n  load "));
    EXPECT_TRUE(contains(r.err, "\n2 of 3 scenes rendered\n"));

    // Without -o each goes beside the others under its own name; a run
    // frame numbers the files.
    std::string framed = scene(5, 4, 1);
    framed.insert(framed.find(" xres"), " frame 7\n");
    writeText(w.dir.file("b.ass"), framed);
    const RunResult good = w.vortan({"a.ass", "b.ass"});
    EXPECT_EQ(good.status, 0) << good.err;
    for (const char *file : {"a.tga", "a.ma", "b.tga", "b.ma"}) EXPECT_TRUE(fs::exists(w.dir.file(file))) << file;
    EXPECT_FALSE(fs::exists(w.dir.file("image.tga")) || fs::exists(w.dir.file("report.ma")));
    EXPECT_FALSE(contains(good.err, "Output file not found"));
    EXPECT_EQ(w.vortan({"b.ass", "-o", "f.###.png"}).status, 0);
    EXPECT_TRUE(fs::exists(w.dir.file("f.007.png")) && fs::exists(w.dir.file("f.007.ma")));
    const RunResult unnumbered = w.vortan({"a.ass", "b.ass", "-o", "f.###.png"});
    EXPECT_EQ(unnumbered.status, 1);
    EXPECT_TRUE(contains(unnumbered.err, "Cannot render a.ass: the scene has no frame number "
                                         "for \"f.###.png\"\n"));
}

TEST(Launcher, OverridesReadAsTheSceneFileWould) {
    // Each override gives the picture of the scene file edited to say it.
    const struct {
        std::vector<std::string> args;
        std::string edited;
    } cases[] = {
        {{"--res", "6x5"}, scene(6, 5, 1)},
        {{"--camera", "wide"}, scene(4, 3, 1, "wide")},
        {{"--set", "ball.radius=1.5"}, scene(4, 3, 1.5f)},
        {{"--set", "options.yres=2", "--set", "ball.radius=2"}, scene(4, 2, 2)},
        {{"--set", "light.intensity=40"}, scene(4, 3, 1, "cam", 40)},
        {{"-s", "3"}, scene(4, 3, 1)}, // the sampling reads it; the picture stays the same
    };
    Workspace w;
    ASSERT_EQ(w.vortan({"scene.ass", "-o", "base.tga"}).status, 0);
    const std::vector<unsigned char> base = readFileBytes(w.dir.file("base.tga"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        writeText(w.dir.file("edited.ass"), c.edited);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"scene.ass", "-o", "set.tga"});
        EXPECT_EQ(w.vortan(args).status, 0);
        EXPECT_EQ(w.vortan({"edited.ass", "-o", "edited.tga"}).status, 0);
        const std::vector<unsigned char> set = readFileBytes(w.dir.file("set.tga"));
        EXPECT_TRUE(set == readFileBytes(w.dir.file("edited.tga")));
        EXPECT_EQ(set == base, c.args[0] == "-s");
    }
    // A scene without an options node gets one for the options' settings.
    writeText(w.dir.file("bare.ass"), "persp_camera\n{\n name c\n}\n" + sphere(0, 0, -5, 1, ""));
    EXPECT_EQ(w.vortan({"bare.ass", "--res", "3x2"}).status, 0);
    EXPECT_EQ(tgaSize(w.dir.file("image.tga")), std::make_pair(3, 2));

    // What the scene does not have is an error, and nothing is written.
    const std::pair<std::vector<std::string>, std::string> wrong[] = {
        {{"--set", "nosuch.radius=1"}, "Cannot set nosuch.radius: the scene has no node named nosuch"},
        {{"--set", "ball.radiuss=1"}, "Cannot set ball.radiuss: sphere nodes have no parameter radiuss"},
        {{"--camera", "nope"}, "Cannot set options.camera: the scene has no camera named nope"},
        {{"--set", "ball.radius=1 }"}, "Setting \"ball.radius=1 }\": the value must be one line of "
                                        "text without braces"},
    };
    for (const auto &c : wrong) {
        std::vector<std::string> args = c.first;
        args.insert(args.end(), {"scene.ass", "-o", "wrong.tga"});
        const RunResult r = w.vortan(args);
        EXPECT_EQ(r.status, 1) << c.second;
        EXPECT_TRUE(contains(r.err, "] " + c.second + "\n")) << r.err;
        EXPECT_FALSE(fs::exists(w.dir.file("wrong.tga"))) << c.second;
    }
}

TEST(Launcher, ReportGoesBesideThePictureOrWhereAsked) {
    const struct {
        std::vector<std::string> args;
        const char *report; // null: none at all
    } cases[] = {
        {{}, "report.ma"},
        {{"-o", "pics/out.png"}, "pics/out.ma"},
        {{"-o", "out.png", "--report", "logs/rays.ma"}, "logs/rays.ma"},
        {{"-o", "out.png", "--no-report"}, nullptr},
    };
    for (const auto &c : cases) {
        Workspace w;
        fs::create_directory(w.dir.file("pics"));
        fs::create_directory(w.dir.file("logs"));
        std::vector<std::string> args = c.args;
        args.push_back("scene.ass");
        const RunResult r = w.vortan(args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> reports;
        for (const auto &entry : fs::recursive_directory_iterator(w.dir.path()))
            if (entry.path().extension() == ".ma" && entry.path().parent_path().filename() != "resources")
                reports.push_back(fs::relative(entry.path(), w.dir.path()).string());
        EXPECT_EQ(reports, c.report != nullptr ? std::vector<std::string>{c.report}
                                               : std::vector<std::string>{});
        // Only a run that names no picture is told the scene names none.
        EXPECT_EQ(contains(r.err, "Output file not found, using image.tga"), c.args.empty());
    }
}

TEST(Launcher, OutputDirectoriesAreCheckedBeforeRendering) {
    Workspace w;
    writeText(w.dir.file("plain-file"), "x");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-o", "nodir/x.png"}, "Cannot write \"nodir/x.png\": the directory \"nodir\" does not exist\n"},
        {{"--report", "nodir/r.ma"}, "Cannot write \"nodir/r.ma\": the directory \"nodir\" does not exist\n"},
        {{"-o", "plain-file/x.exr"}, "Cannot write \"plain-file/x.exr\": \"plain-file\" is not a directory\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.first;
        args.push_back("scene.ass");
        const RunResult r = w.vortan(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.second); // before anything else is printed
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(w.dir.file("report.ma")) || fs::exists(w.dir.file("image.tga")));
    }
}

TEST(Launcher, NamesFollowTheCommandLine) {
    auto plan = [](std::vector<const char *> args) {
        args.insert(args.begin(), "vortan");
        const CommandLine cl = parseCommandLine(static_cast<int>(args.size()), args.data());
        EXPECT_EQ(cl.error, "");
        std::vector<std::string> names;
        for (const ScenePlan &p : planOutputs(cl)) names.insert(names.end(), {p.picture, p.report});
        return names;
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(plan({"d/s.ass"}), (Names{"image.tga", "report.ma"}));
    EXPECT_EQ(plan({"d/s.1.ass", ".hidden"}), (Names{"s.1.tga", "s.1.ma", ".hidden.tga", ".hidden.ma"}));
    EXPECT_EQ(plan({"a.ass", "-o", "o/{name}_{name}.exr", "--report", "r/{name}"}),
              (Names{"o/a_a.exr", "r/a"}));
    EXPECT_EQ(plan({"a.ass", "-o", "x.pfm", "--no-report"}), (Names{"x.pfm", ""}));
    EXPECT_EQ(reportBeside("v1.0/pic"), "v1.0/pic.ma");
    EXPECT_EQ(expandFrame("f.#.##.####.exr", 41.6f), "f.42.42.0042.exr");
    EXPECT_EQ(expandFrame("f#", -3.0f), "f-3");
    EXPECT_EQ(sharedOutput(planOutputs(parseCommandLine(3, std::vector<const char *>{"v", "a/x.ass", "b/x.ass"}.data()))),
              "scenes a/x.ass and b/x.ass would both write x.tga");
}

TEST(TerminalView, ProgressLineFitsTheTerminal) {
    // 75 s in: the time left is what the rows done so far took per row.
    const std::pair<uint32_t, const char *> cases[] = {
        {0, "  0%  1:15 elapsed"},
        {2, " 25%  1:15 elapsed, 3:45 left"},
        {7, " 87%  1:15 elapsed, 0:10 left"},
        {8, "100%  1:15 elapsed"}};
    for (size_t columns : {40u, 60u, 80u, 200u})
        for (const auto &c : cases) {
            const std::string line = progressLine("scene.ass", c.first, 8, 75.0, columns);
            EXPECT_LT(line.size(), columns) << line;
            EXPECT_EQ(line.rfind("scene.ass", 0), 0u) << line;
            EXPECT_EQ(line.substr(line.size() - std::strlen(c.second)), c.second) << line;
            EXPECT_EQ(contains(line, "["), columns >= 60) << line;
        }
    EXPECT_EQ(formatDuration(3725.9), "1:02:05");
    EXPECT_EQ(formatDuration(-1.0), "0:00");
}
