// Encoders of packed array text for tests: the bits of floats, b85 words
// (with or without the z / y / ! shorthand), b85 integers behind their
// packing letter, and base64 of little-endian words wrapped over lines.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace packed_text {

using Words = std::vector<uint32_t>;
using Bytes = std::vector<unsigned char>;

inline uint32_t bitsOf(float f) {
    uint32_t w;
    std::memcpy(&w, &f, 4);
    return w;
}

inline Words floatWords(const std::vector<float> &values) {
    Words w;
    for (float v : values) w.push_back(bitsOf(v));
    return w;
}

// Five digits from '$', most significant first. 64 bits wide so that a
// group beyond any 32-bit word can be written too.
inline std::string group85(uint64_t v) {
    std::string g(5, '$');
    for (int i = 4; i >= 0; --i, v /= 85) g[static_cast<size_t>(i)] = static_cast<char>('$' + v % 85);
    return g;
}

// With shorthand: 'z' for 0, 'y' for 1.0 and "!" word count for runs of
// three or more equal words.
inline std::string b85(const Words &w, bool shorthand = true) {
    std::string s;
    for (size_t i = 0, run; i < w.size(); i += run) {
        for (run = 1; shorthand && i + run < w.size() && w[i + run] == w[i];) ++run;
        if (run >= 3) {
            s += "!" + group85(w[i]) + group85(run);
            continue;
        }
        run = 1;
        s += !shorthand ? group85(w[i]) : w[i] == 0 ? "z" : w[i] == 0x3F800000u ? "y" : group85(w[i]);
    }
    return s;
}

// Integers packed low bits first behind their letter: B 4 x 8 bits, C 2 x 16,
// E 1 x 32, F 3 x 10; the last word is padded with zeros. Some writers put a
// blank after the letter.
inline std::string b85Ints(char letter, const Words &values, bool blank = false) {
    const size_t per = letter == 'B' ? 4 : letter == 'C' ? 2 : letter == 'F' ? 3 : 1;
    const size_t bits = letter == 'F' ? 10 : 32 / per;
    Words w((values.size() + per - 1) / per, 0);
    for (size_t i = 0; i < values.size(); ++i)
        w[i / per] |= static_cast<uint32_t>(uint64_t{values[i]} << (bits * (i % per)));
    return std::string(1, letter) + (blank ? " " : "") + b85(w);
}

// A byte stream as b85: whole words of four little-endian bytes (without
// shorthand), then the last 1 to 3 bytes as a short group: the digits of the
// word they start, most significant first, cut to one more than their count.
inline std::string b85Bytes(const Bytes &b) {
    std::string s;
    size_t i = 0;
    for (; i + 4 <= b.size(); i += 4)
        s += group85(uint32_t{b[i]} | uint32_t{b[i + 1]} << 8 | uint32_t{b[i + 2]} << 16 |
                     uint32_t{b[i + 3]} << 24);
    if (i == b.size()) return s;
    uint32_t w = 0;
    for (size_t k = 0; i + k < b.size(); ++k) w |= uint32_t{b[i + k]} << (24 - 8 * k);
    return s + group85(w).substr(0, b.size() - i + 1);
}

inline std::string base64(const Bytes &b) {
    const char *abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    for (size_t i = 0; i < b.size(); i += 3) {
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k) v = v << 8 | (i + k < b.size() ? b[i + k] : 0u);
        for (size_t k = 0; k < 4; ++k) s += i + k <= b.size() ? abc[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return s;
}

// Base64 of the words' little-endian bytes in lines of nextWidth()
// characters, joined by a line break and an indent.
template <typename NextWidth> std::string b64Lines(const Words &w, NextWidth nextWidth) {
    Bytes b;
    for (uint32_t x : w)
        for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(x >> (8 * k)));
    const std::string s = base64(b);
    std::string out;
    for (size_t at = 0, width; at < s.size(); at += width) {
        width = nextWidth();
        out += (at == 0 ? "" : "\n  ") + s.substr(at, width);
    }
    return out;
}

// Wrapped every `wrap` characters.
inline std::string b64(const Words &w, size_t wrap) {
    return b64Lines(w, [wrap] { return wrap; });
}

} // namespace packed_text
