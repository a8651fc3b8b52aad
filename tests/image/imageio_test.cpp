#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "image/imageio.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The 18-byte TGA header, built field by field.
Bytes tgaHeader(int type, int width, int height, int depth, int descriptor, int idLength = 0,
                int colorMapType = 0, int colorMapLength = 0, int colorMapBits = 0) {
    return Bytes{static_cast<unsigned char>(idLength),
                 static_cast<unsigned char>(colorMapType),
                 static_cast<unsigned char>(type),
                 0, 0,
                 static_cast<unsigned char>(colorMapLength & 0xff),
                 static_cast<unsigned char>((colorMapLength >> 8) & 0xff),
                 static_cast<unsigned char>(colorMapBits),
                 0, 0, 0, 0,
                 static_cast<unsigned char>(width & 0xff),
                 static_cast<unsigned char>((width >> 8) & 0xff),
                 static_cast<unsigned char>(height & 0xff),
                 static_cast<unsigned char>((height >> 8) & 0xff),
                 static_cast<unsigned char>(depth),
                 static_cast<unsigned char>(descriptor)};
}

Bytes concat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::set<std::string> listDir(const std::string &dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec))
        names.insert(e.path().filename().string());
    return names;
}

bool isTga24(const Bytes &b, int w, int h) {
    return b.size() == 18u + static_cast<size_t>(w * h * 3) && b[2] == 2 && b[16] == 24 &&
           b[12] == w && b[14] == h;
}

bool isPfm(const Bytes &b) { return b.size() > 3 && b[0] == 'P' && b[1] == 'F' && b[2] == '\n'; }

float byteValue(int b) { return static_cast<float>(b) / 255.0f; }

} // namespace

TEST(WriteImg, ChoosesWriterAndNameFromTheLastFourCharacters) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ScopedChdir cd(dir.path());
    ASSERT_TRUE(cd.ok());
    float pixel[3] = {0.5f, 0.5f, 0.5f};
    const char *names[] = {"x",     ".tga",     "a.tga",        "a.TGA",  "c.PFM",
                           "b.Pfm", "shot.Tga", "picture.jpeg", "outfile", "d.pfm"};
    for (const char *name : names)
        EXPECT_EQ(WriteImg(name, pixel, nullptr, 1, 1, 1, 1, 0, 0), 1) << name;

    EXPECT_EQ(listDir(dir.path()),
              (std::set<std::string>{"x.tga", ".tga.tga", "a.tga", "a.TGA", "c.PFM", "b.tga",
                                     "shot.tga", "picture..tga", "out.tga", "d.pfm"}));
    for (const char *tga : {"x.tga", ".tga.tga", "a.tga", "a.TGA", "b.tga", "shot.tga",
                            "picture..tga", "out.tga"})
        EXPECT_TRUE(isTga24(readFileBytes(dir.file(tga)), 1, 1)) << tga;
    EXPECT_TRUE(isPfm(readFileBytes(dir.file("c.PFM"))));
    EXPECT_TRUE(isPfm(readFileBytes(dir.file("d.pfm"))));
}

TEST(WriteImg, ConvertsChannelsWithGammaAndTruncation) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // Three pixels, red/green/blue each; the file stores blue, green, red.
    // Minus infinity writes 0 like every value not above 0.
    const float inf = std::numeric_limits<float>::infinity();
    float rgb[12] = {0.0f, 0.5f, 1.0f, 2.0f, -0.5f, kNaN, 0.01f, 0.25f, 1.0e30f, -inf, inf, -0.0f};
    const std::string path = dir.file("gamma.tga");
    ASSERT_EQ(WriteImg(path.c_str(), rgb, nullptr, 4, 1, 4, 1, 0, 0), 1);
    Bytes b = readFileBytes(path);
    ASSERT_TRUE(isTga24(b, 4, 1));
    EXPECT_EQ(Bytes(b.begin() + 18, b.end()),
              (Bytes{255, 188, 0, 0, 0, 255, 255, 139, 34, 0, 255, 0}));
}

