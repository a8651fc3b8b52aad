#include "launcher/image_output.h"

#include <png.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "util/display_gamma.h"

namespace {

// PNG stores a side in 31 bits; frames here are at most 65535 on a side,
// like the TGA writer's.
constexpr int kMaxSide = 65535;

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

    // The simplified interface reports failures in the image record rather
    // than by a long jump.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    FILE *file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    const int written = png_image_write_to_stdio(&image, file, 0, bytes.data(), width * 3, nullptr);
    const bool closed = std::fclose(file) == 0;
    if (!written) {
        *error = image.message;
        png_image_free(&image);
        return false;
    }
    if (!closed) {
        *error = "the file could not be written whole";
        return false;
    }
    return true;
}

bool writeExr(const std::string &fileName, const float *rgb, int width, int height,
              std::string *error) {
    if (!checkSize(width, height, rgb, error)) return false;
    // The library reports every failure by an exception; none leaves here.
    try {
        Imf::Header header(width, height);
        for (const char *channel : {"R", "G", "B"})
            header.channels().insert(channel, Imf::Channel(Imf::FLOAT));
        Imf::OutputFile file(fileName.c_str(), header);
        Imf::FrameBuffer frame;
        const size_t pixelStride = 3 * sizeof(float);
        const size_t rowStride = pixelStride * static_cast<size_t>(width);
        // The slices only read the frame.
        char *base = reinterpret_cast<char *>(const_cast<float *>(rgb));
        frame.insert("R", Imf::Slice(Imf::FLOAT, base, pixelStride, rowStride));
        frame.insert("G", Imf::Slice(Imf::FLOAT, base + sizeof(float), pixelStride, rowStride));
        frame.insert("B",
                     Imf::Slice(Imf::FLOAT, base + 2 * sizeof(float), pixelStride, rowStride));
        file.setFrameBuffer(frame);
        file.writePixels(height);
    } catch (const std::exception &e) {
        *error = e.what();
        return false;
    } catch (...) {
        *error = "the file could not be written";
        return false;
    }
    return true;
}
