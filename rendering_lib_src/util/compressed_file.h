// Files compressed with gzip, read whole into memory.
#pragma once

#include <cstdint>
#include <string>

enum class GzipStatus {
    Ok,
    Unreadable, // cannot be opened or read
    Damaged,    // not valid compressed data, or cut short
    TooLarge,   // would decompress to more than the caller allows
};

// Reads the file, one gzip stream or several in a row (a file that is not
// compressed at all is read as it is), into `out`; at most maxBytes bytes
// are ever held.
GzipStatus readGzipFile(const char *path, uint64_t maxBytes, std::string &out);
