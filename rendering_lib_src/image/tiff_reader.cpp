#include "image/tiff_reader.h"

#include <Imath/half.h>
#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "util/error.h"

namespace {

// Bytes out per byte in that TIFF compression can reach (LZW about 2700,
// deflate 1032); an uncompressed file must hold every byte.
constexpr uint64_t kTiffMaxExpansion = 4096;
// Largest single allocation libtiff may make on its own for one file.
constexpr tmsize_t kTiffMaxAlloc = tmsize_t{1} << 30;

// The file in memory, as libtiff's client procedures see it.
struct TiffSource {
    TiffSource(const uint8_t *d, size_t n) : data(d), size(n) {}
    const uint8_t *data;
    size_t size;
    uint64_t pos = 0;
    char message[256] = "";
};

tmsize_t readProc(thandle_t handle, void *out, tmsize_t count) {
    TiffSource *src = static_cast<TiffSource *>(handle);
    if (count <= 0 || src->pos >= src->size) return 0;
    const uint64_t left = src->size - src->pos;
    const uint64_t n = static_cast<uint64_t>(count) < left ? static_cast<uint64_t>(count) : left;
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t writeProc(thandle_t, void *, tmsize_t) { return -1; }

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    TiffSource *src = static_cast<TiffSource *>(handle);
    uint64_t base = whence == SEEK_CUR ? src->pos : (whence == SEEK_END ? src->size : 0);
    // Seeking past the end is allowed; reads there return nothing.
    src->pos = base + offset;
    return src->pos;
}

int closeProc(thandle_t) { return 0; }

toff_t sizeProc(thandle_t handle) { return static_cast<TiffSource *>(handle)->size; }

// The first error libtiff reports for the file is kept for the message.
__attribute__((format(printf, 4, 0))) int onError(TIFF *, void *user, const char *, const char *format, va_list args) {
    TiffSource *src = static_cast<TiffSource *>(user);
    if (src->message[0] == '\0') std::vsnprintf(src->message, sizeof src->message, format, args);
    return 1;
}

int onWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 8, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK, compression = COMPRESSION_NONE;
};

// Deep samples read as they are stored: 16-bit integers, half or float,
// grey or RGB(A), interleaved.
bool deepLayout(const Layout &l) {
    const bool deep = (l.format == SAMPLEFORMAT_UINT && l.bits == 16) ||
                      (l.format == SAMPLEFORMAT_IEEEFP && (l.bits == 16 || l.bits == 32));
    const bool colour = l.photometric == PHOTOMETRIC_RGB && l.samples >= 3;
    const bool grey = (l.photometric == PHOTOMETRIC_MINISBLACK && l.samples >= 1);
    return deep && (colour || grey) && l.planar == PLANARCONFIG_CONTIG;
}

float sampleAt(const uint8_t *p, const Layout &l) {
    if (l.format == SAMPLEFORMAT_UINT) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return static_cast<float>(v) / 65535.0f;
    }
    if (l.bits == 16) {
        Imath::half h;
        uint16_t bits;
        std::memcpy(&bits, p, 2);
        h.setBits(bits);
        return static_cast<float>(h);
    }
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

// Reads the stored samples, top row first, into `stored` (libtiff returns
// them in the machine's byte order), striped or tiled.
bool readStored(TIFF *tif, const Layout &l, std::vector<uint8_t> &stored) {
    const size_t pixelBytes = static_cast<size_t>(l.samples) * (l.bits / 8);
    const size_t rowBytes = pixelBytes * l.width;
    stored.assign(rowBytes * l.height, 0);
    if (!TIFFIsTiled(tif)) {
        const tmsize_t stripSize = TIFFStripSize(tif);
        uint32_t rowsPerStrip = l.height;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (stripSize <= 0 || rowsPerStrip == 0) return false;
        std::vector<uint8_t> strip(static_cast<size_t>(stripSize));
        for (uint32_t y = 0; y < l.height; y += rowsPerStrip) {
            const tmsize_t got =
                TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, 0), strip.data(), stripSize);
            if (got < 0) return false;
            const uint32_t rows = rowsPerStrip < l.height - y ? rowsPerStrip : l.height - y;
            const size_t want = rowBytes * rows;
            if (static_cast<size_t>(got) < want) return false;
            std::memcpy(stored.data() + rowBytes * y, strip.data(), want);
        }
        return true;
    }
    uint32_t tileW = 0, tileH = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileW);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileH);
    const tmsize_t tileSize = TIFFTileSize(tif);
    if (tileW == 0 || tileH == 0 || tileSize <= 0 ||
        static_cast<uint64_t>(tileSize) < uint64_t{tileW} * tileH * pixelBytes)
        return false;
    std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
    for (uint32_t ty = 0; ty < l.height; ty += tileH) {
        for (uint32_t tx = 0; tx < l.width; tx += tileW) {
            if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, 0), tile.data(),
                                    tileSize) < 0)
                return false;
            // Tiles on the right and bottom edges hang over the image.
            const uint32_t cols = tileW < l.width - tx ? tileW : l.width - tx;
            const uint32_t rows = tileH < l.height - ty ? tileH : l.height - ty;
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(stored.data() + rowBytes * (ty + r) + pixelBytes * tx,
                            tile.data() + pixelBytes * tileW * r, pixelBytes * cols);
        }
    }
    return true;
}

