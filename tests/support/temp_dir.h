// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes out of scope; and small helpers to
// read and write whole files as bytes.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

class TempDir {
public:
    TempDir() {
        std::error_code ec;
        std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        if (ec) base = "/tmp";
        std::string pattern = (base / "vortan-test-XXXXXX").string();
        if (mkdtemp(&pattern[0])) path_ = pattern;
    }
    ~TempDir() {
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes dir the working directory until the object goes out of scope.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string &dir) {
        char buf[4096];
        if (getcwd(buf, sizeof buf)) old_ = buf;
        ok_ = chdir(dir.c_str()) == 0;
    }
    ~ScopedChdir() {
        if (!old_.empty() && chdir(old_.c_str()) != 0) std::perror("chdir");
    }
    ScopedChdir(const ScopedChdir &) = delete;
    ScopedChdir &operator=(const ScopedChdir &) = delete;
    bool ok() const { return ok_; }

private:
    std::string old_;
    bool ok_ = false;
};

inline std::vector<unsigned char> readFileBytes(const std::string &path) {
    std::vector<unsigned char> bytes;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

inline bool writeFileBytes(const std::string &path, const std::vector<unsigned char> &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
