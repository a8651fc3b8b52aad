#include "image/imageio.h"

#include <glog/logging.h>
#include <math.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "util/atomic_file.h"
#include "util/display_gamma.h"
#include "util/error.h"
#include "util/mapped_file.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "PFM samples are written in native order, which must be little-endian");

namespace {

constexpr size_t kTgaHeaderSize = 18;
constexpr unsigned char kTgaTrueColor = 2;
constexpr unsigned char kTgaGrey = 3;
// The TGA header keeps width and height in 16 bits.
constexpr int kMaxImageSide = 65535;
// Refuses frames that the writers cannot store; the message goes to stderr
// without a newline, like the writers' own messages.
bool checkFrame(const std::string &fileName, const float *rgb, int width, int height) {
    if (width < 1 || width > kMaxImageSide || height < 1 || height > kMaxImageSide) {
        std::fprintf(stderr, "Unable to write image \"%s\": size %dx%d is outside 1..65535",
                     fileName.c_str(), width, height);
        return false;
    }
    if (!rgb) {
        std::fprintf(stderr, "Unable to write image \"%s\": no pixel data", fileName.c_str());
        return false;
    }
    return true;
}

void putLE16(unsigned char *dst, int value) {
    dst[0] = static_cast<unsigned char>(value & 0xff);
    dst[1] = static_cast<unsigned char>((value >> 8) & 0xff);
}

int getLE16(const unsigned char *src) { return src[0] | (src[1] << 8); }

} // namespace

bool WriteImageTGA(const std::string &fileName, const float *rgb, int width, int height) {
    if (!checkFrame(fileName, rgb, width, height)) return false;
    // Written beside the file and put in its place when whole: a failed
    // write leaves the previous picture.
    AtomicFile out;
    if (!out.open(fileName)) {
        std::fprintf(stderr, "Unable to open output TGA file \"%s\"", fileName.c_str());
        return false;
    }
    FILE *f = out.file();

    // Uncompressed true colour, no ID, no colour map, 24 bits, origin at the
    // lower left.
    unsigned char header[kTgaHeaderSize] = {};
    header[2] = kTgaTrueColor;
    putLE16(header + 12, width);
    putLE16(header + 14, height);
    header[16] = 24;
    bool ok = std::fwrite(header, 1, kTgaHeaderSize, f) == kTgaHeaderSize;

    // Bottom row of the frame first, each pixel as blue, green, red.
    const size_t rowFloats = static_cast<size_t>(width) * 3;
    std::vector<unsigned char> row(rowFloats);
    for (int y = height - 1; ok && y >= 0; --y) {
        const float *src = rgb + static_cast<size_t>(y) * rowFloats;
        for (size_t i = 0; i < rowFloats; i += 3) {
            row[i] = toDisplayByte(src[i + 2]);
            row[i + 1] = toDisplayByte(src[i + 1]);
            row[i + 2] = toDisplayByte(src[i]);
        }
        ok = std::fwrite(row.data(), 1, rowFloats, f) == rowFloats;
    }
    // Buffered data reaches the disk at the commit, which can fail as well;
    // a write that failed before is dropped with `out`.
    ok = ok && out.commit(true);
    if (!ok) std::fprintf(stderr, "Error writing TGA image file \"%s\"", fileName.c_str());
    return ok;
}

bool WriteImagePFM(const std::string &fileName, const float *rgb, int width, int height) {
    if (!checkFrame(fileName, rgb, width, height)) return false;
    AtomicFile out;
    if (!out.open(fileName)) {
        std::fprintf(stderr, "Unable to open output PFM file \"%s\"", fileName.c_str());
        return false;
    }
    FILE *f = out.file();

    // Colour PFM; the negative scale declares little-endian samples.
    bool ok = std::fwrite("PF\n", 1, 3, f) == 3 &&
              std::fprintf(f, "%d %d\n", width, height) >= 0 &&
              std::fprintf(f, "%f\n", -1.0) >= 0;
    // The PFM raster runs from the bottom row up; samples are stored unchanged.
    const size_t rowFloats = static_cast<size_t>(width) * 3;
    for (int y = height - 1; ok && y >= 0; --y)
        ok = std::fwrite(rgb + static_cast<size_t>(y) * rowFloats, sizeof(float), rowFloats, f) ==
             rowFloats;
    ok = ok && out.commit(true);
    if (!ok) std::fprintf(stderr, "Error writing PFM file \"%s\"", fileName.c_str());
    return ok;
}

extern "C" int WriteImg(const char *fileName, float *rgb, void * /*extraPlane*/, int width,
                        int height, int /*fullWidth*/, int /*fullHeight*/, int /*xOffset*/,
                        int /*yOffset*/) {
    if (!fileName) {
        std::fprintf(stderr, "Unable to write image: no file name");
        return 0;
    }
    // The writer follows the last four characters, case-sensitively; any
    // other ending is replaced by ".tga" (short names get it appended).
    const std::string name(fileName);
    bool ok;
    if (name.size() < 5) {
        ok = WriteImageTGA(name + ".tga", rgb, width, height);
    } else {
        const std::string ending = name.substr(name.size() - 4);
        if (ending == ".tga" || ending == ".TGA")
            ok = WriteImageTGA(name, rgb, width, height);
        else if (ending == ".pfm" || ending == ".PFM")
            ok = WriteImagePFM(name, rgb, width, height);
        else
            ok = WriteImageTGA(name.substr(0, name.size() - 4) + ".tga", rgb, width, height);
    }
    return ok ? 1 : 0;
}

