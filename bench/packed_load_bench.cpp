// Loading throughput of scene files whose lists are packed: about 100 MB of
// quad meshes with b85 points and indices and b64 normals, and the same
// meshes written as plain numbers for comparison. Only the loader is
// timed: informational log lines are dropped and no accelerator is built.
#include <benchmark/benchmark.h>
#include <glog/logging.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "parsers/scene_nodes.h"
#include "parsers/ass_parser.h"
#include "rendering/render.h"
#include "scene/world.h"

namespace {

constexpr int kGrid = 300;   // quads per side of one mesh
constexpr int kMeshes = 22; // meshes in the file (the packed one is about 100 MB)

uint32_t floatBits(float f) {
    uint32_t w;
    std::memcpy(&w, &f, 4);
    return w;
}

void appendB85(std::string &out, uint32_t word) {
    if (word == 0) {
        out += 'z';
        return;
    }
    char digits[5];
    for (int i = 4; i >= 0; --i) {
        digits[i] = static_cast<char>('$' + word % 85);
        word /= 85;
    }
    out.append(digits, 5);
}

void appendB64(std::string &out, const std::string &bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 2]));
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
        // Wrapped like the files that write b64 over several lines.
        if ((i / 3) % 19 == 18) out += "\n  ";
    }
}

// One grid of kGrid x kGrid quads, lightly bumped, with per-vertex normals.
std::string meshNode(int index, bool packed) {
    const int n = kGrid + 1;
    std::string s = "polymesh\n{\n name /grid" + std::to_string(index) + ":mesh\n";
    const uint32_t quads = static_cast<uint32_t>(kGrid) * kGrid;
    const uint32_t points = static_cast<uint32_t>(n) * n;
    char line[128];
    if (packed) {
        std::snprintf(line, sizeof line, " nsides %u 1 b85UINT\nB!", quads);
        s += line;
        appendB85(s, 0x04040404u);
        appendB85(s, (quads + 3) / 4);
        std::snprintf(line, sizeof line, "\n vidxs %u 1 b85UINT\nE", 4 * quads);
        s += line;
    } else {
        std::snprintf(line, sizeof line, " nsides %u 1 UINT\n", quads);
        s += line;
        for (uint32_t q = 0; q < quads; ++q) s += q % 30 == 29 ? "4\n" : "4 ";
        std::snprintf(line, sizeof line, "\n vidxs %u 1 UINT\n", 4 * quads);
        s += line;
    }
    for (int y = 0; y < kGrid; ++y) {
        for (int x = 0; x < kGrid; ++x) {
            const uint32_t c[4] = {static_cast<uint32_t>(y * n + x),
                                   static_cast<uint32_t>(y * n + x + 1),
                                   static_cast<uint32_t>((y + 1) * n + x + 1),
                                   static_cast<uint32_t>((y + 1) * n + x)};
            for (uint32_t v : c) {
                if (packed) {
                    appendB85(s, v);
                } else {
                    s += std::to_string(v);
                    s += ' ';
                }
            }
            if (!packed) s += '\n';
        }
    }
    std::snprintf(line, sizeof line, "\n vlist %u 1 %sVECTOR\n", points, packed ? "b85" : "");
    s += line;
    std::string normals;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const float p[3] = {static_cast<float>(x) * 0.01f, static_cast<float>(y) * 0.01f,
                                0.001f * static_cast<float>((x * 7 + y * 13) % 11)};
            const float nn[3] = {0.0f, 0.0f, 1.0f};
            for (float f : p) {
                if (packed) {
                    appendB85(s, floatBits(f));
                } else {
                    std::snprintf(line, sizeof line, "%.6g ", static_cast<double>(f));
                    s += line;
                }
            }
            if (!packed) s += '\n';
            for (float f : nn) {
                const uint32_t w = floatBits(f);
                normals.append(reinterpret_cast<const char *>(&w), 4);
            }
        }
    }
    std::snprintf(line, sizeof line, "\n nlist %u 1 %sVECTOR\n  ", points, packed ? "b64" : "");
    s += line;
    if (packed) {
        appendB64(s, normals);
    } else {
        for (uint32_t v = 0; v < points; ++v) s += "0 0 1\n";
    }
    s += "\n matrix\n 1 0 0 0 0 1 0 0 0 0 1 0 0 0 " + std::to_string(index) + " 1\n}\n";
    return s;
}

// Writes the scene once per process and returns its path and size.
const std::string &sceneFile(bool packed, size_t *bytes) {
    static std::string paths[2];
    static size_t sizes[2];
    std::string &path = paths[packed ? 1 : 0];
    if (path.empty()) {
        const std::string tmp = std::filesystem::temp_directory_path().string();
        path = tmp + (packed ? "/vortan-bench-packed.ass" : "/vortan-bench-plain.ass");
        FILE *f = std::fopen(path.c_str(), "wb");
        std::string head = "options\n{\n xres 64\n yres 64\n}\npersp_camera\n{\n name cam\n}\n";
        size_t total = std::fwrite(head.data(), 1, head.size(), f);
        for (int m = 0; m < kMeshes; ++m) {
            const std::string node = meshNode(m, packed);
            total += std::fwrite(node.data(), 1, node.size(), f);
        }
        std::fclose(f);
        sizes[packed ? 1 : 0] = total;
    }
    *bytes = sizes[packed ? 1 : 0];
    return path;
}

void loadBench(benchmark::State &state, bool packed) {
    size_t bytes = 0;
    const std::string &path = sceneFile(packed, &bytes);
    FLAGS_minloglevel = google::GLOG_WARNING;
    setenv("VORTAN_ACCEL", "none", 1);
    for (auto _ : state) {
        resetSceneFileSettings();
        World *world = nullptr;
        if (!loadScene(path.c_str(), world)) state.SkipWithError("the scene did not load");
        // Scenes are not freed by the renderer; a benchmark process holds
        // only a few of them.
        benchmark::DoNotOptimize(world);
    }
    unsetenv("VORTAN_ACCEL");
    FLAGS_minloglevel = google::GLOG_INFO;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_LoadPackedScene(benchmark::State &state) { loadBench(state, true); }
void BM_LoadPlainScene(benchmark::State &state) { loadBench(state, false); }

// A few iterations: every load keeps its scene (about 300 MB each).
BENCHMARK(BM_LoadPackedScene)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_LoadPlainScene)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
