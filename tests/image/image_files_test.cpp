#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_files.h"
#include "launcher/image_output.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

// 37 x 21 texels of distinct colours, top row first as most files keep
// them: several TIFF tiles, rows of odd length.
constexpr int kW = 37, kH = 21;
uint8_t channel(int x, int y, int c) {
    return static_cast<uint8_t>((x * 37 + y * 11 + c * 101 + x * y * c) % 256);
}

Bytes tgaOf() {
    Bytes b(18, 0);
    b[2] = 2; // true colour
    b[12] = kW;
    b[14] = kH;
    b[16] = 24;
    for (int y = kH - 1; y >= 0; --y) // bottom row first
        for (int x = 0; x < kW; ++x)
            for (int c = 2; c >= 0; --c) b.push_back(channel(x, y, c));
    return b;
}

Bytes pngOf(bool sixteen) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, size_t n) {
            Bytes *o = static_cast<Bytes *>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, kW, kH, sixteen ? 16 : 8, PNG_COLOR_TYPE_RGB,
                 sixteen ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < kH; ++y) {
            Bytes row;
            for (int x = 0; x < kW; ++x)
                for (int c = 0; c < 3; ++c) {
                    const uint8_t v = channel(x, y, c);
                    row.push_back(v);
                    if (sixteen) row.push_back(v); // v * 257, big-endian
                }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes jpegOf() {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = kW;
    cinfo.image_height = kH;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    // No chroma subsampling: every texel keeps its own colour.
    for (int c = 0; c < 3; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < kH; ++y) {
        Bytes row;
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 3; ++c) row.push_back(channel(x, y, c));
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(mem, mem + size);
    jpeg_destroy_compress(&cinfo);
    free(mem);
    return out;
}

// Striped 8-bit RGB with deflate, or tiled (16 x 16) 8-bit or 32-bit float.
Bytes tiffOf(const std::string &path, bool tiled, bool floats) {
    TIFF *tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kW);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kH);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, floats ? 32 : 8);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, floats ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    const int bytes = floats ? 4 : 1;
    auto put = [&](Bytes &buf, size_t at, int x, int y, int c) {
        const uint8_t v = channel(x, y, c);
        if (floats) {
            const float f = static_cast<float>(v) / 255.0f;
            std::memcpy(&buf[at], &f, 4);
        } else {
            buf[at] = v;
        }
    };
    if (tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
        for (int ty = 0; ty < kH; ty += 16)
            for (int tx = 0; tx < kW; tx += 16) {
                Bytes tile(16 * 16 * 3 * bytes, 0);
                for (int y = ty; y < ty + 16 && y < kH; ++y)
                    for (int x = tx; x < tx + 16 && x < kW; ++x)
                        for (int c = 0; c < 3; ++c)
                            put(tile, (((y - ty) * 16 + (x - tx)) * 3 + c) * bytes, x, y, c);
                TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0);
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
        for (int y = 0; y < kH; ++y) {
            Bytes row(kW * 3 * bytes);
            for (int x = 0; x < kW; ++x)
                for (int c = 0; c < 3; ++c) put(row, (x * 3 + c) * bytes, x, y, c);
            TIFFWriteScanline(tif, row.data(), y, 0);
        }
    }
    TIFFClose(tif);
    return readFileBytes(path);
}

Bytes exrOf(const std::string &path) {
    std::vector<float> frame;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 3; ++c)
                frame.push_back(static_cast<float>(channel(x, y, c)) / 255.0f);
    std::string error;
    EXPECT_TRUE(writeExr(path, frame.data(), kW, kH, &error)) << error;
    return readFileBytes(path);
}

float valueAt(const Raster &r, size_t i) {
    return r.eightBit() ? static_cast<float>(r.bytes[i]) / 255.0f : r.floats[i];
}

struct FormatCase {
    const char *file; // the ending chooses the reader
    Bytes bytes;
    float tolerance;     // 0 for lossless files
    bool floatingPoint;  // read as linear float samples
};

