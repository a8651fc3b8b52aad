#include "launcher/tile_merge.h"

#include <png.h>
#include <sys/stat.h>

#include <ImathBox.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "util/display_gamma.h"

namespace {

// The largest side of a frame the renderer makes, and the most pixels a
// part may claim: a small file cannot make the merge allocate gigabytes.
constexpr int kMaxSide = 65535;
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

bool sizeUsable(uint64_t columns, uint64_t rows, std::string *error) {
    if (columns == 0 || rows == 0 || columns > kMaxSide || rows > kMaxSide ||
        columns * rows > kMaxPixels) {
        *error = "its size " + std::to_string(columns) + " x " + std::to_string(rows) +
                 " is not one of a frame";
        return false;
    }
    return true;
}

// Compressed pictures (PNG, EXR) hold at most this many bytes of pixels per
// byte of file: deflate, the strongest of their compressions, stores about
// 1032 bytes in one. A size that would need more is a lie, and nothing is
// allocated for it.
constexpr uint64_t kMaxExpansion = 2048;

bool sizeJustified(uint64_t pixelBytes, uint64_t fileBytes, std::string *error) {
    if (pixelBytes / kMaxExpansion > fileBytes) {
        *error = "its size claims more pixels than the file can hold";
        return false;
    }
    return true;
}

// Makes the tile a whole-frame picture of the given size.
bool wholeFrame(Tile &tile, int width, int height, std::string *error) {
    if (!sizeUsable(static_cast<uint64_t>(width), static_cast<uint64_t>(height), error))
        return false;
    tile.width = tile.columns = width;
    tile.height = tile.rows = height;
    tile.x0 = tile.y0 = 0;
    tile.window = false;
    try {
        tile.rgb.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0.0f);
    } catch (const std::bad_alloc &) {
        *error = "out of memory";
        return false;
    }
    return true;
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

long fileSize(FILE *f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(f);
    if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
    return size;
}

// An EXR picture: its data window, R, G and B (half or float).
bool readExr(const std::string &fileName, Tile &tile, std::string *error) {
    try {
        Imf::InputFile file(fileName.c_str());
        const Imf::Header &header = file.header();
        const Imath::Box2i display = header.displayWindow();
        const Imath::Box2i data = header.dataWindow();
        if (display.min.x != 0 || display.min.y != 0) {
            *error = "its display window does not start at pixel 0, 0";
            return false;
        }
        const int64_t width = int64_t{display.max.x} + 1, height = int64_t{display.max.y} + 1;
        if (!sizeUsable(static_cast<uint64_t>(width), static_cast<uint64_t>(height), error))
            return false;
        if (data.min.x < 0 || data.min.y < 0 || data.max.x >= width || data.max.y >= height ||
            data.min.x > data.max.x || data.min.y > data.max.y) {
            *error = "its data window lies outside its frame";
            return false;
        }
        for (const char *channel : {"R", "G", "B"})
            if (header.channels().findChannel(channel) == nullptr) {
                *error = std::string("it has no ") + channel + " channel";
                return false;
            }
        // Half floats at the least, three channels.
        const uint64_t pixels = uint64_t(data.max.x - data.min.x + 1) * uint64_t(data.max.y - data.min.y + 1);
        struct stat st;
        if (stat(fileName.c_str(), &st) != 0 ||
            !sizeJustified(pixels * 6, static_cast<uint64_t>(st.st_size), error)) {
            if (error->empty()) *error = std::strerror(errno);
            return false;
        }
        tile.width = static_cast<int>(width);
        tile.height = static_cast<int>(height);
        tile.x0 = data.min.x;
        tile.y0 = data.min.y;
        tile.columns = data.max.x - data.min.x + 1;
        tile.rows = data.max.y - data.min.y + 1;
        tile.window = true;
        tile.rgb.assign(static_cast<size_t>(tile.columns) * static_cast<size_t>(tile.rows) * 3,
                        0.0f);
        // The slices address pixel (x, y) of the data window at
        // base + x * pixelStride + y * rowStride: shifted so that the data
        // window's first pixel is rgb[0]. The arithmetic stays in integers.
        const size_t pixelStride = 3 * sizeof(float);
        const size_t rowStride = pixelStride * static_cast<size_t>(tile.columns);
        const uintptr_t first = reinterpret_cast<uintptr_t>(tile.rgb.data()) -
                                static_cast<uintptr_t>(data.min.x) * pixelStride -
                                static_cast<uintptr_t>(data.min.y) * rowStride;
        Imf::FrameBuffer frame;
        const char *channels[] = {"R", "G", "B"};
        for (int c = 0; c < 3; ++c)
            frame.insert(channels[c],
                         Imf::Slice(Imf::FLOAT,
                                    reinterpret_cast<char *>(first + c * sizeof(float)),
                                    pixelStride, rowStride));
        file.setFrameBuffer(frame);
        file.readPixels(data.min.y, data.max.y);
    } catch (const std::bad_alloc &) {
        *error = "out of memory";
        return false;
    } catch (const std::exception &e) {
        *error = e.what();
        return false;
    } catch (...) {
        *error = "it is not a readable EXR file";
        return false;
    }
    return true;
}

// A colour PFM picture: "PF", its size, a scale whose sign gives the byte
// order, then rows of float triples from the bottom up.
bool readPfm(FILE *f, long size, Tile &tile, std::string *error) {
    char magic[3] = {};
    int width = 0, height = 0;
    double scale = 0.0;
    if (std::fread(magic, 1, 2, f) != 2 || std::strcmp(magic, "PF") != 0 ||
        std::fscanf(f, "%d %d %lf", &width, &height, &scale) != 3 || std::fgetc(f) == EOF ||
        !(scale != 0.0)) {
        *error = "it is not a colour PFM picture";
        return false;
    }
    if (!sizeUsable(static_cast<uint64_t>(std::max(width, 0)),
                    static_cast<uint64_t>(std::max(height, 0)), error))
        return false;
    const long start = std::ftell(f);
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3;
    if (start < 0 || static_cast<uint64_t>(size - start) < count * sizeof(float)) {
        *error = "it ends before its last pixel";
        return false;
    }
    if (!wholeFrame(tile, width, height, error)) return false;
    const size_t rowFloats = static_cast<size_t>(width) * 3;
    for (int y = height - 1; y >= 0; --y) {
        float *row = tile.rgb.data() + static_cast<size_t>(y) * rowFloats;
        if (std::fread(row, sizeof(float), rowFloats, f) != rowFloats) {
            *error = "it ends before its last pixel";
            return false;
        }
        if (scale > 0.0) // big-endian samples
            for (size_t i = 0; i < rowFloats; ++i) {
                uint32_t bits;
                std::memcpy(&bits, &row[i], 4);
                bits = __builtin_bswap32(bits);
                std::memcpy(&row[i], &bits, 4);
            }
    }
    return true;
}

// An uncompressed true-colour TGA picture of 24 or 32 bits.
bool readTga(FILE *f, long size, Tile &tile, std::string *error) {
    unsigned char header[18];
    if (std::fread(header, 1, sizeof header, f) != sizeof header || header[1] != 0 ||
        header[2] != 2 || (header[16] != 24 && header[16] != 32)) {
        *error = "it is not an uncompressed true-colour TGA picture";
        return false;
    }
    const int width = header[12] | header[13] << 8, height = header[14] | header[15] << 8;
    const size_t bytesPerPixel = header[16] / 8;
    const bool topFirst = (header[17] & 0x20) != 0;
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    if (static_cast<uint64_t>(size) <
        sizeof header + header[0] + rowBytes * static_cast<size_t>(height)) {
        *error = "it ends before its last pixel";
        return false;
    }
    if (!wholeFrame(tile, width, height, error)) return false;
    std::fseek(f, static_cast<long>(sizeof header) + header[0], SEEK_SET);
    std::vector<unsigned char> row(rowBytes);
    for (int i = 0; i < height; ++i) {
        if (std::fread(row.data(), 1, rowBytes, f) != rowBytes) {
            *error = "it ends before its last pixel";
            return false;
        }
        const int y = topFirst ? i : height - 1 - i;
        float *out = tile.rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
        for (int x = 0; x < width; ++x) {
            const unsigned char *p = row.data() + static_cast<size_t>(x) * bytesPerPixel;
            out[3 * x] = linearOfDisplayByte(p[2]);
            out[3 * x + 1] = linearOfDisplayByte(p[1]);
            out[3 * x + 2] = linearOfDisplayByte(p[0]);
        }
    }
    return true;
}

void pngFailed(png_structp png, png_const_charp message) {
    *static_cast<std::string *>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}
void pngWarned(png_structp, png_const_charp) {}

// A PNG picture as its stored bytes: no gamma correction, 16-bit samples
// cut to 8, grey spread to RGB, alpha dropped.
bool readPng(FILE *f, long size, Tile &tile, std::string *error) {
    std::string message;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, pngFailed, pngWarned);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        *error = "out of memory";
        return false;
    }
    // Made before the jump point: a failure jumps back past nothing that
    // would need destroying.
    std::vector<unsigned char> bytes;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = "it is not a readable PNG picture" + (message.empty() ? "" : ": " + message);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 3 ||
        !sizeUsable(width, height, error)) {
        if (error->empty()) *error = "it is not an RGB picture";
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (!sizeJustified(uint64_t{width} * height * 3, static_cast<uint64_t>(size), error)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    try {
        bytes.resize(static_cast<size_t>(width) * height * 3);
        rows.resize(height);
    } catch (const std::bad_alloc &) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = "out of memory";
        return false;
    }
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = bytes.data() + static_cast<size_t>(y) * width * 3;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    if (!wholeFrame(tile, static_cast<int>(width), static_cast<int>(height), error)) return false;
    for (size_t i = 0; i < bytes.size(); ++i) tile.rgb[i] = linearOfDisplayByte(bytes[i]);
    return true;
}