TEST(WriteImg, WritesHeaderAndRowsBottomUp) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // Byte values of these inputs: 0.01 -> 34, 0.25 -> 139, 0.5 -> 188, 1 -> 255.
    float twoByOne[6] = {0.01f, 0.25f, 0.5f, 1.0f, 0.0f, 0.25f};
    const std::string wide = dir.file("wide.tga");
    ASSERT_EQ(WriteImg(wide.c_str(), twoByOne, nullptr, 2, 1, 2, 1, 0, 0), 1);
    EXPECT_EQ(readFileBytes(wide),
              (Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0,  // header
                     188, 139, 34, 139, 0, 255}));                           // left, right

    // Frame row 0 is the top; the file starts with the bottom row.
    const std::string tall = dir.file("tall.tga");
    ASSERT_EQ(WriteImg(tall.c_str(), twoByOne, nullptr, 1, 2, 1, 2, 0, 0), 1);
    Bytes b = readFileBytes(tall);
    ASSERT_TRUE(isTga24(b, 1, 2));
    EXPECT_EQ(Bytes(b.begin() + 18, b.end()), (Bytes{139, 0, 255, 188, 139, 34}));

    // Width and height are little-endian 16-bit fields.
    std::vector<float> frame(300 * 1 * 3, 0.0f);
    const std::string w300 = dir.file("w300.tga");
    ASSERT_EQ(WriteImg(w300.c_str(), frame.data(), nullptr, 300, 1, 300, 1, 0, 0), 1);
    b = readFileBytes(w300);
    ASSERT_EQ(b.size(), 18u + 900u);
    EXPECT_EQ(b[12], 300 & 0xff);
    EXPECT_EQ(b[13], 300 >> 8);
}

TEST(WriteImg, WritesPfmWithLinearFloatsBottomUp) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    float one[3] = {2.5f, -0.75f, 1.0e-3f};
    const std::string path = dir.file("one.pfm");
    ASSERT_EQ(WriteImg(path.c_str(), one, nullptr, 1, 1, 1, 1, 0, 0), 1);
    const std::string text = "PF\n1 1\n-1.000000\n";
    Bytes b = readFileBytes(path);
    ASSERT_EQ(b.size(), text.size() + 12);
    EXPECT_EQ(std::string(b.begin(), b.begin() + static_cast<long>(text.size())), text);
    EXPECT_EQ(std::memcmp(b.data() + text.size(), one, 12), 0); // little-endian host

    float column[6] = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
    const std::string path2 = dir.file("column.PFM");
    ASSERT_EQ(WriteImg(path2.c_str(), column, nullptr, 1, 2, 1, 2, 0, 0), 1);
    const std::string text2 = "PF\n1 2\n-1.000000\n";
    b = readFileBytes(path2);
    ASSERT_EQ(b.size(), text2.size() + 24);
    EXPECT_EQ(std::memcmp(b.data() + text2.size(), column + 3, 12), 0);
    EXPECT_EQ(std::memcmp(b.data() + text2.size() + 12, column, 12), 0);
}

TEST(WriteImg, RefusesWhatItCannotWrite) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    float pixel[3] = {0.5f, 0.5f, 0.5f};

    const std::string tga = dir.file("missing/dir/out.tga");
    testing::internal::CaptureStderr();
    EXPECT_EQ(WriteImg(tga.c_str(), pixel, nullptr, 1, 1, 1, 1, 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unable to open output TGA file \"" + tga + "\"");

    const std::string pfm = dir.file("missing/dir/out.pfm");
    testing::internal::CaptureStderr();
    EXPECT_EQ(WriteImg(pfm.c_str(), pixel, nullptr, 1, 1, 1, 1, 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unable to open output PFM file \"" + pfm + "\"");

    // Sizes the header cannot hold, and missing buffers, create no file.
    const std::string bad = dir.file("bad.tga");
    const int sizes[][2] = {{0, 1}, {1, 0}, {-1, 1}, {65536, 1}, {1, 65536}};
    for (const auto &s : sizes) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(WriteImg(bad.c_str(), pixel, nullptr, s[0], s[1], s[0], s[1], 0, 0), 0);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("outside 1..65535"),
                  std::string::npos);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(WriteImg(bad.c_str(), nullptr, nullptr, 1, 1, 1, 1, 0, 0), 0);
    EXPECT_EQ(WriteImg(nullptr, pixel, nullptr, 1, 1, 1, 1, 0, 0), 0);
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_TRUE(listDir(dir.path()).empty());
}

