#include "util/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

void MappedText::release() {
    if (m_mappedBytes != 0)
        munmap(m_buffer, m_mappedBytes);
    else
        delete[] m_buffer;
    m_mappedBytes = 0;
    m_released = nullptr;
    m_buffer = nullptr;
    m_length = 0;
}

bool MappedText::mapFile(int fd, size_t size) {
    // A private mapping of the file, followed by at least one zero byte: the
    // rest of the file's last page reads as zeros, and when the file ends on
    // a page boundary an anonymous page reserved behind it supplies the zero.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t bytes = (size + 1 + page - 1) / page * page;
    void *base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return false;
    void *text = mmap(base, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd, 0);
    if (text == MAP_FAILED) {
        munmap(base, bytes);
        return false;
    }
    madvise(base, size, MADV_SEQUENTIAL);
    m_buffer = static_cast<char *>(base);
    m_mappedBytes = bytes;
    m_length = static_cast<int32_t>(size + 1);
    m_released = m_buffer;
    return true;
}

void MappedText::releaseBefore(const char *cursor) {
    if (m_mappedBytes == 0) return;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t from = reinterpret_cast<uintptr_t>(m_released);
    const uintptr_t to = reinterpret_cast<uintptr_t>(cursor) / page * page;
    if (to <= from) return;
    madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
    m_released = reinterpret_cast<const char *>(to);
}

bool MappedText::loadFile(const char *path) {
    release();
    if (!path) return false;
    // A regular file of useful size is mapped rather than copied: no copy
    // to make, and pages behind the reader can be given back as it moves on.
    // Opened without blocking: a FIFO (or a device) would otherwise wait
    // for a writer for ever. Only regular files are read.
    {
        const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return false;
        struct stat st;
        const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        const bool mappable = regular && st.st_size > 0 && st.st_size < INT32_MAX;
        const bool mapped = mappable && mapFile(fd, static_cast<size_t>(st.st_size));
        close(fd);
        if (mapped) return true;
        if (!regular) return false;
    }
    FILE *file = std::fopen(path, "r");
    if (!file) return false;

    // The length (text plus its zero byte) must fit the 32-bit count: a file
    // whose size cannot be measured or is too large is refused.
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    long size = ok ? std::ftell(file) : -1L;
    ok = ok && size >= 0 && size < INT32_MAX && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok && size > 0) {
        const size_t wanted = static_cast<size_t>(size);
        m_buffer = new char[wanted + 1];
        const size_t got = std::fread(m_buffer, 1, wanted, file);
        if (std::ferror(file)) {
            // A read error (a directory, a failing device) is not a text.
            ok = false;
            release();
        } else {
            // The file may deliver fewer bytes than measured; the length
            // follows what was read so that nothing after it is ever looked at.
            m_buffer[got] = '\0';
            m_length = static_cast<int32_t>(got + 1);
        }
    }
    if (ok && size == 0) {
        // An empty file loads as an empty text; a stream that cannot be
        // read at all does not.
        (void)std::fgetc(file);
        ok = !std::ferror(file);
    }
    std::fclose(file);
    return ok;
}

void MappedText::loadMemory(const char *bytes, size_t count) {
    release();
    // A text too long for the 32-bit length is not loaded.
    if (!bytes || count >= static_cast<size_t>(INT32_MAX)) return;
    m_buffer = new char[count + 1];
    std::memcpy(m_buffer, bytes, count);
    m_buffer[count] = '\0';
    m_length = static_cast<int32_t>(count + 1);
}

bool MappedText::isRegularFile(const char *path) {
    if (path == nullptr) return false;
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return true; // not there at all: that is another message
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return regular;
}