std::vector<FormatCase> formatCases(const TempDir &dir) {
    return {
        {"picture.PNG", pngOf(false), 0.0f, false},
        {"deep.png", pngOf(true), 1e-6f, false},
        {"photo.jpeg", jpegOf(), 5.0f / 255.0f, false},
        {"strips.tif", tiffOf(dir.file("s.tmp"), false, false), 0.0f, false},
        {"tiles.tx", tiffOf(dir.file("t.tmp"), true, false), 0.0f, false},
        {"float_tiles.tiff", tiffOf(dir.file("f.tmp"), true, true), 0.0f, true},
        {"linear.exr", exrOf(dir.file("e.tmp")), 0.0f, true},
    };
}

} // namespace

// Every format, written by its own library from the texels of a TGA file,
// reads back to the TGA's texels: same sides, same values (JPEG within its
// loss), bottom row first.
TEST(ImageFiles, EveryFormatReadsBackAsTheTgaOfTheSameTexels) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(writeFileBytes(dir.file("reference.tga"), tgaOf()));
    Raster reference;
    ASSERT_TRUE(readImageFile(dir.file("reference.tga"), reference));
    ASSERT_TRUE(reference.eightBit());
    for (const FormatCase &c : formatCases(dir)) {
        ASSERT_TRUE(writeFileBytes(dir.file(c.file), c.bytes)) << c.file;
        Raster image;
        ASSERT_TRUE(readImageFile(dir.file(c.file), image)) << c.file;
        ASSERT_EQ(image.width, kW) << c.file;
        ASSERT_EQ(image.height, kH) << c.file;
        EXPECT_EQ(image.floatingPoint, c.floatingPoint) << c.file;
        float worst = 0.0f;
        for (size_t i = 0; i < reference.texelCount() * 3; ++i)
            worst = std::max(worst, std::fabs(valueAt(image, i) - valueAt(reference, i)));
        EXPECT_LE(worst, c.tolerance) << c.file;
    }
}

// A file cut in half, or one that declares far more pixels than it holds,
// is refused with a message naming it; nothing is allocated for the
// declared size.
TEST(ImageFiles, DamagedFilesAreRefusedWithAMessage) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::vector<FormatCase> cases = formatCases(dir);
    cases.push_back({"reference.tga", tgaOf(), 0.0f, false});
    for (const FormatCase &c : cases) {
        const ImageFormat format = imageFormatOfName(c.file);
        LogCapture log;
        Raster image;
        EXPECT_FALSE(decodeImage(c.bytes.data(), c.bytes.size() / 2, format, c.file, image))
            << c.file;
        EXPECT_EQ(image.texelCount(), 0u) << c.file;
        ASSERT_EQ(log.errors().size(), 1u) << c.file;
        EXPECT_NE(log.errors()[0].find(std::string("\"") + c.file + "\""), std::string::npos)
            << log.errors()[0];
        // An empty file of the name, which loads with no buffer at all.
        const std::string empty = dir.file(std::string("empty_") + c.file);
        ASSERT_TRUE(writeFileBytes(empty, Bytes()));
        EXPECT_FALSE(readImageFile(empty, image)) << c.file;
        EXPECT_EQ(log.errors().size(), 2u) << c.file;
    }
    // A JPEG whose frame header says 8000 x 8000: 64 million texels from a
    // file of a few kilobytes.
    Bytes jpeg = jpegOf();
    for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xff && jpeg[i + 1] == 0xc0) {
            jpeg[i + 5] = jpeg[i + 7] = 0x1f;
            jpeg[i + 6] = jpeg[i + 8] = 0x40;
            break;
        }
    }
    LogCapture log;
    Raster image;
    EXPECT_FALSE(decodeImage(jpeg.data(), jpeg.size(), ImageFormat::Jpeg, "big.jpg", image));
    EXPECT_EQ(log.errors(), std::vector<std::string>{
                                "JPEG image \"big.jpg\" declares 8000x8000 pixels, more than its " +
                                std::to_string(jpeg.size()) + " bytes can hold"});
}
