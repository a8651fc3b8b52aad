// The program's command line and its own picture writers.
#include <gtest/gtest.h>
#include <png.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "util/display_gamma.h"
#include "launcher/image_output.h"
#include "image/imageio.h"
#include "launcher/options.h"
#include "support/temp_dir.h"

namespace {

CommandLine parse(std::vector<const char *> args) {
    args.insert(args.begin(), "vortan");
    return parseCommandLine(static_cast<int>(args.size()), args.data());
}

// A 3 x 2 frame holding the samples that test a writer's conversion.
std::vector<float> awkwardFrame() {
    const float inf = std::numeric_limits<float>::infinity();
    return {0.5f, 0.0f, 1.0f,  -0.25f, 2.0f,    std::nanf(""), inf,   -inf,  1e-6f,
            0.18f, 0.99f, 1e30f, 0.75f, -1e30f, 0.001f,        0.25f, 0.5f,  0.125f};
}

} // namespace

TEST(CommandLine, ReadsOptionsAroundTheScenes) {
    CommandLine plain = parse({"scene.ass"});
    EXPECT_EQ(plain.error, "");
    EXPECT_EQ(plain.scenes, std::vector<std::string>{"scene.ass"});
    EXPECT_EQ(plain.output, "image.tga");
    EXPECT_FALSE(plain.outputGiven);
    EXPECT_EQ(plain.format, OutputFormat::Tga);
    EXPECT_EQ(plain.threads, 0);
    EXPECT_TRUE(plain.settings.empty());
    EXPECT_FALSE(plain.quiet || plain.verbose || plain.help || plain.version || plain.noReport);

    CommandLine all = parse({"-q", "-o", "out/{name}.PNG", "a.ass", "--threads", "3", "b.ass",
                             "--res", "64x48", "--set", "ball.radius=2", "--camera", "side",
                             "-s", "3", "--report=r/{name}.ma", "--set=my.node.color=1 0 0"});
    EXPECT_EQ(all.error, "");
    EXPECT_EQ(all.scenes, (std::vector<std::string>{"a.ass", "b.ass"}));
    EXPECT_EQ(all.output, "out/{name}.PNG");
    EXPECT_EQ(all.format, OutputFormat::Png);
    EXPECT_EQ(all.threads, 3);
    EXPECT_EQ(all.report, "r/{name}.ma");
    EXPECT_TRUE(all.quiet);
    // Every override is a setting, in the order given.
    EXPECT_EQ(all.settings,
              (std::vector<std::string>{"options.xres=64", "options.yres=48", "ball.radius=2",
                                        "options.camera=\"side\"", "options.AA_samples=3",
                                        "my.node.color=1 0 0"}));

    CommandLine longForms = parse({"--output=a.exr", "--verbose", "--no-report", "--", "-s.ass"});
    EXPECT_EQ(longForms.error, "");
    EXPECT_EQ(longForms.scenes, std::vector<std::string>{"-s.ass"});
    EXPECT_EQ(longForms.format, OutputFormat::Exr);
    EXPECT_TRUE(longForms.verbose && longForms.noReport);
    EXPECT_EQ(parse({"-t", "256", "-o", "x.pfm", "s"}).format, OutputFormat::Pfm);
    // A region is four settings of the options; --merge takes tiles, not scenes.
    CommandLine region = parse({"--region", "1", "2", "30", "40", "s"});
    EXPECT_TRUE(region.regionGiven);
    EXPECT_EQ(region.settings,
              (std::vector<std::string>{"options.region_min_x=1", "options.region_min_y=2",
                                        "options.region_max_x=30", "options.region_max_y=40"}));
    CommandLine merge = parse({"--merge", "-o", "m.png", "a.exr", "b.exr"});
    EXPECT_EQ(merge.error, "");
    EXPECT_TRUE(merge.merge);
    EXPECT_EQ(merge.scenes, (std::vector<std::string>{"a.exr", "b.exr"}));
    EXPECT_EQ(parse({"a.ass", "b.ass", "-o", "shot.####.exr"}).error, "");

    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_TRUE(parse({"--help", "--bogus-after-help-is-still-refused"}).error != "");
    EXPECT_TRUE(parse({"--version"}).version);
    EXPECT_EQ(parse({"--version"}).error, "");
}

