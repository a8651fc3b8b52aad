// Parts of a frame put back together by vortan --merge.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/imageio.h"
#include "launcher/image_output.h"
#include "launcher/tile_merge.h"
#include "support/temp_dir.h"
#include "util/display_gamma.h"

namespace {

constexpr int kWidth = 7, kHeight = 5;

// A frame of distinct values, some of them black.
std::vector<float> testFrame() {
    std::vector<float> f(kWidth * kHeight * 3);
    for (size_t i = 0; i < f.size(); ++i) f[i] = (i % 11 == 0) ? 0.0f : 0.013f * float(i) + 1e-7f;
    return f;
}

// The frame black outside rows y0..y1.
std::vector<float> band(const std::vector<float> &frame, int y0, int y1) {
    std::vector<float> out(frame.size(), 0.0f);
    const size_t row = kWidth * 3;
    std::copy(frame.begin() + y0 * row, frame.begin() + (y1 + 1) * row, out.begin() + y0 * row);
    return out;
}

std::string bytesOf(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool readAll(const std::vector<std::string> &names, std::vector<Tile> &tiles, std::string *error) {
    tiles.assign(names.size(), Tile());
    for (size_t i = 0; i < names.size(); ++i)
        if (!readTile(names[i], tiles[i], error)) return false;
    return true;
}

using Writer = bool (*)(const std::string &, const float *, int, int);

bool png(const std::string &n, const float *rgb, int w, int h) {
    std::string e;
    return writePng(n, rgb, w, h, &e);
}
bool exr(const std::string &n, const float *rgb, int w, int h) {
    std::string e;
    return writeExr(n, rgb, w, h, &e);
}

} // namespace

TEST(TileMerge, PartsGiveTheFrameByteForByte) {
    // Every byte an 8-bit writer stores is read back as a value stored as it.
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(toDisplayByte(linearOfDisplayByte(static_cast<uint8_t>(b))), b) << b;

    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::vector<float> frame = testFrame();
    const int bands[][2] = {{0, 1}, {2, 2}, {3, 4}};
    // Data windows of EXR files, and whole-frame pictures black around
    // their band, in every format; the merged picture is written by the
    // same writer as the whole frame.
    const struct {
        const char *ending;
        Writer write;
    } formats[] = {{".exr", exr}, {".png", png}, {".tga", WriteImageTGA}, {".pfm", WriteImagePFM}};
    for (const auto &format : formats) {
        std::vector<std::string> names;
        for (const auto &b : bands) {
            names.push_back(dir.file("t" + std::to_string(b[0]) + format.ending));
            std::string error;
            const PixelWindow window{0, b[0], kWidth - 1, b[1]};
            const std::vector<float> part = band(frame, b[0], b[1]);
            if (format.write == exr)
                ASSERT_TRUE(writeExr(names.back(), part.data(), kWidth, kHeight, &error, &window));
            else
                ASSERT_TRUE(format.write(names.back(), part.data(), kWidth, kHeight));
        }
        std::vector<Tile> tiles;
        std::string error;
        ASSERT_TRUE(readAll(names, tiles, &error)) << format.ending << ": " << error;
        EXPECT_EQ(tiles[1].window, format.write == exr);
        std::vector<float> merged;
        int w = 0, h = 0;
        ASSERT_TRUE(mergeTiles(tiles, merged, &w, &h, &error)) << format.ending << ": " << error;
        ASSERT_EQ(w, kWidth);
        ASSERT_EQ(h, kHeight);
        const std::string whole = dir.file(std::string("whole") + format.ending);
        const std::string joined = dir.file(std::string("merged") + format.ending);
        ASSERT_TRUE(format.write(whole, frame.data(), kWidth, kHeight));
        ASSERT_TRUE(format.write(joined, merged.data(), kWidth, kHeight));
        EXPECT_EQ(bytesOf(whole), bytesOf(joined)) << format.ending;
    }
}

TEST(TileMerge, RefusesPartsThatDoNotMakeOneFrame) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::vector<float> frame = testFrame();
    std::string error;
    auto window = [&](const char *name, int y0, int y1, int width = kWidth) {
        const PixelWindow w{0, y0, width - 1, y1};
        EXPECT_TRUE(writeExr(dir.file(name), frame.data(), width, kHeight, &error, &w));
        return dir.file(name);
    };
    const std::string top = window("top.exr", 0, 2), bottom = window("bottom.exr", 3, 4),
                      middle = window("middle.exr", 2, 3), narrow = window("narrow.exr", 3, 4, 6);
    const std::string full = dir.file("full.png"), lower = dir.file("lower.png");
    ASSERT_TRUE(png(full, frame.data(), kWidth, kHeight));
    const std::vector<float> lowerBand = band(frame, 3, 4);
    ASSERT_TRUE(png(lower, lowerBand.data(), kWidth, kHeight));
    std::FILE *f = std::fopen(dir.file("short.pfm").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("PF\n65535 4000\n-1.000000\n\x01\x02", f);
    std::fclose(f);
    f = std::fopen(dir.file("junk.exr").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not an image", f);
    std::fclose(f);

    const struct {
        std::vector<std::string> tiles;
        const char *says;
    } cases[] = {
        {{top, narrow}, "is a part of a 6 x 5 frame"},
        {{top, middle, bottom}, "both hold pixel 0, 2"},
        {{top}, "the tiles hold 21 of the 35 pixels"},
        {{full, lower}, "both hold pixel 0, 3"},
        {{top, lower, full}, "both hold pixel"},
        {{dir.file("short.pfm")}, "ends before its last pixel"},
        {{dir.file("junk.exr")}, ""},
        {{dir.file("missing.png")}, "No such file"},
        {{dir.file("x.jpg")}, "does not end in"},
    };
    for (const auto &c : cases) {
        std::vector<Tile> tiles;
        error.clear();
        std::vector<float> merged;
        int w = 0, h = 0;
        const bool ok = readAll(c.tiles, tiles, &error) && mergeTiles(tiles, merged, &w, &h, &error);
        EXPECT_FALSE(ok) << c.tiles[0];
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_NE(error, "");
    }
}
