#include "launcher/image_output.h"

#include <png.h>

#include <ImathBox.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfOutputFile.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "util/atomic_file.h"
#include "util/display_gamma.h"

namespace {

// PNG stores a side in 31 bits; frames here are at most 65535 on a side,
// like the TGA writer's.
constexpr int kMaxSide = 65535;
// The gAMA chunk's value: the encoding exponent 1/2.3 in units of 1/100000.
constexpr png_fixed_point kPngFileGamma = 43478;

bool checkSize(int width, int height, const float *rgb, std::string *error) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        *error = "size " + std::to_string(width) + "x" + std::to_string(height) +
                 " is outside 1..65535";
        return false;
    }
    if (rgb == nullptr) {
        *error = "no pixel data";
        return false;
    }
    return true;
}

// libpng reports a failure by calling this, which must not return: the
// message is kept and control goes back to encodePng's setjmp.
[[noreturn]] void pngFailed(png_structp png, png_const_charp message) {
    *static_cast<std::string *>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}

void pngWarned(png_structp, png_const_charp) {}

// Writes 8-bit RGB rows (width x height x 3 bytes, top row first) as a PNG
// file whose gAMA chunk says how they were encoded, and no sRGB chunk: the
// bytes use display gamma 2.3, not the sRGB curve. Nothing between the
// setjmp and libpng's calls needs destroying, so the long jump skips no
// destructor.
bool encodePng(FILE *file, const unsigned char *rows, int width, int height,
               std::string *error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, error, pngFailed, pngWarned);
    if (png == nullptr) {
        *error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        *error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_gAMA_fixed(png, info, kPngFileGamma);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        png_write_row(png, rows + static_cast<size_t>(y) * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// The EXR library's output stream over a C stream. A failed write or seek
// is noted rather than thrown: the library goes on, and the caller asks
// failed() when the library is done.
class StdioOStream final : public Imf::OStream {
public:
    StdioOStream(FILE *file, const char *name) : Imf::OStream(name), m_file(file) {}
    void write(const char c[], int n) override {
        if (n > 0 && std::fwrite(c, 1, static_cast<size_t>(n), m_file) != static_cast<size_t>(n))
            m_failed = true;
    }
    uint64_t tellp() override {
        const off_t pos = ftello(m_file);
        return pos < 0 ? 0 : static_cast<uint64_t>(pos);
    }
    void seekp(uint64_t pos) override {
        if (fseeko(m_file, static_cast<off_t>(pos), SEEK_SET) != 0) m_failed = true;
    }
    bool failed() const { return m_failed || std::ferror(m_file) != 0; }

private:
    FILE *m_file;
    bool m_failed = false;
};

} // namespace

bool writePng(const std::string &fileName, const float *rgb, int width, int height,
              std::string *error) {
    if (!checkSize(width, height, rgb, error)) return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    std::vector<unsigned char> bytes;
    try {
        bytes.resize(count);
    } catch (const std::bad_alloc &) {
        *error = "out of memory";
        return false;
    }
    for (size_t i = 0; i < count; ++i) bytes[i] = toDisplayByte(rgb[i]);

    // Written beside the file and put in its place when whole: a failed
    // write leaves the previous picture.
    AtomicFile out;
    if (!out.open(fileName)) {
        *error = std::strerror(errno);
        return false;
    }
    if (!encodePng(out.file(), bytes.data(), width, height, error)) return false;
    if (!out.commit(true)) {
        *error = "the file could not be written whole";
        return false;
    }
    return true;
}

bool writeExr(const std::string &fileName, const float *rgb, int width, int height,
              std::string *error, const PixelWindow *window) {
    if (!checkSize(width, height, rgb, error)) return false;
    const PixelWindow whole{0, 0, width - 1, height - 1};
    const PixelWindow data = window != nullptr ? *window : whole;
    if (data.x0 < 0 || data.y0 < 0 || data.x0 > data.x1 || data.y0 > data.y1 ||
        data.x1 >= width || data.y1 >= height) {
        *error = "the region lies outside the frame";
        return false;
    }
    AtomicFile out;
    if (!out.open(fileName)) {
        *error = std::strerror(errno);
        return false;
    }
    // The library reports every failure by an exception; none leaves here.
    // Its file is complete only once the OutputFile is gone: it writes the
    // table of line offsets last.
    StdioOStream stream(out.file(), fileName.c_str());
    try {
        const Imath::Box2i displayWindow(Imath::V2i(0, 0), Imath::V2i(width - 1, height - 1));
        const Imath::Box2i dataWindow(Imath::V2i(data.x0, data.y0), Imath::V2i(data.x1, data.y1));
        Imf::Header header(displayWindow, dataWindow);
        for (const char *channel : {"R", "G", "B"})
            header.channels().insert(channel, Imf::Channel(Imf::FLOAT));
        Imf::OutputFile file(stream, header);
        Imf::FrameBuffer frame;
        const size_t pixelStride = 3 * sizeof(float);
        const size_t rowStride = pixelStride * static_cast<size_t>(width);
        // The slices only read the frame. They address pixel (x, y) of the
        // data window at base + x * pixelStride + y * rowStride: the whole
        // frame's layout.
        char *base = reinterpret_cast<char *>(const_cast<float *>(rgb));
        frame.insert("R", Imf::Slice(Imf::FLOAT, base, pixelStride, rowStride));
        frame.insert("G", Imf::Slice(Imf::FLOAT, base + sizeof(float), pixelStride, rowStride));
        frame.insert("B",
                     Imf::Slice(Imf::FLOAT, base + 2 * sizeof(float), pixelStride, rowStride));
        file.setFrameBuffer(frame);
        file.writePixels(data.y1 - data.y0 + 1);
    } catch (const std::exception &e) {
        *error = e.what();
        return false;
    } catch (...) {
        *error = "the file could not be written";
        return false;
    }
    if (stream.failed() || !out.commit(true)) {
        *error = "the file could not be written whole";
        return false;
    }
    return true;
}
