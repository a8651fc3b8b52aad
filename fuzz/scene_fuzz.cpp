// Fuzz entry of the scene loader: every input is written to a scratch file
// and loaded with readScene. Each input must load or be refused with a
// message; the sanitizers report any read or write outside a buffer.
//
// Build with clang: configure with CXX=clang++ and -DVORTAN_FUZZ=ON, then
// build the target scene_fuzz. Run, for example,
//   scene_fuzz -max_len=4096 -max_total_time=300 corpus/
// with copies of the files in scenes/ as the starting corpus.
#include <glog/logging.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "rendering/read_scene.h"
#include "parsers/scene_nodes.h"
#include "rendering/render.h"
#include "scene/world.h"

namespace {

std::string g_scratch;

void removeScratch() {
    if (!g_scratch.empty()) std::remove(g_scratch.c_str());
}

std::string scratchPath() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/vortan-fuzz-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) return std::string();
    close(fd);
    g_scratch = pattern;
    std::atexit(removeScratch);
    return pattern;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The loader logs every object it adds; keep the fuzzer's output readable.
    FLAGS_minloglevel = google::GLOG_FATAL;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = scratchPath();
    if (path.empty()) return 0;
    // A new file each time: rewriting one in place makes the file system
    // flush it on close, which costs more than loading most inputs.
    std::remove(path.c_str());
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) return 0;

    // The scene-file settings are process-wide: start every input afresh.
    resetSceneFileSettings();
    // Loaded or refused, nothing of the scene may outlive it.
    delete readScene(path.c_str());
    return 0;
}
