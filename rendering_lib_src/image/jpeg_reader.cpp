#include "image/jpeg_reader.h"

#include <csetjmp>
#include <cstdio>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "util/error.h"

namespace {

// Texels per byte of file a JPEG can hold: every 8 x 8 block of the first
// component costs at least one bit, so 512; twice that for safety.
constexpr uint64_t kJpegMaxTexelsPerByte = 1024;

struct JpegError {
    jpeg_error_mgr manager; // first: libjpeg hands back a pointer to it
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    JpegError *error = reinterpret_cast<JpegError *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, error->message);
    std::longjmp(error->jump, 1);
}

// Level -1 is a warning about damaged data (a cut-short file among them),
// after which libjpeg would go on with made-up pixels: refused instead.
// Higher levels are trace messages.
void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0) onError(cinfo);
}

// The part that runs under setjmp: only plain locals.
bool decode(jpeg_decompress_struct &cinfo, JpegError &error, const uint8_t *data, size_t size,
            const char *name, Raster &out) {
    if (setjmp(error.jump)) return false;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    const uint64_t w = cinfo.image_width, h = cinfo.image_height;
    if (!imageSizeUsable("JPEG", name, w, h, w * h, size, kJpegMaxTexelsPerByte)) {
        error.message[0] = '\0';
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        std::snprintf(error.message, sizeof error.message, "%d components, not 3",
                      cinfo.output_components);
        return false;
    }
    allocateRaster(out, static_cast<int>(w), static_cast<int>(h), true);
    const size_t rowBytes = static_cast<size_t>(w) * 3;
    while (cinfo.output_scanline < cinfo.output_height) {
        // The file's first row is the top one; the raster's row 0 is the bottom.
        JSAMPROW row = out.bytes.data() + (h - 1 - cinfo.output_scanline) * rowBytes;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

} // namespace

bool decodeJpeg(const uint8_t *data, size_t size, const char *name, Raster &out) {
    out = Raster();
    if (size < 3 || data[0] != 0xff || data[1] != 0xd8 || data[2] != 0xff) {
        Error("JPEG image \"%s\" is not a JPEG file", name);
        return false;
    }
    jpeg_decompress_struct cinfo{};
    JpegError error;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onError;
    error.manager.emit_message = onMessage;
    const bool ok = decode(cinfo, error, data, size, name, out);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) {
        if (error.message[0] != '\0')
            Error("JPEG image \"%s\" cannot be read: %s", name, error.message);
        out = Raster();
        return false;
    }
    return true;
}
