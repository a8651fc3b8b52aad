// Fuzz entry of the image files. Every input is used twice:
//
// - written to a scratch file and read with ReadImageTGA, which must read
//   an image the file can hold or refuse the file;
// - as the source of a small frame (up to 64 x 64, with NaN, infinities,
//   negative, huge and tiny samples) that WriteImg writes as TGA and PFM.
//   The TGA must read back with the frame's sides and with every sample that
//   is not above 0 as 0 and every sample of 1 or more as 1, each in its own
//   place; the PFM must hold the samples bit for bit, bottom row first. A
//   slice of the inputs passes the sizes and null pointers WriteImg refuses.
//
// - decoded from memory as each texture format (TGA, PNG, JPEG, TIFF,
//   OpenEXR): a decoder must refuse the bytes or give a raster whose
//   samples are exactly its sides' worth, within the size cap.
//
// A mismatch aborts, so that the fuzzer keeps the input. The frame's
// parameters come from the input's last bytes and its samples from the
// first, so the seed TGA files drive both halves.
//
// The seeds of the other formats were written by the writers of
// tests/image/image_files_test.cpp.
//
// Build with clang: configure with CXX=clang++ and -DVORTAN_FUZZ=ON, then
// build the target image_fuzz; scripts/fuzz.sh builds and runs it on a copy
// of the seeds in fuzz/corpus/image/.
#include <glog/logging.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/image_files.h"
#include "image/imageio.h"

namespace {

constexpr int kMaxSide = 64;
// The largest file a check reads back: a 64 x 64 PFM and its header.
constexpr size_t kMaxReadBack = 64 * 1024;

// The scratch files live in a private directory made for the process and
// removed when it ends. Each file is removed before it is written again: a
// new file is far cheaper than a truncated one on file systems that flush a
// file truncated and rewritten when it is closed.
std::string g_scratchDir;
const char *const kScratchNames[] = {"input.tga", "frame.tga", "frame.pfm"};

void removeScratch() {
    for (const char *name : kScratchNames) std::remove((g_scratchDir + "/" + name).c_str());
    rmdir(g_scratchDir.c_str());
}

// Path of one of kScratchNames in the scratch directory under $TMPDIR (or
// /tmp); empty when the directory cannot be made.
std::string scratchPath(const char *name) {
    static const bool made = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/vortan-image-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) return false;
        g_scratchDir = pattern;
        std::atexit(removeScratch);
        return true;
    }();
    return made ? g_scratchDir + "/" + name : std::string();
}

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "image_fuzz: %s\n", what);
    std::abort();
}

bool writeFile(const std::string &path, const uint8_t *data, size_t size) {
    std::remove(path.c_str());
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool written = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}

// The whole file, when it holds at most kMaxReadBack bytes.
bool readFile(const std::string &path, std::vector<unsigned char> &out) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    out.resize(kMaxReadBack + 1);
    const size_t n = std::fread(out.data(), 1, out.size(), f);
    std::fclose(f);
    out.resize(n);
    return n <= kMaxReadBack;
}

float fromBits(uint32_t bits) {
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Samples a byte can stand for besides the ordinary range below.
const float kSpecial[] = {
    std::numeric_limits<float>::quiet_NaN(),
    -std::numeric_limits<float>::quiet_NaN(),
    fromBits(0x7f800001u), // signalling NaN
    fromBits(0xffffffffu), // NaN with every payload bit
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    0.0f,
    -0.0f,
    std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),
    std::numeric_limits<float>::min(),
    std::numeric_limits<float>::denorm_min(),
    -std::numeric_limits<float>::denorm_min(),
    1e-30f,
    -1.0f,
    1.0f,
    fromBits(0x3f7fffffu), // the float just below 1
    fromBits(0x3f800001u), // the float just above 1
    1e30f,
    -1e30f,
};
constexpr unsigned kSpecialCount = sizeof kSpecial / sizeof kSpecial[0];