bool readDeep(TIFF *tif, const Layout &l, Raster &out) {
    std::vector<uint8_t> stored;
    if (!readStored(tif, l, stored)) return false;
    allocateRaster(out, static_cast<int>(l.width), static_cast<int>(l.height), false);
    const size_t sampleBytes = l.bits / 8;
    const size_t pixelBytes = sampleBytes * l.samples;
    const bool grey = l.photometric == PHOTOMETRIC_MINISBLACK;
    for (uint32_t y = 0; y < l.height; ++y) {
        // Top row first in the file; bottom row first in the raster.
        const uint8_t *src = stored.data() + pixelBytes * l.width * y;
        float *dst = out.floats.data() + size_t{3} * l.width * (l.height - 1 - y);
        for (uint32_t x = 0; x < l.width; ++x, src += pixelBytes, dst += 3) {
            for (int c = 0; c < 3; ++c) dst[c] = sampleAt(src + (grey ? 0 : c * sampleBytes), l);
        }
    }
    out.floatingPoint = l.format == SAMPLEFORMAT_IEEEFP;
    return true;
}

// Any other layout through libtiff's RGBA conversion, bottom row first.
bool readThroughRgba(TIFF *tif, const Layout &l, Raster &out) {
    std::vector<uint32_t> rgba(size_t{l.width} * l.height);
    if (!TIFFReadRGBAImageOriented(tif, l.width, l.height, rgba.data(), ORIENTATION_BOTLEFT, 1))
        return false;
    allocateRaster(out, static_cast<int>(l.width), static_cast<int>(l.height), true);
    for (size_t i = 0; i < rgba.size(); ++i) {
        out.bytes[3 * i] = static_cast<uint8_t>(TIFFGetR(rgba[i]));
        out.bytes[3 * i + 1] = static_cast<uint8_t>(TIFFGetG(rgba[i]));
        out.bytes[3 * i + 2] = static_cast<uint8_t>(TIFFGetB(rgba[i]));
    }
    return true;
}

} // namespace

bool decodeTiff(const uint8_t *data, size_t size, const char *name, Raster &out) {
    out = Raster();
    const bool magic = size >= 4 && ((data[0] == 'I' && data[1] == 'I') ||
                                     (data[0] == 'M' && data[1] == 'M'));
    if (!magic) {
        Error("TIFF image \"%s\" is not a TIFF file", name);
        return false;
    }
    TiffSource src(data, size);
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        Error("TIFF image \"%s\" cannot be read: out of memory", name);
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &src);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kTiffMaxAlloc);
    // "m": no memory mapping; the client procedures already serve memory.
    TIFF *tif = TIFFClientOpenExt(name, "rm", &src, readProc, writeProc, seekProc, closeProc,
                                  sizeProc, nullptr, nullptr, options);
    TIFFOpenOptionsFree(options);
    bool ok = false, reported = false;
    if (tif != nullptr) {
        Layout l;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.format);
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l.compression);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric);
        // Rows are whole bytes; counted in double, which no declared size
        // can overflow.
        const double rowBytes = std::ceil(double(l.width) * l.samples * l.bits / 8.0);
        const double rawBytes = rowBytes * l.height;
        const uint64_t raw = rawBytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(rawBytes);
        const uint64_t expansion = l.compression == COMPRESSION_NONE ? 1 : kTiffMaxExpansion;
        if (!imageSizeUsable("TIFF", name, l.width, l.height, raw, size, expansion))
            reported = true;
        else
            ok = deepLayout(l) ? readDeep(tif, l, out) : readThroughRgba(tif, l, out);
        TIFFClose(tif);
    }
    if (!ok) {
        if (!reported)
            Error("TIFF image \"%s\" cannot be read: %s", name,
                  src.message[0] != '\0' ? src.message : "unsupported layout");
        out = Raster();
    }
    return ok;
}
