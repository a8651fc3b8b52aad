// A whole text in memory followed by a zero byte: a private mapping of a
// regular file (pages behind a reader can be handed back), or a heap copy.
#pragma once

#include <cstddef>
#include <cstdint>

class MappedText {
public:
    MappedText() = default;
    ~MappedText() { release(); }
    MappedText(const MappedText &) = delete;
    MappedText &operator=(const MappedText &) = delete;

    // False for a null path, a file that cannot be opened or read, anything
    // that is not a regular file (a FIFO is never waited on), and a file too
    // large for the 32-bit length. An empty file loads.
    bool loadFile(const char *path);
    // Exactly count bytes followed by a zero byte; a text too long for the
    // 32-bit length is not loaded (the buffer stays empty).
    void loadMemory(const char *bytes, size_t count);
    void release();

    // The text and its zero byte; null when nothing is loaded.
    char *data() const { return m_buffer; }
    // Bytes of the text plus its zero byte (0 when nothing is loaded).
    int32_t length() const { return m_length; }
    bool mapped() const { return m_mappedBytes != 0; }
    // Lets the system drop the mapped pages that lie wholly before `cursor`;
    // a page dropped is read again from the file should it be looked at.
    void releaseBefore(const char *cursor);
    // Where the pages handed back so far end.
    const char *releasedUpTo() const { return m_released; }

    // False when path names something that exists but is not a regular file
    // (a directory, a FIFO, a device); true otherwise, a missing file too.
    static bool isRegularFile(const char *path);

private:
    bool mapFile(int fd, size_t size);

    char *m_buffer = nullptr;
    int32_t m_length = 0;
    // Non-zero when the buffer is a mapping of the file (text, zero byte and
    // page padding) rather than a heap copy.
    size_t m_mappedBytes = 0;
    // Pages before this point have been handed back.
    const char *m_released = nullptr;
};