// A byte as a sample: a special value, or 0 to 1.25 in even steps.
float sample(uint8_t byte) {
    const unsigned b = byte;
    if (b < kSpecialCount) return kSpecial[b];
    return static_cast<float>(b - kSpecialCount) *
           (1.25f / static_cast<float>(255 - kSpecialCount));
}

// Reads the frame's parameters from the end of the input; 0 once it is used up.
struct Tail {
    const uint8_t *data;
    size_t left;
    uint8_t take() { return left > 0 ? data[--left] : 0; }
};

void fuzzReader(const uint8_t *data, size_t size) {
    static const std::string path = scratchPath("input.tga");
    if (path.empty() || !writeFile(path, data, size)) return;
    int w = -1, h = -1;
    Vec3f *texels = ReadImageTGA(path, &w, &h);
    if (texels == nullptr) return;
    if (w < 1 || w > 65535 || h < 1 || h > 65535) fail("TGA read with sides outside 1..65535");
    // Every pixel takes at least a byte of the file after the 18-byte header.
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    if (18 + count > size) fail("TGA read with more pixels than the file holds");
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c)
            if (!(texels[i][c] >= 0.0f && texels[i][c] <= 1.0f))
                fail("TGA texel outside 0..1");
    delete[] texels;
}

void fuzzDecoders(const uint8_t *data, size_t size) {
    const ImageFormat formats[] = {ImageFormat::Tga, ImageFormat::Png, ImageFormat::Jpeg,
                                   ImageFormat::Tiff, ImageFormat::Exr};
    for (ImageFormat format : formats) {
        Raster raster;
        if (!decodeImage(data, size, format, "input", raster)) {
            if (raster.width != 0 || !raster.bytes.empty() || !raster.floats.empty())
                fail("a refused image left pixels behind");
            continue;
        }
        if (raster.width < 1 || raster.height < 1) fail("an image decoded without pixels");
        const uint64_t texels = uint64_t(raster.width) * uint64_t(raster.height);
        if (texels > kMaxImageTexels) fail("an image decoded beyond the size cap");
        const size_t samples = raster.eightBit() ? raster.bytes.size() : raster.floats.size();
        if (samples != texels * 3 || (!raster.bytes.empty() && !raster.floats.empty()))
            fail("an image decoded with samples that do not fit its sides");
    }
}

// The sizes and pointers WriteImg refuses: it must return 0 without
// touching the one-pixel frame it is given, and leave no file.
void fuzzRefusals(unsigned which, int goodSide, const std::string &path) {
    static const int kBadSides[] = {0, -1, -65535, 65536, INT_MAX, INT_MIN};
    constexpr unsigned kBadCount = sizeof kBadSides / sizeof kBadSides[0];
    float pixel[3] = {0.5f, 0.5f, 0.5f};
    int result;
    if (which < kBadCount) {
        const int bad = kBadSides[which];
        result = WriteImg(path.c_str(), pixel, nullptr, bad, goodSide, bad, goodSide, 0, 0);
    } else if (which < 2 * kBadCount) {
        const int bad = kBadSides[which - kBadCount];
        result = WriteImg(path.c_str(), pixel, nullptr, goodSide, bad, goodSide, bad, 0, 0);
    } else if (which % 2 == 0) {
        result = WriteImg(path.c_str(), nullptr, nullptr, 1, 1, 1, 1, 0, 0);
    } else {
        result = WriteImg(nullptr, pixel, nullptr, 1, 1, 1, 1, 0, 0);
    }
    if (result != 0) fail("WriteImg accepted a frame it cannot write");
    if (access(path.c_str(), F_OK) == 0) fail("WriteImg left a file for a refused frame");
}

