// Number text as the tokenizer reads it: the character classes of numbers
// and the conversions its number readers apply ("%f", "%d", "%X" as the
// formatted-input scanner reads them), plus the quick forms for the plain
// decimals and integers that make up large arrays.
#pragma once

#include <cstddef>
#include <cstdint>

// Membership table for one character class, indexed by the byte value so
// that bytes above 127 and the zero byte are handled like any other byte
// (the zero byte is never a member).
struct CharClass {
    bool member[256];
    constexpr explicit CharClass(const char *chars) : member{} {
        for (; *chars; ++chars) member[static_cast<unsigned char>(*chars)] = true;
    }
    bool operator()(char c) const { return member[static_cast<unsigned char>(c)]; }
};

constexpr CharClass kFloatStart("+-.1234567890");
// Only the lower-case "e" is stepped over after a float.
constexpr CharClass kFloatRun("+-.1234567890e");
constexpr CharClass kInteger("+-1234567890");
constexpr CharClass kHexadecimal("1234567890ABCDEFabcdef");

char lowerAscii(char c);
// A letter, digit or underscore.
bool isWordChar(char c);
// The length of "nan", "inf" or "infinity" (any case) written as a word of
// its own at p, else 0.
size_t nonFiniteWord(const char *p);
// The value "%f" gives for the text at p, 0 when it converts nothing.
float convertFloat(const char *p);
// "%d": out-of-range values are clamped to the 32-bit range.
int32_t convertInt(const char *p);
// "%X" on a run that starts with a hexadecimal digit ("0x" prefix allowed);
// out-of-range values are clamped to the 32-bit range.
uint32_t convertHex(const char *p);

// Steps over blanks and line ends, the usual gap between two numbers.
inline const char *skipGap(const char *p) {
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') ++p;
    return p;
}

// A plain decimal at p as readFloat reads it, when the number run that
// readFloat steps over is exactly that decimal: an optional minus, digits,
// an optional point and up to ten more digits, at most 2^24 as the digits
// read as an integer, and a character after it that cannot continue the
// run. Returns the end, or null for anything else (readFloat then decides).
inline const char *plainDecimal(const char *p, float *value) {
    static constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                             1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    constexpr int32_t kExactLimit = 1 << 24;
    const bool negative = *p == '-';
    if (negative) ++p;
    int32_t digits = 0;
    int count = 0, fraction = 0;
    for (; static_cast<unsigned>(*p - '0') < 10u; ++p, ++count) {
        digits = digits * 10 + (*p - '0');
        if (digits > kExactLimit) return nullptr;
    }
    if (*p == '.') {
        for (++p; static_cast<unsigned>(*p - '0') < 10u; ++p, ++count, ++fraction) {
            digits = digits * 10 + (*p - '0');
            if (digits > kExactLimit || fraction >= 10) return nullptr;
        }
    }
    if (count == 0 || kFloatRun(*p) || *p == 'E' || *p == 'x' || *p == 'X') return nullptr;
    const float magnitude = static_cast<float>(digits) / kPowersOfTen[fraction];
    *value = negative ? -magnitude : magnitude;
    return p;
}

// A decimal integer of at most nine digits at p, with an optional minus,
// ending where the integer run readInt steps over ends. Null otherwise.
inline const char *plainInteger(const char *p, int32_t *value) {
    const bool negative = *p == '-';
    if (negative) ++p;
    int32_t v = 0;
    int count = 0;
    for (; static_cast<unsigned>(*p - '0') < 10u && count < 9; ++p, ++count)
        v = v * 10 + (*p - '0');
    if (count == 0 || kInteger(*p)) return nullptr;
    *value = negative ? -v : v;
    return p;
}
