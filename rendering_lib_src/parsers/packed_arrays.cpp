#include "parsers/packed_arrays.h"

#include <algorithm>
#include <vector>

namespace {

// Table entries above the 6-bit digit range mark characters that are not
// digits: kNotDigit for any foreign byte, kPadChar for base64 '='.
constexpr uint8_t kNotDigit = 0x80;
constexpr uint8_t kPadChar = 0x40;

// Base85 digit value of every byte: '$' (36) .. 'x' (120) are 0 .. 84.
struct B85Digits {
    uint8_t value[256];
    constexpr B85Digits() : value{} {
        for (int i = 0; i < 256; ++i)
            value[i] = (i >= 36 && i <= 120) ? static_cast<uint8_t>(i - 36) : kNotDigit;
    }
};
constexpr B85Digits kB85;

// Base64 digit value of every byte, kPadChar for '='.
struct B64Digits {
    uint8_t value[256];
    constexpr B64Digits() : value{} {
        for (int i = 0; i < 256; ++i) value[i] = kNotDigit;
        for (int i = 0; i < 26; ++i) {
            value['A' + i] = static_cast<uint8_t>(i);
            value['a' + i] = static_cast<uint8_t>(26 + i);
        }
        for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<uint8_t>(52 + i);
        value[static_cast<unsigned char>('+')] = 62;
        value[static_cast<unsigned char>('/')] = 63;
        value[static_cast<unsigned char>('=')] = kPadChar;
    }
};
constexpr B64Digits kB64;

inline uint8_t b85Digit(char c) { return kB85.value[static_cast<unsigned char>(c)]; }
inline uint8_t b64Digit(char c) { return kB64.value[static_cast<unsigned char>(c)]; }

// Reads the five digits at p (the caller has checked they are there). False
// for a non-digit or a value that does not fit 32 bits.
inline bool readGroup(const char *p, uint32_t &word) {
    const uint8_t d0 = b85Digit(p[0]), d1 = b85Digit(p[1]), d2 = b85Digit(p[2]),
                  d3 = b85Digit(p[3]), d4 = b85Digit(p[4]);
    if ((d0 | d1 | d2 | d3 | d4) & kNotDigit) return false;
    const uint64_t v = (((uint64_t(d0) * 85 + d1) * 85 + d2) * 85 + d3) * 85 + d4;
    if (v > 0xFFFFFFFFu) return false;
    word = static_cast<uint32_t>(v);
    return true;
}

inline void storeWord(unsigned char *p, uint32_t w) {
    p[0] = static_cast<unsigned char>(w);
    p[1] = static_cast<unsigned char>(w >> 8);
    p[2] = static_cast<unsigned char>(w >> 16);
    p[3] = static_cast<unsigned char>(w >> 24);
}

inline uint32_t loadWord(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Values of `Bits` bits each, Per to a word, low bits first; the last word
// may be used in part.
template <int Per, int Bits>
void unpack(const unsigned char *words, uint32_t *values, size_t count) {
    constexpr uint32_t mask = Bits == 32 ? 0xFFFFFFFFu : (1u << (Bits % 32)) - 1u;
    const size_t full = count / Per;
    for (size_t k = 0; k < full; ++k, words += 4, values += Per) {
        const uint32_t w = loadWord(words);
        for (int j = 0; j < Per; ++j) values[j] = (w >> (j * Bits % 32)) & mask;
    }
    const size_t rest = count % Per;
    if (rest != 0) {
        const uint32_t w = loadWord(words);
        for (size_t j = 0; j < rest; ++j) values[j] = (w >> (j * Bits % 32)) & mask;
    }
}

}  // namespace

int64_t decodeB85(const char *begin, const char *end, unsigned char *out, size_t capacityWords,
                  int *tailBytes) {
    if (tailBytes != nullptr) *tailBytes = 0;
    if (begin == nullptr || end == nullptr) return begin == end ? 0 : kPackedDamaged;
    if (end < begin) return kPackedDamaged;
    if (out == nullptr) capacityWords = 0;
    constexpr uint64_t kMaxCount = uint64_t(INT64_MAX);
    // Words so far. Only repeats can add much, and each is bounded below
    // kMaxCount; single words add at most the text length, so this never
    // wraps and a final comparison catches the rest.
    uint64_t count = 0;
    const uint64_t capacity = capacityWords;
    const char *p = begin;
    while (p < end) {
        uint32_t w;
        const char c = *p;
        if (c == 'z') {
            w = 0;
            ++p;
        } else if (c == 'y') {
            w = 0x3F800000u;
            ++p;
        } else if (c == '!') {
            uint32_t n;
            if (end - p < 11 || !readGroup(p + 1, w) || !readGroup(p + 6, n)) return kPackedDamaged;
            p += 11;
            if (count > kMaxCount - n) return kPackedDamaged;
            // Only the words that fit are stored; the rest are just counted.
            if (count < capacity) {
                const uint64_t stored = std::min<uint64_t>(n, capacity - count);
                unsigned char *dst = out + count * 4;
                for (uint64_t i = 0; i < stored; ++i, dst += 4) storeWord(dst, w);
            }
            count += n;
            continue;
        } else if (end - p >= 5) {
            if (!readGroup(p, w)) return kPackedDamaged;
            p += 5;
        } else {
            // A short group can only be the last one: the stream's last
            // k = digits - 1 bytes.
            const int k = static_cast<int>(end - p) - 1;
            if (tailBytes == nullptr || k < 1) return kPackedDamaged;
            char group[5] = {'x', 'x', 'x', 'x', 'x'};
            for (int i = 0; i <= k; ++i) group[i] = p[i];
            if (!readGroup(group, w)) return kPackedDamaged;
            if (count < capacity) {
                unsigned char *dst = out + count * 4;
                for (int i = 0; i < 4; ++i)
                    dst[i] = i < k ? static_cast<unsigned char>(w >> (24 - 8 * i)) : 0;
            }
            *tailBytes = k;
            break;
        }
        if (count < capacity) storeWord(out + count * 4, w);
        ++count;
    }
    return count > kMaxCount ? kPackedDamaged : static_cast<int64_t>(count);
}

Base64Decoder::Base64Decoder(unsigned char *out, size_t capacityBytes)
    : m_out(out), m_capacity(out == nullptr ? 0 : capacityBytes) {}

bool Base64Decoder::feed(const char *begin, const char *end) {
    if (m_failed) return false;
    if (begin == nullptr || end == nullptr || end < begin) {
        if (begin == end) return true;
        m_failed = true;
        return false;
    }
    const char *p = begin;
    while (p < end) {
        // Whole groups of four data characters, taken together while no
        // group is open; padding or a bad character drops to the per
        // character path below.
        // Locals, since stores through the byte pointer could otherwise
        // alias the members and force them to be reloaded per group.
        if (m_groupChars == 0 && !m_padded) {
            unsigned char *const out = m_out;
            const uint64_t capacity = m_capacity;
            uint64_t bytes = m_bytes;
            while (end - p >= 4) {
                const uint8_t d0 = b64Digit(p[0]), d1 = b64Digit(p[1]), d2 = b64Digit(p[2]),
                              d3 = b64Digit(p[3]);
                if ((d0 | d1 | d2 | d3) & (kNotDigit | kPadChar)) break;
                const uint32_t v = uint32_t(d0) << 18 | uint32_t(d1) << 12 | uint32_t(d2) << 6 | d3;
                const unsigned char b[3] = {static_cast<unsigned char>(v >> 16),
                                            static_cast<unsigned char>(v >> 8),
                                            static_cast<unsigned char>(v)};
                if (bytes + 3 <= capacity) {
                    out[bytes] = b[0];
                    out[bytes + 1] = b[1];
                    out[bytes + 2] = b[2];
                } else {
                    for (uint64_t i = 0; i < 3; ++i)
                        if (bytes + i < capacity) out[bytes + i] = b[i];
                }
                bytes += 3;
                p += 4;
            }
            m_bytes = bytes;
            if (p == end) break;
        }
        const uint8_t d = b64Digit(*p++);
        if (d & kNotDigit) {
            m_failed = true;
            return false;
        }
        if (d == kPadChar) {
            // The first '=' closes a group of 2 or 3 data characters; a
            // second one may only complete the group that held 2.
            const bool fits = m_padded ? m_groupChars == 3 : (m_groupChars == 2 || m_groupChars == 3);
            if (!fits) {
                m_failed = true;
                return false;
            }
            m_padded = true;
            m_groupChars = (m_groupChars + 1) & 3;
            continue;
        }
        if (m_padded) {
            m_failed = true;
            return false;
        }
        // Each data character after the first of a group completes a byte.
        m_acc = (m_acc << 6) | d;
        switch (++m_groupChars) {
        case 2: put(static_cast<unsigned char>(m_acc >> 4)); break;
        case 3: put(static_cast<unsigned char>(m_acc >> 2)); break;
        case 4:
            put(static_cast<unsigned char>(m_acc));
            m_acc = 0;
            m_groupChars = 0;
            break;
        default: break;
        }
    }
    return true;
}

bool Base64Decoder::finish() {
    if (m_failed) return false;
    // A lone character carries 6 bits, not enough for a byte.
    if (!m_padded && m_groupChars == 1) {
        m_failed = true;
        return false;
    }
    return true;
}

int packedValuesPerWord(char letter) {
    switch (letter) {
    case 'B': return 4;
    case 'C': return 2;
    case 'E': return 1;
    case 'F': return 3;
    default: return 0;
    }
}

uint64_t packedValueCount(char letter, uint64_t words, int tailBytes) {
    const int per = packedValuesPerWord(letter);
    if (per == 0) return 0;
    const int bits = letter == 'F' ? 10 : 32 / per;
    return words * static_cast<uint64_t>(per) + static_cast<uint64_t>(tailBytes * 8 / bits);
}

bool unpackWords(char letter, const unsigned char *words, size_t numWords, uint32_t *values, size_t count) {
    const size_t per = static_cast<size_t>(packedValuesPerWord(letter));
    if (per == 0) return false;
    if (count == 0) return true;
    // Words needed, rounded up, without forming numWords * per.
    if (numWords < count / per + (count % per != 0)) return false;
    if (words == nullptr || values == nullptr) return false;
    switch (letter) {
    case 'B': unpack<4, 8>(words, values, count); break;
    case 'C': unpack<2, 16>(words, values, count); break;
    case 'E': unpack<1, 32>(words, values, count); break;
    default: unpack<3, 10>(words, values, count); break;
    }
    return true;
}

bool decodePackedIntegers(char letter, const char *begin, const char *end, uint64_t total,
                          uint32_t *values, size_t keep, int64_t &held) {
    held = kPackedDamaged;
    const uint64_t per = static_cast<uint64_t>(packedValuesPerWord(letter));
    if (per == 0) return false;
    const size_t keepWords = static_cast<size_t>((keep + per - 1) / per);
    std::vector<unsigned char> words(keepWords * 4);
    int tail = 0;
    const int64_t decoded = decodeB85(begin, end, words.data(), keepWords, &tail);
    if (decoded == kPackedDamaged) return false;
    const uint64_t whole = packedValueCount(letter, static_cast<uint64_t>(decoded), 0);
    const uint64_t count = packedValueCount(letter, static_cast<uint64_t>(decoded), tail);
    held = static_cast<int64_t>(count);
    // Whole words may pad their last one: the word count decides. A stream
    // cut to its bytes holds exactly its values, in as few bytes as they
    // need.
    const uint64_t bits = letter == 'F' ? 10 : 32 / per;
    const bool fits = tail == 0 ? static_cast<uint64_t>(decoded) == (total + per - 1) / per
                                : count == total && count > whole &&
                                      static_cast<uint64_t>(tail) == ((count - whole) * bits + 7) / 8;
    return fits && unpackWords(letter, words.data(), keepWords, values, keep);
}
