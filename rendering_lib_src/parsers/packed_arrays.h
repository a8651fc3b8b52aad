// Decoders for the packed array forms of scene files: base85 words ("b85")
// with zero/one/repeat shorthand, streaming base64 ("b64"), and the integer
// packings that put several small values into one 32-bit word. Pure
// functions over caller-owned buffers: nothing allocates (but the word
// buffer of decodePackedIntegers), nothing throws, and no input makes them
// read or write outside the given ranges.
#pragma once

#include <cstddef>
#include <cstdint>

// Result of decoding: the number of 32-bit words the text stands for, or
// kPackedDamaged when the text is not valid. Only the first `capacityWords`
// words are written; the count keeps going past that so the caller can report
// a count that differs from the one it expected.
constexpr int64_t kPackedDamaged = -1;

// Decodes b85 text [begin, end) into 32-bit words, each stored as its 4
// little-endian bytes at `out` (out may be null; nothing is written then).
// Each word is five digits ('$' = 0 .. 'x' = 84, most significant first);
// 'z' is a zero word, 'y' the word of float 1.0, and '!' followed by two
// groups repeats the first group's word as often as the second group says.
// Returns the total count of whole words, or kPackedDamaged for a bad
// character, an incomplete group, a group above 0xFFFFFFFF, or a reversed
// range.
//
// A byte stream whose length is not a multiple of 4 ends in a short group:
// k + 1 digits (k = 1 to 3) for its last k bytes. With `tailBytes` given,
// such a group is accepted: padded with the digit 84 to five, its word's k
// most significant bytes, most significant first, are the stream's last k
// bytes. They are stored after the whole words (when that word is within
// the capacity) and the rest of that word is set to zero; *tailBytes is k
// (0 when the text has no short group). Without `tailBytes` a short group
// is damage.
int64_t decodeB85(const char *begin, const char *end, unsigned char *out, size_t capacityWords,
                  int *tailBytes = nullptr);

// Streaming base64 decoder (standard alphabet, '=' padding). The text may
// come in several runs; bytes are written to out as they complete, those
// past the capacity are counted only. After a failure every call fails.
class Base64Decoder {
public:
    // out may be null, which acts as a capacity of 0.
    Base64Decoder(unsigned char *out, size_t capacityBytes);
    // Feeds one run of text. False when it holds a character outside the
    // alphabet, padding where it cannot stand, or data after padding.
    bool feed(const char *begin, const char *end);
    // Ends the text: false when one character is left over (it cannot form
    // a byte), true otherwise; missing '=' padding is accepted.
    bool finish();
    // Bytes decoded so far (including ones past the capacity).
    uint64_t bytes() const { return m_bytes; }
    // True once '=' padding has been seen (the text is complete).
    bool padded() const { return m_padded; }

private:
    void put(unsigned char b) {
        if (m_bytes < m_capacity) m_out[m_bytes] = b;
        ++m_bytes;
    }

    unsigned char *m_out;
    uint64_t m_capacity;
    uint64_t m_bytes = 0;
    uint32_t m_acc = 0;    // bits of the characters of the open group
    int m_groupChars = 0;  // characters (data and '=') of the open group, 0..3
    bool m_padded = false;
    bool m_failed = false;
};

// Values per word for a b85 integer packing letter: 'B' 4, 'C' 2, 'E' 1,
// 'F' 3; 0 for any other character.
int packedValuesPerWord(char letter);

// The values a packed stream of `words` whole words and `tailBytes` more
// bytes holds for a packing letter: every value of the whole words, and
// the values whose bits lie wholly within the tail's bytes.
uint64_t packedValueCount(char letter, uint64_t words, int tailBytes);

// Unpacks `count` values from numWords little-endian 32-bit words (4 bytes
// each at `words`) into values, low bits first: word k holds values
// k*per .. k*per+per-1. False, with nothing written, when the letter is
// unknown or numWords * per < count.
bool unpackWords(char letter, const unsigned char *words, size_t numWords, uint32_t *values, size_t count);

// Decodes b85 integer text [begin, end) (without its letter) packed by
// `letter` for an array of `total` values, keeping the first `keep` in
// values. True when it holds them: as whole words (the last may be padded),
// or cut to its bytes by a short last group that holds exactly `total` in
// as few bytes as they need.
// Otherwise false, with `held` the values the text holds, or kPackedDamaged
// when it does not decode.
bool decodePackedIntegers(char letter, const char *begin, const char *end, uint64_t total,
                          uint32_t *values, size_t keep, int64_t &held);