TEST(CommandLine, RefusesWhatItCannotUse) {
    const std::vector<std::vector<const char *>> bad = {
        {"-x", "scene.ass"},        {"scene.ass", "--out"},      {"scene.ass", "-o"},
        {"scene.ass", "-o", "a.jpg"}, {"scene.ass", "-o", "png"}, {"scene.ass", "-o", ".png"},
        {"scene.ass", "--output="}, {"scene.ass", "-t", "0"},    {"scene.ass", "-t", "257"},
        {"scene.ass", "-t", "2x"},  {"scene.ass", "-t", "-2"},   {"scene.ass", "-t"},
        {"scene.ass", "--quiet=1"}, {"-q"},                      {"scene.ass", "-"},
        {"scene.ass", "-t", "99999999999999999999"}, {"scene.ass", "-o", "a.Pfm"},
        {"scene.ass", "-o", "a.tGA"}, {"s", "--res", "640"},     {"s", "--res", "0x480"},
        {"s", "--res", "640x70000"}, {"s", "--res", "x480"},     {"s", "--camera", ""},
        {"s", "--camera", "a\"b"},  {"s", "-s", "0"},            {"s", "--samples", "many"},
        {"s", "--set", "radius=2"}, {"s", "--set", "ball.radius"}, {"s", "--set", ".radius=2"},
        {"s", "--set", "ball.=2"},  {"s", "--set", "ball.radius="}, {"s", "--report", ""},
        {"s", "-q", "-v"},          {"a", "b", "-o", "one.png"},  {"a", "b", "--report", "r.ma"},
        {"s", "--no-report=1"},     {"s", "--region", "0", "0", "9"},
        {"s", "--region", "5", "0", "4", "9"}, {"s", "--region", "0", "0", "9", "-1"},
        {"--merge", "a.exr"},       {"--merge", "-o", "x.exr"},  {"--merge", "-o", "{name}.exr", "a"},
        {"--merge", "-t", "2", "-o", "x.exr", "a"}};
    for (const auto &args : bad) {
        std::string joined;
        for (const char *a : args) joined += std::string(a) + " ";
        const std::string error = parse(args).error;
        EXPECT_NE(error, "") << joined;
        EXPECT_EQ(error.find('\n'), std::string::npos) << joined;
    }
    EXPECT_EQ(parse({"s", "-o", "a.jpg"}).error,
              "cannot write \"a.jpg\": the output file name must end in .tga, .pfm, .png or .exr "
              "(.tga and .pfm in lower or upper case)");
}