void checkTga(const std::string &path, const std::vector<float> &rgb, int width, int height) {
    int w = -1, h = -1;
    Vec3f *texels = ReadImageTGA(path, &w, &h);
    if (texels == nullptr) fail("the TGA WriteImg wrote does not read back");
    if (w != width || h != height) fail("the TGA read back has other sides than the frame");
    // Frame row 0 is the top; the texels start with the bottom row.
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Vec3f &t = texels[static_cast<size_t>(height - 1 - y) * width + x];
            for (int c = 0; c < 3; ++c) {
                const float v = rgb[(static_cast<size_t>(y) * width + x) * 3 + c];
                if (!(t[c] >= 0.0f && t[c] <= 1.0f)) fail("TGA texel outside 0..1");
                if (!(v > 0.0f) && t[c] != 0.0f) fail("a sample not above 0 reads back above 0");
                if (v >= 1.0f && t[c] != 1.0f) fail("a sample of 1 or more reads back below 1");
            }
        }
    }
    delete[] texels;
}

void checkPfm(const std::string &path, const std::vector<float> &rgb, int width, int height) {
    std::vector<unsigned char> file;
    if (!readFile(path, file)) fail("the PFM WriteImg wrote does not read back");
    // "PF", the sides and a negative (little-endian) scale on three lines.
    char head[64] = {};
    std::memcpy(head, file.data(), std::min(file.size(), sizeof head - 1));
    int w = 0, h = 0, end = 0;
    float scale = 0.0f;
    if (std::sscanf(head, "PF\n%d %d\n%f%n", &w, &h, &scale, &end) != 3 || head[end] != '\n')
        fail("PFM header unreadable");
    if (w != width || h != height || !(scale < 0.0f)) fail("PFM header does not match the frame");
    const size_t rowBytes = static_cast<size_t>(width) * 3 * sizeof(float);
    const size_t start = static_cast<size_t>(end) + 1;
    if (file.size() != start + rowBytes * height) fail("PFM size does not match the frame");
    for (int y = 0; y < height; ++y)
        if (std::memcmp(file.data() + start + static_cast<size_t>(height - 1 - y) * rowBytes,
                        rgb.data() + static_cast<size_t>(y) * width * 3, rowBytes) != 0)
            fail("PFM samples differ from the frame");
}

void fuzzWriter(const uint8_t *data, size_t size) {
    static const std::string tga = scratchPath("frame.tga");
    static const std::string pfm = scratchPath("frame.pfm");
    if (tga.empty() || pfm.empty()) return;
    std::remove(tga.c_str());
    std::remove(pfm.c_str());

    Tail tail{data, size};
    const int width = 1 + tail.take() % kMaxSide;
    const int height = 1 + tail.take() % kMaxSide;
    const uint8_t mode = tail.take();
    if ((mode & 0xf0) == 0xf0) {
        fuzzRefusals(mode & 0x0f, width, (tail.take() & 1) ? pfm : tga);
        return;
    }
    // WriteImg writes the frame it is given, which may be a window of a
    // larger frame: its place comes from the input, always inside the full
    // frame as callers pass it.
    const int xOffset = tail.take() % kMaxSide, yOffset = tail.take() % kMaxSide;
    const int fullWidth = xOffset + width + tail.take() % kMaxSide;
    const int fullHeight = yOffset + height + tail.take() % kMaxSide;

    const size_t pixels = static_cast<size_t>(width) * height;
    std::vector<float> rgb(pixels * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = size > 0 ? sample(data[i % size]) : 0.0f;
    // The extra plane, one float a pixel, is passed or left out.
    std::vector<float> extra((mode & 1) ? pixels : 0, 1.0f);
    void *extraPlane = extra.empty() ? nullptr : extra.data();

    if (WriteImg(tga.c_str(), rgb.data(), extraPlane, width, height, fullWidth, fullHeight,
                 xOffset, yOffset) != 1)
        fail("WriteImg refused a TGA frame");
    checkTga(tga, rgb, width, height);
    if (WriteImg(pfm.c_str(), rgb.data(), extraPlane, width, height, fullWidth, fullHeight,
                 xOffset, yOffset) != 1)
        fail("WriteImg refused a PFM frame");
    checkPfm(pfm, rgb, width, height);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Refused files are logged as errors; keep the fuzzer's output readable.
    FLAGS_minloglevel = google::GLOG_FATAL;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzReader(data, size);
    fuzzDecoders(data, size);
    fuzzWriter(data, size);
    return 0;
}
