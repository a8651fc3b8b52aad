// Output files written whole or not at all. The data goes to a new file of
// its own in the destination's directory, which replaces the destination by
// a rename only once every byte was written, flushed and the file closed
// without error. A failed or abandoned write removes that file and leaves
// whatever the destination held before; two writers of one name leave the
// whole file of one of them.
#pragma once

#include <cstdio>
#include <string>

class AtomicFile {
public:
    AtomicFile() = default;
    // An open write that was not committed is abandoned.
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Starts writing `path`. False, with errno set, when the file cannot be
    // created. A destination that exists and is no regular file (a device,
    // a pipe) cannot be replaced: it is written in place. A symbolic link
    // is followed: its target is replaced.
    bool open(const std::string &path);
    // The stream to write to while open; null otherwise.
    FILE *file() const { return m_file; }
    // Completes the write: flushes, with `sync` forces the data to the disk,
    // closes, and puts the file in the destination's place. False, with
    // errno set, when any step failed; the write is abandoned then.
    bool commit(bool sync);
    // Drops the write: the destination stays as it was.
    void abandon();

private:
    FILE *m_file = nullptr;
    std::string m_destination;
    std::string m_temporary; // empty when writing in place
};