TEST(ReadImageTGA, ReadsBackWhatWriteImgWrote) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // 2 x 2 frame, top row first: (0.01, 0.25, 0.5) (1, 0, 0) / (0.25, 0.5, 1) (0, 0, 0.01).
    float frame[12] = {0.01f, 0.25f, 0.5f, 1.0f, 0.0f, 0.0f,
                       0.25f, 0.5f,  1.0f, 0.0f, 0.0f, 0.01f};
    const std::string path = dir.file("frame.tga");
    ASSERT_EQ(WriteImg(path.c_str(), frame, nullptr, 2, 2, 2, 2, 0, 0), 1);

    LogCapture log;
    int w = 0, h = 0;
    Vec3f *px = ReadImageTGA(path, &w, &h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    // Element 0 is the frame's lower-left pixel; values come back quantised.
    EXPECT_EQ(px[0], Vec3f(byteValue(139), byteValue(188), byteValue(255)));
    EXPECT_EQ(px[1], Vec3f(0.0f, 0.0f, byteValue(34)));
    EXPECT_EQ(px[2], Vec3f(byteValue(34), byteValue(139), byteValue(188)));
    EXPECT_EQ(px[3], Vec3f(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(log.infos(), std::vector<std::string>{"Read TGA image " + path + " (2x2"});
    delete[] px;
}

TEST(ReadImageTGA, OrientationBitsAllGiveBottomLeftOrigin) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // A 3 x 3 picture; odd sizes keep a middle row and column in place.
    // Pixel (x, y), y counted from the bottom, has red 10 y + x, green 100, blue 200.
    const int n = 3;
    for (int descriptor : {0x00, 0x10, 0x20, 0x30}) {
        const bool rightToLeft = descriptor & 0x10, topFirst = descriptor & 0x20;
        Bytes file = tgaHeader(2, n, n, 24, descriptor);
        for (int s = 0; s < n; ++s) {
            const int y = topFirst ? n - 1 - s : s;
            for (int c = 0; c < n; ++c) {
                const int x = rightToLeft ? n - 1 - c : c;
                file.insert(file.end(), {200, 100, static_cast<unsigned char>(10 * y + x)});
            }
        }
        const std::string path = dir.file("orient" + std::to_string(descriptor) + ".tga");
        ASSERT_TRUE(writeFileBytes(path, file));
        int w = 0, h = 0;
        Vec3f *px = ReadImageTGA(path, &w, &h);
        ASSERT_NE(px, nullptr) << descriptor;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                EXPECT_EQ(px[y * n + x], Vec3f(byteValue(10 * y + x), byteValue(100),
                                               byteValue(200)))
                    << "descriptor " << descriptor << " x " << x << " y " << y;
        delete[] px;
    }
}

TEST(ReadImageTGA, ReadsGreyAnd32BitPixels) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string grey = dir.file("grey.tga");
    ASSERT_TRUE(writeFileBytes(grey, concat(tgaHeader(3, 3, 1, 8, 0), {0, 51, 255})));
    int w = 0, h = 0;
    Vec3f *px = ReadImageTGA(grey, &w, &h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(px[0], Vec3f(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(px[1], Vec3f(0.2f, 0.2f, 0.2f)); // 51 / 255 in float
    EXPECT_EQ(px[2], Vec3f(1.0f, 1.0f, 1.0f));
    delete[] px;

    // 32 bits with 8 alpha bits: blue, green, red, alpha; alpha is ignored.
    const std::string rgba = dir.file("rgba.tga");
    ASSERT_TRUE(writeFileBytes(rgba, concat(tgaHeader(2, 2, 1, 32, 0x08),
                                            {255, 0, 51, 7, 0, 255, 0, 255})));
    px = ReadImageTGA(rgba, &w, &h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(px[0], Vec3f(0.2f, 0.0f, 1.0f));
    EXPECT_EQ(px[1], Vec3f(0.0f, 1.0f, 0.0f));
    delete[] px;
}

TEST(ReadImageTGA, SkipsImageIdAndColorMap) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const Bytes pixels = {1, 2, 3, 4, 5, 6};
    const std::string plain = dir.file("plain.tga"), withId = dir.file("id.tga"),
                      withMap = dir.file("map.tga");
    ASSERT_TRUE(writeFileBytes(plain, concat(tgaHeader(2, 2, 1, 24, 0), pixels)));
    ASSERT_TRUE(writeFileBytes(
        withId, concat(concat(tgaHeader(2, 2, 1, 24, 0, 8), {9, 9, 9, 9, 9, 9, 9, 9}), pixels)));
    // Three 15-bit entries take two bytes each.
    ASSERT_TRUE(writeFileBytes(
        withMap,
        concat(concat(tgaHeader(2, 2, 1, 24, 0, 1, 1, 3, 15), {9, 8, 7, 6, 5, 4, 3}), pixels)));

    int w = 0, h = 0;
    Vec3f *expected = ReadImageTGA(plain, &w, &h);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(expected[0], Vec3f(byteValue(3), byteValue(2), byteValue(1)));
    for (const std::string &path : {withId, withMap}) {
        Vec3f *px = ReadImageTGA(path, &w, &h);
        ASSERT_NE(px, nullptr) << path;
        EXPECT_EQ(px[0], expected[0]) << path;
        EXPECT_EQ(px[1], expected[1]) << path;
        delete[] px;
    }
    delete[] expected;
}

TEST(ReadImageTGA, RefusesUnsupportedHeaders) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        Bytes header;
        const char *message; // empty: only the null result is checked
    };
    // Consecutive equal messages are reported once, so every case differs.
    const Case cases[] = {
        {tgaHeader(10, 1, 1, 24, 0), "(type=10 pxsize=24 abits=0)"},
        {tgaHeader(2, 1, 1, 16, 0), "(type=2 pxsize=16 abits=0)"},
        {tgaHeader(3, 1, 1, 24, 0), "(type=3 pxsize=24 abits=0)"},
        {tgaHeader(2, 1, 1, 32, 0x48), "(type=2 pxsize=32 abits=72)"},
        {tgaHeader(2, 1, 1, 32, 0x04), "(type=2 pxsize=32 abits=4)"},
        {tgaHeader(2, 0, 1, 24, 0), "(type=2 pxsize=24 abits=0)"},
    };
    int i = 0;
    for (const Case &c : cases) {
        const std::string path = dir.file("bad" + std::to_string(i++) + ".tga");
        ASSERT_TRUE(writeFileBytes(path, concat(c.header, Bytes(64, 0))));
        LogCapture log;
        int w = 77, h = 77;
        EXPECT_EQ(ReadImageTGA(path, &w, &h), nullptr) << path;
        EXPECT_EQ(w, 77);
        EXPECT_EQ(h, 77);
        EXPECT_EQ(log.errors(), std::vector<std::string>{
                                    std::string("ReadImageTGA: I don't know this format ") +
                                    c.message})
            << path;
    }
}

TEST(ReadImageTGA, ReadsSidesAbove32767AsTheWriterWritesThem) {
    // Sides are unsigned 16-bit fields: a 40000 x 1 image written by WriteImg
    // reads back whole, and a header claiming 65535 rows in a short file is
    // a short file, not an unknown format.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::vector<float> rgb(3 * 40000, 0.0f);
    rgb[3 * 39999] = 1.0f; // the last pixel red
    const std::string wide = dir.file("wide.tga");
    ASSERT_EQ(WriteImg(wide.c_str(), rgb.data(), nullptr, 40000, 1, 40000, 1, 0, 0), 1);
    int w = 0, h = 0;
    Vec3f *texels = ReadImageTGA(wide, &w, &h);
    ASSERT_NE(texels, nullptr);
    EXPECT_EQ(w, 40000);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(texels[39999], Vec3f(1, 0, 0));
    delete[] texels;

    LogCapture log;
    const std::string tall = dir.file("tall.tga");
    ASSERT_TRUE(writeFileBytes(tall, concat(tgaHeader(3, 1, 0xffff, 8, 0), Bytes(64, 0))));
    EXPECT_EQ(ReadImageTGA(tall, &w, &h), nullptr);
    EXPECT_EQ(h, 65535);
    EXPECT_EQ(log.errors(), std::vector<std::string>{
                                "Premature end-of-file when reading TGA image \"" + tall + "\""});
}

TEST(ReadImageTGA, ReportsMissingAndShortFiles) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    int w = 0, h = 0;
    {
        LogCapture log;
        const std::string path = dir.file("absent.tga");
        EXPECT_EQ(ReadImageTGA(path, &w, &h), nullptr);
        EXPECT_EQ(log.errors(), std::vector<std::string>{"Unable to open TGA file \"" + path + "\""});
    }
    {
        // Cut inside the pixel data: the size is still handed back.
        LogCapture log;
        const std::string path = dir.file("cut.tga");
        ASSERT_TRUE(writeFileBytes(path, concat(tgaHeader(2, 2, 2, 24, 0), {1, 2, 3, 4, 5})));
        EXPECT_EQ(ReadImageTGA(path, &w, &h), nullptr);
        EXPECT_EQ(w, 2);
        EXPECT_EQ(h, 2);
        EXPECT_EQ(log.errors(), std::vector<std::string>{
                                    "Premature end-of-file when reading TGA image \"" + path +
                                    "\""});
    }
    {
        // Cut inside the image ID.
        LogCapture log;
        const std::string path = dir.file("cut-id.tga");
        ASSERT_TRUE(writeFileBytes(path, concat(tgaHeader(3, 1, 1, 8, 0, 200), {1, 2, 3})));
        EXPECT_EQ(ReadImageTGA(path, &w, &h), nullptr);
        EXPECT_EQ(log.errors().size(), 1u);
    }
    {
        // Cut inside the header.
        LogCapture log;
        const std::string path = dir.file("cut-header.tga");
        ASSERT_TRUE(writeFileBytes(path, Bytes{0, 0, 2, 0, 0, 0, 0}));
        w = h = 77;
        EXPECT_EQ(ReadImageTGA(path, &w, &h), nullptr);
        EXPECT_EQ(w, 77);
        EXPECT_EQ(log.errors(), std::vector<std::string>{
                                    "Premature end-of-file when reading TGA image \"" + path +
                                    "\""});
    }
}

TEST(ReadImageTGA, HugeHeaderInTinyFileCostsLittleMemory) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // 32767 x 32767 pixels of 4 bytes claim 4 GiB; the file holds 16 bytes.
    const std::string path = dir.file("huge.tga");
    ASSERT_TRUE(writeFileBytes(path, concat(tgaHeader(2, 32767, 32767, 32, 8), Bytes(16, 1))));
    struct rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    int w = 0, h = 0;
    EXPECT_EQ(ReadImageTGA(path, &w, &h), nullptr);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(w, 32767);
    EXPECT_EQ(h, 32767);
    // Peak resident size in KiB: a buffer sized from the header would add gigabytes.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);
}