bool decodeTga(const uint8_t *data, size_t size, const char *name, Raster &out) {
    out = Raster();
    if (size < kTgaHeaderSize) {
        Error("Premature end-of-file when reading TGA image \"%s\"", name);
        return false;
    }
    const unsigned char *header = data;
    const unsigned idLength = header[0];
    const unsigned colorMapType = header[1];
    const unsigned imageType = header[2];
    const unsigned colorMapLength = static_cast<unsigned>(getLE16(header + 5));
    const unsigned colorMapEntryBits = header[7];
    // Width and height are unsigned 16-bit fields, as the writer writes them.
    const int w = getLE16(header + 12), h = getLE16(header + 14);
    const unsigned pixelDepth = header[16];
    const unsigned descriptor = header[17];
    const unsigned alphaBits = descriptor & 0x0f;

    const bool known = (alphaBits == 0 || alphaBits == 8) && (descriptor & 0xc0) == 0 &&
                       ((imageType == kTgaTrueColor && (pixelDepth == 24 || pixelDepth == 32)) ||
                        (imageType == kTgaGrey && pixelDepth == 8)) &&
                       w > 0 && h > 0;
    if (!known) {
        Error("ReadImageTGA: I don't know this format (type=%i pxsize=%i abits=%i)",
              static_cast<int>(imageType), static_cast<int>(pixelDepth),
              static_cast<int>(descriptor));
        return false;
    }
    out.width = w;
    out.height = h;

    const size_t bytesPerPixel = pixelDepth / 8;
    const size_t pixelCount = static_cast<size_t>(w) * static_cast<size_t>(h);
    // Colour-map entries are rounded up to whole bytes.
    size_t skip = kTgaHeaderSize + idLength;
    if (colorMapType == 1)
        skip += static_cast<size_t>(colorMapLength) * ((colorMapEntryBits + 7) / 8);
    // The pixels must all be there before anything is allocated for them.
    if (skip > size || pixelCount * bytesPerPixel > size - skip) {
        Error("Premature end-of-file when reading TGA image \"%s\"", name);
        return false;
    }
    const unsigned char *pixels = data + skip;

    // Pixels in file order: grey is one byte, true colour blue, green, red
    // and an ignored alpha byte for 32 bits.
    allocateRaster(out, w, h, true);
    uint8_t *texels = out.bytes.data();
    for (size_t i = 0; i < pixelCount; ++i) {
        const unsigned char *px = pixels + i * bytesPerPixel;
        if (bytesPerPixel == 1) {
            texels[3 * i] = texels[3 * i + 1] = texels[3 * i + 2] = px[0];
        } else {
            texels[3 * i] = px[2];
            texels[3 * i + 1] = px[1];
            texels[3 * i + 2] = px[0];
        }
    }

    // Bring every image to column 0 at the left and row 0 at the bottom.
    if (descriptor & 0x10) {
        for (size_t y = 0; y < static_cast<size_t>(h); ++y)
            for (size_t x = 0; x < static_cast<size_t>(w) / 2; ++x)
                std::swap_ranges(texels + 3 * (y * w + x), texels + 3 * (y * w + x + 1),
                                 texels + 3 * (y * w + (w - 1 - x)));
    }
    if (descriptor & 0x20) flipRows(out);
    return true;
}

Vec3f *ReadImageTGA(const std::string &fileName, int *width, int *height) {
    const char *name = fileName.c_str();
    if (!MappedText::isRegularFile(name)) {
        // A FIFO would block the load for ever; a directory is no image.
        Error("TGA file \"%s\" is not a regular file", name);
        return nullptr;
    }
    MappedText file;
    if (!file.loadFile(name)) {
        Error("Unable to open TGA file \"%s\"", name);
        return nullptr;
    }
    // An empty file loads with no buffer at all.
    static const uint8_t kNothing = 0;
    const size_t size = file.length() > 0 ? static_cast<size_t>(file.length() - 1) : 0;
    Raster raster;
    const bool ok = decodeTga(
        file.data() != nullptr ? reinterpret_cast<const uint8_t *>(file.data()) : &kNothing, size,
        name, raster);
    // The sides are the caller's once the header was accepted, even when the
    // pixels then fall short.
    if (raster.width > 0) {
        if (width) *width = raster.width;
        if (height) *height = raster.height;
    }
    if (!ok) return nullptr;

    const size_t pixelCount = raster.texelCount();
    Vec3f *texels = new Vec3f[pixelCount];
    for (size_t i = 0; i < pixelCount; ++i)
        texels[i] = Vec3f(static_cast<float>(raster.bytes[3 * i]) / 255.0f,
                          static_cast<float>(raster.bytes[3 * i + 1]) / 255.0f,
                          static_cast<float>(raster.bytes[3 * i + 2]) / 255.0f);
    INFO_LOG << "Read TGA image " << fileName << " (" << raster.width << "x" << raster.height;
    return texels;
}
