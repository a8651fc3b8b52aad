#include "image/exr_reader.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfStringAttribute.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include "util/error.h"

namespace {

// Bytes out per byte in that the OpenEXR compressions can reach.
constexpr uint64_t kExrMaxExpansion = 4096;

// The file in memory as an OpenEXR input stream; reads past the end throw,
// as the library expects of a stream.
class MemoryStream final : public Imf::IStream {
public:
    MemoryStream(const uint8_t *data, size_t size, const char *name)
        : Imf::IStream(name), m_data(data), m_size(size) {}

    bool read(char c[], int n) override {
        if (n < 0 || static_cast<uint64_t>(n) > m_size - m_pos)
            throw std::runtime_error("the file is cut short");
        std::memcpy(c, m_data + m_pos, static_cast<size_t>(n));
        m_pos += static_cast<uint64_t>(n);
        return m_pos < m_size;
    }
    uint64_t tellg() override { return m_pos; }
    void seekg(uint64_t pos) override {
        if (pos > m_size) throw std::runtime_error("a seek past the end of the file");
        m_pos = pos;
    }

private:
    const uint8_t *m_data;
    uint64_t m_size;
    uint64_t m_pos = 0;
};

// Reads the pixels of an opened file; exceptions go to the caller.
bool readPixels(Imf::InputFile &file, size_t size, const char *name, Raster &out) {
    const Imf::Header &header = file.header();
    const Imath::Box2i window = header.dataWindow();
    const int64_t w = int64_t{window.max.x} - window.min.x + 1;
    const int64_t h = int64_t{window.max.y} - window.min.y + 1;
    const Imf::ChannelList &channels = header.channels();
    uint64_t numChannels = 0;
    for (auto it = channels.begin(); it != channels.end(); ++it) ++numChannels;
    // Half samples at the least: two bytes each; counted in double, which no
    // declared size can overflow.
    const double rawBytes =
        (w > 0 && h > 0) ? double(w) * double(h) * double(numChannels) * 2.0 : 0.0;
    const uint64_t raw = rawBytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(rawBytes);
    const uint64_t expansion =
        header.compression() == Imf::NO_COMPRESSION ? 1 : kExrMaxExpansion;
    if (!imageSizeUsable("OpenEXR", name, w > 0 ? uint64_t(w) : 0, h > 0 ? uint64_t(h) : 0, raw,
                         size, expansion))
        return false;

    // R, G and B; a luminance-only file fills all three from Y; any other
    // single channel (a mask) likewise.
    const char *sources[3] = {"R", "G", "B"};
    if (!channels.findChannel("R") && !channels.findChannel("G") && !channels.findChannel("B")) {
        const char *grey = channels.findChannel("Y") ? "Y"
                           : channels.begin() != channels.end() ? channels.begin().name()
                                                                : nullptr;
        if (grey == nullptr) {
            Error("OpenEXR image \"%s\" has no channels", name);
            return false;
        }
        sources[0] = sources[1] = sources[2] = grey;
    }

    allocateRaster(out, static_cast<int>(w), static_cast<int>(h), false);
    out.floatingPoint = true;
    // Read top row first, as the file's lines run; the rows are turned
    // afterwards. A missing channel of an RGB file reads as 0.
    const size_t xStride = 3 * sizeof(float);
    const size_t yStride = xStride * static_cast<size_t>(w);
    const bool single = sources[0] == sources[1];
    Imf::FrameBuffer frame;
    for (int c = 0; c < (single ? 1 : 3); ++c)
        frame.insert(sources[c], Imf::Slice::Make(Imf::FLOAT, out.floats.data() + c, window,
                                                  xStride, yStride));
    file.setFrameBuffer(frame);
    file.readPixels(window.min.y, window.max.y);
    if (single)
        for (size_t i = 0; i < out.floats.size(); i += 3)
            out.floats[i + 1] = out.floats[i + 2] = out.floats[i];
    flipRows(out);
    if (const Imf::StringAttribute *wrap =
            header.findTypedAttribute<Imf::StringAttribute>("wrapmodes"))
        out.wrapModes = wrap->value();
    return true;
}

} // namespace

bool decodeExr(const uint8_t *data, size_t size, const char *name, Raster &out) {
    out = Raster();
    // The magic number 20000630, little-endian.
    if (size < 4 || data[0] != 0x76 || data[1] != 0x2f || data[2] != 0x31 || data[3] != 0x01) {
        Error("OpenEXR image \"%s\" is not an OpenEXR file", name);
        return false;
    }
    // The library reports trouble by exceptions; none leaves this function.
    try {
        MemoryStream stream(data, size, name);
        Imf::InputFile file(stream);
        if (readPixels(file, size, name, out)) return true;
        out = Raster();
        return false;
    } catch (const std::exception &e) {
        Error("OpenEXR image \"%s\" cannot be read: %s", name, e.what());
    } catch (...) {
        Error("OpenEXR image \"%s\" cannot be read", name);
    }
    out = Raster();
    return false;
}
