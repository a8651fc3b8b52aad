#include "util/compressed_file.h"

#include <zlib.h>

#include <algorithm>

GzipStatus readGzipFile(const char *path, uint64_t maxBytes, std::string &out) {
    out.clear();
    gzFile file = gzopen(path, "rb");
    if (file == nullptr) return GzipStatus::Unreadable;
    constexpr unsigned kChunk = 1u << 20;
    GzipStatus status = GzipStatus::Ok;
    for (;;) {
        // One byte more than allowed may be asked for, to tell a text that
        // fills the allowance exactly from one that goes beyond it.
        const uint64_t room = maxBytes + 1 - out.size();
        const unsigned want = static_cast<unsigned>(std::min<uint64_t>(kChunk, room));
        const size_t at = out.size();
        out.resize(at + want);
        const int got = gzread(file, &out[at], want);
        if (got < 0) {
            out.resize(at);
            int code = Z_OK;
            gzerror(file, &code);
            status = code == Z_ERRNO ? GzipStatus::Unreadable : GzipStatus::Damaged;
            break;
        }
        out.resize(at + static_cast<size_t>(got));
        if (out.size() > maxBytes) {
            status = GzipStatus::TooLarge;
            break;
        }
        if (got == 0) break;
    }
    // A stream cut short reads as far as it goes; the end says so.
    if (status == GzipStatus::Ok) {
        int code = Z_OK;
        gzerror(file, &code);
        if (code != Z_OK && code != Z_STREAM_END) status = GzipStatus::Damaged;
    }
    gzclose(file);
    if (status != GzipStatus::Ok) std::string().swap(out);
    return status;
}
