#include "parsers/number_text.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>

namespace {

// Case-insensitive match of the lower-case word at p; stops at the first
// mismatch, so it never passes the zero byte.
bool matchesWord(const char *p, const char *word) {
    for (; *word; ++p, ++word)
        if (lowerAscii(*p) != *word) return false;
    return true;
}

// Plain decimals ("-12.375", "0.5") with at most 2^24 as their digits read as
// an integer and at most ten digits after the point: the digits and the power
// of ten are both exact floats, so one correctly rounded division gives the
// same float as the full conversion. Returns false for anything else
// (exponents, hexadecimal, inf and nan, longer numbers).
bool convertPlainDecimal(const char *p, float &value) {
    static constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                             1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    constexpr int32_t kExactLimit = 1 << 24;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    int32_t digits = 0;
    int count = 0, fraction = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++count) {
        digits = digits * 10 + (*p - '0');
        if (digits > kExactLimit) return false;
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p, ++count, ++fraction) {
            digits = digits * 10 + (*p - '0');
            if (digits > kExactLimit || fraction >= 10) return false;
        }
    }
    // No digit at all, an exponent or a hexadecimal prefix: the full conversion decides.
    if (count == 0 || *p == 'e' || *p == 'E' || *p == 'x' || *p == 'X') return false;
    const float magnitude = static_cast<float>(digits) / kPowersOfTen[fraction];
    value = negative ? -magnitude : magnitude;
    return true;
}

} // namespace

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

size_t nonFiniteWord(const char *p) {
    for (const char *word : {"infinity", "inf", "nan"}) {
        const size_t n = std::strlen(word);
        if (matchesWord(p, word) && !isWordChar(p[n])) return n;
    }
    return 0;
}

// The value "%f" gives for the text at p, 0 when it converts nothing.
// strtof reads only the number's own characters; the checks around it cover
// the few texts where the formatted-input scanner accepts less than strtof
// does: "inf" followed by an incomplete "inity", a hexadecimal prefix with no
// digit or point after it, and NaN payloads in parentheses (not read).
float convertFloat(const char *p) {
    float plain;
    if (convertPlainDecimal(p, plain)) return plain;
    const char *q = p;
    if (*q == '+' || *q == '-') ++q;
    if (matchesWord(q, "inf") && lowerAscii(q[3]) == 'i' && !matchesWord(q + 3, "inity"))
        return 0.0f;
    if (q[0] == '0' && lowerAscii(q[1]) == 'x' && !kHexadecimal(q[2]) && q[2] != '.') return 0.0f;
    char *end = nullptr;
    float value = std::strtof(p, &end);
    if (end == p) return 0.0f;
    if (std::isnan(value)) value = std::copysign(std::numeric_limits<float>::quiet_NaN(), value);
    return value;
}

// "%d": out-of-range values are clamped to the 32-bit range.
int32_t convertInt(const char *p) {
    // A sign and at most nine digits, the common case (mesh indices), needs
    // no library call: the value cannot leave the 32-bit range.
    const char *q = p;
    const bool negative = *q == '-';
    if (*q == '+' || *q == '-') ++q;
    int32_t digits = 0, small = 0;
    while (digits < 9 && *q >= '0' && *q <= '9') {
        small = small * 10 + (*q - '0');
        ++q;
        ++digits;
    }
    if (digits > 0 && !(*q >= '0' && *q <= '9')) return negative ? -small : small;

    char *end = nullptr;
    long value = std::strtol(p, &end, 10);
    if (end == p) return 0;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// "%X" on a run that starts with a hexadecimal digit ("0x" prefix allowed);
// out-of-range values are clamped to the 32-bit range.
uint32_t convertHex(const char *p) {
    char *end = nullptr;
    unsigned long value = std::strtoul(p, &end, 16);
    if (end == p) return 0;
    if (value > UINT32_MAX) return UINT32_MAX;
    return static_cast<uint32_t>(value);
}
