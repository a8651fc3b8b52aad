#include "util/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// Temporary names are unique per process (its id) and per write within it
// (a counter), so concurrent writers never share one.
std::atomic<unsigned> g_writeCount{0};

// At most this much of the destination's name goes into the temporary's,
// which keeps the latter within the file system's name length.
constexpr size_t kNameKept = 200;

// A hidden name beside `destination`: ".<name>.<pid>.<count>.tmp".
std::string temporaryName(const std::string &destination) {
    const size_t slash = destination.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string dir = destination.substr(0, nameStart);
    const std::string base = destination.substr(nameStart);
    return dir + "." + base.substr(0, kNameKept) + "." + std::to_string(getpid()) + "." +
           std::to_string(g_writeCount.fetch_add(1)) + ".tmp";
}

// The file a write of `path` replaces: a symbolic link's target.
std::string resolvedDestination(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char *real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path; // a dangling link is replaced itself
    std::string out(real);
    std::free(real);
    return out;
}

} // namespace

AtomicFile::~AtomicFile() { abandon(); }

bool AtomicFile::open(const std::string &path) {
    abandon();
    m_destination = resolvedDestination(path);
    struct stat st;
    const bool exists = stat(m_destination.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        m_file = std::fopen(m_destination.c_str(), "wb");
        return m_file != nullptr;
    }
    // Created as fopen would create the destination; a destination that
    // exists keeps its permissions.
    const std::string temporary = temporaryName(m_destination);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (exists) fchmod(fd, st.st_mode & 07777);
    m_file = fdopen(fd, "wb");
    if (m_file == nullptr) {
        const int saved = errno;
        ::close(fd);
        unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    m_temporary = temporary;
    return true;
}

bool AtomicFile::commit(bool sync) {
    if (m_file == nullptr) {
        errno = EBADF;
        return false;
    }
    bool ok = std::fflush(m_file) == 0 && std::ferror(m_file) == 0;
    int saved = ok ? 0 : errno;
    // Data that reaches the disk before the rename: after a crash the name
    // holds the old file or the whole new one, never an empty one. A
    // device or a pipe cannot be synced, and need not be.
    if (ok && sync && !m_temporary.empty() && fsync(fileno(m_file)) != 0) {
        ok = false;
        saved = errno;
    }
    if (std::fclose(m_file) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    m_file = nullptr;
    if (ok && !m_temporary.empty() &&
        std::rename(m_temporary.c_str(), m_destination.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        if (!m_temporary.empty()) unlink(m_temporary.c_str());
        errno = saved;
    }
    m_temporary.clear();
    return ok;
}

void AtomicFile::abandon() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_temporary.empty()) {
        unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}