bool endsWith(const std::string &name, const char *ending) {
    const size_t n = std::strlen(ending);
    if (name.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != ending[i])
            return false;
    return true;
}

bool black(const float *p) { return p[0] == 0.0f && p[1] == 0.0f && p[2] == 0.0f; }

} // namespace

float linearOfDisplayByte(uint8_t byte) {
    static const std::vector<float> table = [] {
        std::vector<float> t(256, 0.0f);
        for (int b = 1; b < 256; ++b) {
            // The middle of the byte's interval, moved to a value that the
            // writers' conversion truncates to the byte exactly.
            float v = powf((static_cast<float>(b) + 0.5f) / 255.0f, 2.3f);
            while (toDisplayByte(v) < b) v = nextafterf(v, INFINITY);
            while (toDisplayByte(v) > b) v = nextafterf(v, 0.0f);
            t[b] = v;
        }
        return t;
    }();
    return table[byte];
}

bool readTile(const std::string &fileName, Tile &tile, std::string *error) {
    tile = Tile();
    tile.name = fileName;
    error->clear();
    if (endsWith(fileName, ".exr")) return readExr(fileName, tile, error);
    const bool pfm = endsWith(fileName, ".pfm"), tga = endsWith(fileName, ".tga");
    if (!pfm && !tga && !endsWith(fileName, ".png")) {
        *error = "its name does not end in .exr, .pfm, .png or .tga";
        return false;
    }
    FilePtr f(std::fopen(fileName.c_str(), "rb"));
    if (f == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    const long size = fileSize(f.get());
    if (size < 0) {
        *error = "its size cannot be read";
        return false;
    }
    if (pfm) return readPfm(f.get(), size, tile, error);
    if (tga) return readTga(f.get(), size, tile, error);
    return readPng(f.get(), size, tile, error);
}

bool mergeTiles(const std::vector<Tile> &tiles, std::vector<float> &frame, int *width,
                int *height, std::string *error) {
    if (tiles.empty()) {
        *error = "there is no tile to merge";
        return false;
    }
    const Tile &first = tiles[0];
    for (const Tile &t : tiles)
        if (t.width != first.width || t.height != first.height) {
            *error = "\"" + t.name + "\" is a part of a " + std::to_string(t.width) + " x " +
                     std::to_string(t.height) + " frame, \"" + first.name + "\" of a " +
                     std::to_string(first.width) + " x " + std::to_string(first.height) + " one";
            return false;
        }
    const size_t w = static_cast<size_t>(first.width), h = static_cast<size_t>(first.height);
    // Data windows that cannot cover the frame are refused before the frame
    // is made: the frame is never larger than the parts read.
    bool allWindows = true;
    uint64_t held = 0;
    for (const Tile &t : tiles) {
        allWindows = allWindows && t.window;
        held += static_cast<uint64_t>(t.columns) * static_cast<uint64_t>(t.rows);
    }
    if (allWindows && held < w * h) {
        *error = "the tiles hold " + std::to_string(held) + " of the " + std::to_string(w * h) +
                 " pixels of the " + std::to_string(w) + " x " + std::to_string(h) +
                 " frame: a tile is missing";
        return false;
    }
    // Which tile holds each pixel, to find two holding one.
    std::vector<int32_t> owner;
    try {
        frame.assign(w * h * 3, 0.0f);
        owner.assign(w * h, -1);
    } catch (const std::bad_alloc &) {
        *error = "out of memory";
        return false;
    }
    for (size_t k = 0; k < tiles.size(); ++k) {
        const Tile &t = tiles[k];
        for (int row = 0; row < t.rows; ++row)
            for (int column = 0; column < t.columns; ++column) {
                const float *p = t.rgb.data() +
                                 (static_cast<size_t>(row) * static_cast<size_t>(t.columns) +
                                  static_cast<size_t>(column)) * 3;
                if (!t.window && black(p)) continue;
                const size_t x = static_cast<size_t>(t.x0 + column);
                const size_t y = static_cast<size_t>(t.y0 + row);
                const size_t i = y * w + x;
                if (owner[i] >= 0) {
                    *error = "\"" + tiles[static_cast<size_t>(owner[i])].name + "\" and \"" +
                             t.name + "\" both hold pixel " + std::to_string(x) + ", " +
                             std::to_string(y);
                    return false;
                }
                owner[i] = static_cast<int32_t>(k);
                std::memcpy(&frame[i * 3], p, 3 * sizeof(float));
            }
    }
    // Data windows that hold as many pixels as the frame, none twice,
    // cover it.
    *width = first.width;
    *height = first.height;
    return true;
}
