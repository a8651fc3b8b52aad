// Tokenizer throughput: reading numbers with readFloat from a large text, the
// bulk of the work of loading a big mesh.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "parsers/text_parser.h"

namespace {

constexpr int kNumbers = 10000000;

// Ten million numbers written the way scene files write vertex lists: three
// per line, mixed signs and magnitudes.
const std::string &numberText() {
    static const std::string text = [] {
        std::string s;
        s.reserve(static_cast<size_t>(kNumbers) * 11);
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
        char buf[32];
        for (int i = 0; i < kNumbers; ++i) {
            const int n = std::snprintf(buf, sizeof buf, "%.6g", static_cast<double>(value(rng)));
            s.append(buf, static_cast<size_t>(n));
            s += (i % 3 == 2) ? '\n' : ' ';
        }
        return s;
    }();
    return text;
}

void BM_ReadFloat(benchmark::State &state) {
    const std::string &text = numberText();
    for (auto _ : state) {
        TextParser parser;
        parser.loadMemory(text.data(), text.size(), "numbers");
        float sum = 0.0f;
        for (int i = 0; i < kNumbers; ++i) sum += parser.readFloat();
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["numbers/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kNumbers, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadFloat)->Unit(benchmark::kMillisecond);

} // namespace
