// Runs a fuzz entry over saved inputs without the fuzzing engine, so that
// the seed inputs are checked by every build, the sanitizer builds included:
//   scene_fuzz_replay FILE_OR_DIRECTORY...
// Every file named, and every regular file in a directory named (in name
// order, not descending further), is passed once to LLVMFuzzerTestOneInput.
// Exits with 1 when a path cannot be read or no input was found, so that a
// moved corpus does not pass unnoticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Defined by the entries that need it, as libFuzzer allows.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

namespace fs = std::filesystem;

bool readFile(const std::string &path, std::vector<uint8_t> &out) {
    out.clear();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// The inputs a command-line path stands for; false when it is neither a
// readable directory nor a file.
bool collect(const std::string &arg, std::vector<std::string> &inputs) {
    std::error_code ec;
    if (!fs::is_directory(arg, ec)) {
        if (!fs::exists(arg, ec)) return false;
        inputs.push_back(arg);
        return true;
    }
    std::vector<std::string> found;
    fs::directory_iterator it(arg, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec)) found.push_back(it->path().string());
    if (ec) return false;
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s FILE_OR_DIRECTORY...\n", argc > 0 ? argv[0] : "replay");
        return 2;
    }
    bool ok = true;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!collect(argv[i], inputs)) {
            std::fprintf(stderr, "Cannot read inputs from \"%s\"\n", argv[i]);
            ok = false;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "No inputs found\n");
        return 1;
    }

    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    std::vector<uint8_t> data;
    size_t replayed = 0;
    for (const std::string &path : inputs) {
        if (!readFile(path, data)) {
            std::fprintf(stderr, "Cannot read \"%s\"\n", path.c_str());
            ok = false;
            continue;
        }
        std::fprintf(stderr, "Running: %s (%zu bytes)\n", path.c_str(), data.size());
        // Like libFuzzer, an empty input still comes with a valid pointer.
        static const uint8_t kEmpty = 0;
        LLVMFuzzerTestOneInput(data.empty() ? &kEmpty : data.data(), data.size());
        ++replayed;
    }
    std::fprintf(stderr, "Replayed %zu of %zu inputs\n", replayed, inputs.size());
    return ok ? 0 : 1;
}
