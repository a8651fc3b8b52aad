#include "image/png_reader.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "util/error.h"

namespace {

// Deflate turns one byte into at most 1032; a few more for the chunk framing.
constexpr uint64_t kPngMaxExpansion = 1040;

// What the libpng callbacks share with the decoder. Everything that must
// survive a longjmp out of libpng lives here, not in locals of the
// function that calls setjmp.
struct PngJob {
    PngJob(const uint8_t *d, size_t n) : data(d), size(n) {}
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    char message[200] = "";
    std::vector<png_bytep> rows;
    std::vector<uint8_t> wide; // 16-bit samples, big-endian, before conversion
};

void readFromMemory(png_structp png, png_bytep out, size_t count) {
    PngJob *job = static_cast<PngJob *>(png_get_io_ptr(png));
    if (count > job->size - job->pos) png_error(png, "the file is cut short");
    std::memcpy(out, job->data + job->pos, count);
    job->pos += count;
}

[[noreturn]] void onError(png_structp png, png_const_charp message) {
    PngJob *job = static_cast<PngJob *>(png_get_error_ptr(png));
    std::snprintf(job->message, sizeof job->message, "%s", message);
    png_longjmp(png, 1);
}

// Warnings (odd colour profiles, unknown chunks) leave the pixels usable.
void onWarning(png_structp, png_const_charp) {}

// The part that runs under setjmp: only plain locals, so that the jump
// back skips no destructor.
bool decode(png_structp png, png_infop info, PngJob &job, const char *name, Raster &out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, &job, readFromMemory);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    // Raw rows as the compressed stream holds them, each with its filter byte.
    const uint64_t raw = (static_cast<uint64_t>(png_get_rowbytes(png, info)) + 1) * h;
    if (!imageSizeUsable("PNG", name, w, h, raw, job.size, kPngMaxExpansion)) {
        job.message[0] = '\0';
        return false;
    }
    // Everything to 8- or 16-bit RGB.
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_strip_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const bool eightBit = depth <= 8;
    const size_t rowBytes = static_cast<size_t>(w) * 3 * (eightBit ? 1 : 2);
    if (png_get_rowbytes(png, info) != rowBytes) png_error(png, "unexpected row layout");
    allocateRaster(out, static_cast<int>(w), static_cast<int>(h), eightBit);
    if (!eightBit) job.wide.resize(rowBytes * h);
    uint8_t *base = eightBit ? out.bytes.data() : job.wide.data();
    // The file's first row is the top one; the raster's row 0 is the bottom.
    job.rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y) job.rows[y] = base + (h - 1 - y) * rowBytes;
    png_read_image(png, job.rows.data());
    return true;
}

} // namespace

bool decodePng(const uint8_t *data, size_t size, const char *name, Raster &out) {
    out = Raster();
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) {
        Error("PNG image \"%s\" is not a PNG file", name);
        return false;
    }
    PngJob job(data, size);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        Error("PNG image \"%s\" cannot be read: out of memory", name);
        return false;
    }
    const bool ok = decode(png, info, job, name, out);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) {
        // The size check has reported already; libpng's complaints are said here.
        if (job.message[0] != '\0') Error("PNG image \"%s\" cannot be read: %s", name, job.message);
        out = Raster();
        return false;
    }
    if (!out.eightBit()) {
        for (size_t i = 0; i < out.floats.size(); ++i)
            out.floats[i] = static_cast<float>((job.wide[2 * i] << 8) | job.wide[2 * i + 1]) /
                            65535.0f;
    }
    return true;
}