TEST(PictureFiles, PngHoldsTheTgaBytesOfTheFrame) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::vector<float> frame = awkwardFrame();
    std::string error;
    ASSERT_TRUE(writePng(dir.file("f.png"), frame.data(), 3, 2, &error)) << error;
    ASSERT_EQ(WriteImg(dir.file("f.tga").c_str(), frame.data(), nullptr, 3, 2, 3, 2, 0, 0), 1);

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, dir.file("f.png").c_str()));
    image.format = PNG_FORMAT_RGB;
    ASSERT_EQ(image.width, 3u);
    ASSERT_EQ(image.height, 2u);
    std::vector<unsigned char> png(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, png.data(), 0, nullptr));

    // The bytes use display gamma 2.3, and the file says so: a gAMA chunk of
    // 1/2.3 (in units of 1/100000) and no sRGB chunk.
    const std::vector<unsigned char> file = readFileBytes(dir.file("f.png"));
    std::vector<std::string> chunks;
    uint32_t gamma = 0;
    for (size_t at = 8; at + 8 <= file.size();) {
        const uint32_t length = (uint32_t{file[at]} << 24) | (uint32_t{file[at + 1]} << 16) |
                                (uint32_t{file[at + 2]} << 8) | file[at + 3];
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        chunks.push_back(type);
        if (type == "gAMA" && length == 4 && at + 12 <= file.size())
            gamma = (uint32_t{file[at + 8]} << 24) | (uint32_t{file[at + 9]} << 16) |
                    (uint32_t{file[at + 10]} << 8) | file[at + 11];
        at += 12 + length;
    }
    EXPECT_EQ(gamma, static_cast<uint32_t>(std::lround(100000.0 / 2.3)));
    EXPECT_EQ(std::count(chunks.begin(), chunks.end(), "sRGB"), 0);
    EXPECT_EQ(chunks.back(), "IEND");

    // The TGA file stores blue, green, red, bottom row first, after 18 bytes.
    const std::vector<unsigned char> tga = readFileBytes(dir.file("f.tga"));
    ASSERT_EQ(tga.size(), 18u + frame.size());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (static_cast<size_t>(y) * 3 + x) * 3 + c;
                EXPECT_EQ(png[i], toDisplayByte(frame[i])) << i;
                EXPECT_EQ(png[i], tga[18 + ((1 - y) * 3 + x) * 3 + (2 - c)]) << i;
            }
}

TEST(PictureFiles, ExrHoldsTheFrameBitForBit) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::vector<float> frame = awkwardFrame();
    std::string error;
    ASSERT_TRUE(writeExr(dir.file("f.exr"), frame.data(), 3, 2, &error)) << error;

    Imf::InputFile file(dir.file("f.exr").c_str());
    const Imath::Box2i window = file.header().dataWindow();
    ASSERT_EQ(window.max.x - window.min.x + 1, 3);
    ASSERT_EQ(window.max.y - window.min.y + 1, 2);
    for (const char *name : {"R", "G", "B"}) {
        const Imf::Channel *channel = file.header().channels().findChannel(name);
        ASSERT_NE(channel, nullptr) << name;
        EXPECT_EQ(channel->type, Imf::FLOAT) << name;
    }
    std::vector<float> back(frame.size(), -7.0f);
    char *base = reinterpret_cast<char *>(back.data());
    Imf::FrameBuffer buffer;
    const size_t px = 3 * sizeof(float), row = 3 * px;
    buffer.insert("R", Imf::Slice(Imf::FLOAT, base, px, row));
    buffer.insert("G", Imf::Slice(Imf::FLOAT, base + sizeof(float), px, row));
    buffer.insert("B", Imf::Slice(Imf::FLOAT, base + 2 * sizeof(float), px, row));
    file.setFrameBuffer(buffer);
    file.readPixels(window.min.y, window.max.y);
    EXPECT_EQ(std::memcmp(back.data(), frame.data(), frame.size() * sizeof(float)), 0);
}

TEST(PictureFiles, WritersReportFailures) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::vector<float> frame = awkwardFrame();
    const std::string missingDir = dir.file("no/such/dir/f");
    using Writer = bool (*)(const std::string &, const float *, int, int, std::string *);
    const Writer exr = [](const std::string &name, const float *rgb, int w, int h,
                          std::string *error) { return writeExr(name, rgb, w, h, error); };
    for (Writer write : {&writePng, exr}) {
        std::string error;
        EXPECT_FALSE(write(missingDir + ".x", frame.data(), 3, 2, &error));
        EXPECT_NE(error, "");
        error.clear();
        EXPECT_FALSE(write(dir.file("a.x"), frame.data(), 0, 2, &error));
        EXPECT_EQ(error, "size 0x2 is outside 1..65535");
        EXPECT_FALSE(write(dir.file("b.x"), frame.data(), 3, 65536, &error));
        EXPECT_FALSE(write(dir.file("c.x"), nullptr, 3, 2, &error));
        EXPECT_EQ(error, "no pixel data");
    }
}
