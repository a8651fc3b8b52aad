#include "image/image_files.h"

#include <cctype>

#include "image/exr_reader.h"
#include "image/imageio.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"
#include "image/tiff_reader.h"
#include "util/error.h"
#include "util/mapped_file.h"

namespace {

bool endsWith(const std::string &name, const char *ending) {
    const std::string e(ending);
    if (name.size() < e.size()) return false;
    for (size_t i = 0; i < e.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - e.size() + i])) != e[i])
            return false;
    return true;
}

} // namespace

ImageFormat imageFormatOfName(const std::string &fileName) {
    if (endsWith(fileName, ".png")) return ImageFormat::Png;
    if (endsWith(fileName, ".jpg") || endsWith(fileName, ".jpeg")) return ImageFormat::Jpeg;
    if (endsWith(fileName, ".tif") || endsWith(fileName, ".tiff") || endsWith(fileName, ".tx"))
        return ImageFormat::Tiff;
    if (endsWith(fileName, ".exr")) return ImageFormat::Exr;
    return ImageFormat::Tga;
}

const char *imageFormatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::Tga:
        return "TGA";
    case ImageFormat::Png:
        return "PNG";
    case ImageFormat::Jpeg:
        return "JPEG";
    case ImageFormat::Tiff:
        return "TIFF";
    case ImageFormat::Exr:
        return "OpenEXR";
    }
    return "image";
}

bool decodeImage(const uint8_t *data, size_t size, ImageFormat format, const char *name,
                 Raster &out) {
    switch (format) {
    case ImageFormat::Tga:
        // The TGA decoder keeps the sides of a file whose pixels fall
        // short; here a failure leaves nothing.
        if (decodeTga(data, size, name, out)) return true;
        out = Raster();
        return false;
    case ImageFormat::Png:
        return decodePng(data, size, name, out);
    case ImageFormat::Jpeg:
        return decodeJpeg(data, size, name, out);
    case ImageFormat::Tiff:
        return decodeTiff(data, size, name, out);
    case ImageFormat::Exr:
        return decodeExr(data, size, name, out);
    }
    return false;
}

bool readImageFile(const std::string &fileName, Raster &out) {
    const char *name = fileName.c_str();
    const ImageFormat format = imageFormatOfName(fileName);
    const char *kind = imageFormatName(format);
    if (!MappedText::isRegularFile(name)) {
        // A FIFO would block the load for ever; a directory is no image.
        Error("%s file \"%s\" is not a regular file", kind, name);
        return false;
    }
    MappedText file;
    if (!file.loadFile(name)) {
        Error("Unable to open %s file \"%s\"", kind, name);
        return false;
    }
    // An empty file loads with no buffer at all.
    static const uint8_t kNothing = 0;
    const size_t size = file.length() > 0 ? static_cast<size_t>(file.length() - 1) : 0;
    const uint8_t *bytes =
        file.data() != nullptr ? reinterpret_cast<const uint8_t *>(file.data()) : &kNothing;
    if (!decodeImage(bytes, size, format, name, out)) {
        out = Raster();
        return false;
    }
    // The TGA line reads as it always has, without its closing parenthesis.
    INFO_LOG << "Read " << kind << " image " << fileName << " (" << out.width << "x"
             << out.height << (format == ImageFormat::Tga ? "" : ")");
    return true;
}
