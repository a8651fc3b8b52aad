#include "parsers/text_parser.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "parsers/number_text.h"

namespace {

constexpr CharClass kSeparators(" \t\n\r()[],;:=");
constexpr CharClass kBlanks(" \t");
constexpr CharClass kWhiteSpace(" \t\n\r");
constexpr CharClass kLineEnds("\n\r");

// The buffer always ends in a zero byte, and a zero byte inside the text
// counts as its end: every scan below stops at the first zero, so looking at
// p[1] is safe whenever p[0] is not zero.
bool startsComment(const char *p) {
    return (p[0] == '/' && p[1] == '/') || (p[0] == '-' && p[1] == '-');
}

// Whether the token starting at p ends before p (a separator, the end of
// the text or the start of a comment).
bool endsToken(const char *p) {
    return *p == '\0' || kSeparators(*p) || startsComment(p) || (p[0] == '/' && p[1] == '*');
}

} // namespace

TextParser::TextParser() = default;

TextParser::TextParser(const std::string &text) { loadString(text.c_str(), nullptr); }

TextParser::~TextParser() { release(); }

void TextParser::release() {
    m_text.release();
    m_pszCursor = nullptr;
    m_pszNoQuote = nullptr;
    m_expansionCharged = 0;
}

bool TextParser::loadFile(const char *path) {
    release();
    if (!path) return false;
    m_sFileName = path;
    if (!m_text.loadFile(path)) return false;
    m_pszCursor = m_text.data();
    return true;
}

void TextParser::loadString(const char *text, const char *name) {
    release();
    if (name) m_sFileName = name;
    if (!text) return;
    loadMemory(text, std::strlen(text), nullptr);
}

void TextParser::loadMemory(const char *bytes, size_t count, const char *name) {
    release();
    if (name) m_sFileName = name;
    if (!bytes) return;
    m_text.loadMemory(bytes, count);
    m_pszCursor = m_text.data();
}

bool TextParser::isRegularFile(const char *path) { return MappedText::isRegularFile(path); }

bool TextParser::holdsZeroByte(size_t within) const {
    if (m_text.data() == nullptr) return false;
    const size_t n = size() < within ? size() : within;
    return std::memchr(m_text.data(), '\0', n) != nullptr;
}

bool TextParser::holdsControlByte(size_t within) const {
    if (m_text.data() == nullptr) return false;
    const size_t n = size() < within ? size() : within;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(m_text.data()[i]);
        if (c == 0x7F || (c < 0x20 && c != 0 && !(c >= '\t' && c <= '\r') && c != 0x1A))
            return true;
    }
    return false;
}

bool TextParser::eof() const {
    return m_pszCursor == nullptr || *m_pszCursor == '\0' ||
           m_pszCursor >= m_text.data() + m_text.length() - 1;
}

int TextParser::skipWhitespace(bool lineOnly) {
    if (eof()) return 0;
    const CharClass &skip = lineOnly ? kBlanks : kSeparators;
    const char *start = m_pszCursor;
    // Separators and block comments may alternate any number of times.
    for (;;) {
        while (skip(*m_pszCursor)) ++m_pszCursor;
        if (!(m_pszCursor[0] == '/' && m_pszCursor[1] == '*')) break;
        m_pszCursor += 2;
        while (*m_pszCursor && !(m_pszCursor[0] == '*' && m_pszCursor[1] == '/')) ++m_pszCursor;
        // An unterminated comment runs to the end of the text.
        if (!*m_pszCursor) break;
        m_pszCursor += 2;
    }
    return static_cast<int>(m_pszCursor - start);
}

bool TextParser::nextLine() {
    // Comment lines are passed too, however many follow each other.
    for (;;) {
        if (eof()) return false;
        // CR ends a line too (files with CR-only line ends); after a CR LF
        // pair the LF is skipped as a separator below.
        char *lineEnd = m_pszCursor + std::strcspn(m_pszCursor, "\n\r");
        if (*lineEnd == '\0') {
            m_pszCursor = nullptr;
            return false;
        }
        m_pszCursor = lineEnd + 1;
        skipWhitespace(false);
        if (!startsComment(m_pszCursor)) return true;
    }
}

bool TextParser::readToken(std::string &out, bool upperCase) {
    skipWhitespace(false);
    if (eof()) return false;
    while (!eof() && startsComment(m_pszCursor)) {
        nextLine();
        skipWhitespace(false);
    }
    if (eof()) return false;
    char *end = m_pszCursor;
    while (!endsToken(end)) ++end;
    if (end == m_pszCursor) return false;
    out.assign(m_pszCursor, end);
    if (upperCase) toUpper(out);
    m_pszCursor = end;
    return true;
}

char *TextParser::findQuote(char *from) {
    // Like strchr(from, '"'), but never searches again where an earlier
    // search found nothing.
    char *p = from;
    while ((m_pszNoQuote == nullptr || p < m_pszNoQuote) && *p != '\0' && *p != '"') ++p;
    if (*p == '"' && (m_pszNoQuote == nullptr || p < m_pszNoQuote)) return p;
    if (m_pszNoQuote == nullptr || from < m_pszNoQuote) m_pszNoQuote = from;
    return nullptr;
}

bool TextParser::readQuoted(std::string &out, bool upperCase) {
    out.clear();
    skipWhitespace(false);
    if (eof()) return false;
    char *open = findQuote(m_pszCursor);
    if (!open) return false;
    char *close = findQuote(open + 1);
    if (!close) return false;
    out.assign(open + 1, close);
    if (upperCase) toUpper(out);
    m_pszCursor = close + 1;
    return true;
}

bool TextParser::readString(std::string &out, bool upperCase) {
    skipWhitespace(false);
    while (!eof() && startsComment(m_pszCursor)) {
        nextLine();
        skipWhitespace(false);
    }
    if (eof()) {
        out.clear();
        return false;
    }
    if (*m_pszCursor == '"') return readQuoted(out, upperCase);
    // A comment straight after the word ends it, as it ends a token.
    char *end = m_pszCursor;
    while (*end != '\0' && !kWhiteSpace(*end) && !startsComment(end)) ++end;
    // A lone closing brace is the end of the block, not a value: a parameter
    // written without its value does not swallow it.
    if (end - m_pszCursor == 1 && *m_pszCursor == '}') {
        out.clear();
        return false;
    }
    out.assign(m_pszCursor, end);
    if (upperCase) toUpper(out);
    m_pszCursor = end;
    return true;
}

bool TextParser::readWord(const char *&begin, const char *&end) {
    if (eof()) return false;
    while (kWhiteSpace(*m_pszCursor)) ++m_pszCursor;
    if (eof()) return false;
    char *p = m_pszCursor;
    while (*p != '\0' && !kWhiteSpace(*p)) ++p;
    begin = m_pszCursor;
    end = p;
    m_pszCursor = p;
    return true;
}

void TextParser::skipByteOrderMark() {
    if (m_pszCursor != nullptr && m_pszCursor == m_text.data() && m_text.length() > 3 &&
        std::memcmp(m_pszCursor, "\xEF\xBB\xBF", 3) == 0)
        m_pszCursor += 3;
}

bool TextParser::readLine(std::string &out) {
    if (eof()) {
        out.clear();
        return false;
    }
    char *end = m_pszCursor;
    while (*end && !kLineEnds(*end)) ++end;
    out.assign(m_pszCursor, end);
    m_pszCursor = end;
    while (kLineEnds(*m_pszCursor)) ++m_pszCursor;
    return true;
}

float TextParser::readFloat() {
    if (eof()) return 0.0f;
    while (*m_pszCursor && !kFloatStart(*m_pszCursor)) {
        const char c = lowerAscii(*m_pszCursor);
        if ((c == 'n' || c == 'i') &&
            (m_pszCursor == m_text.data() || !isWordChar(m_pszCursor[-1]))) {
            if (const size_t n = nonFiniteWord(m_pszCursor)) {
                const float value = convertFloat(m_pszCursor);
                m_pszCursor += n;
                return value;
            }
        }
        ++m_pszCursor;
    }
    if (!*m_pszCursor) {
        m_pszCursor = nullptr;
        return 0.0f;
    }
    // The conversion may read further than the run stepped over: "1.5E3"
    // is 1500, and the cursor stops at "E3".
    const float fTMP = convertFloat(m_pszCursor);
    while (kFloatRun(*m_pszCursor)) ++m_pszCursor;
    return fTMP;
}

int32_t TextParser::readInt(bool *found) {
    if (found) *found = false;
    if (eof()) return 0;
    while (*m_pszCursor && !kInteger(*m_pszCursor)) ++m_pszCursor;
    if (!*m_pszCursor) {
        m_pszCursor = nullptr;
        return 0;
    }
    if (found) *found = true;
    const int32_t iTMP = convertInt(m_pszCursor);
    while (kInteger(*m_pszCursor)) ++m_pszCursor;
    return iTMP;
}

void TextParser::readFloats(unsigned char *out, uint64_t count, uint64_t keep) {
    for (uint64_t i = 0; i < count; ++i) {
        float value;
        const char *end = nullptr;
        if (m_pszCursor != nullptr) {
            const char *start = skipGap(m_pszCursor);
            end = plainDecimal(start, &value);
            // Past the end of the text the reader stops as readFloat does.
            if (end != nullptr && start >= m_text.data() + m_text.length() - 1) end = nullptr;
        }
        if (end != nullptr)
            m_pszCursor = const_cast<char *>(end);
        else
            value = readFloat();
        if (i < keep) std::memcpy(out + 4 * i, &value, 4);
        releaseConsumed();
    }
}

void TextParser::readInts(unsigned char *out, uint64_t count, uint64_t keep) {
    for (uint64_t i = 0; i < count; ++i) {
        int32_t value;
        const char *end = nullptr;
        if (m_pszCursor != nullptr) {
            const char *start = skipGap(m_pszCursor);
            end = plainInteger(start, &value);
            if (end != nullptr && start >= m_text.data() + m_text.length() - 1) end = nullptr;
        }
        if (end != nullptr)
            m_pszCursor = const_cast<char *>(end);
        else
            value = readInt();
        if (i < keep) std::memcpy(out + 4 * i, &value, 4);
        releaseConsumed();
    }
}

uint32_t TextParser::readHex() {
    if (eof()) return 0;
    while (*m_pszCursor && !kHexadecimal(*m_pszCursor)) ++m_pszCursor;
    if (!*m_pszCursor) {
        m_pszCursor = nullptr;
        return 0;
    }
    const uint32_t value = convertHex(m_pszCursor);
    while (kHexadecimal(*m_pszCursor)) ++m_pszCursor;
    return value;
}

void TextParser::read3Floats(float &a, float &b, float &c) {
    a = readFloat();
    b = readFloat();
    c = readFloat();
}

char TextParser::readChar() {
    if (eof()) return '\0';
    return *m_pszCursor++;
}

bool TextParser::isDigitNext() {
    skipWhitespace(false);
    if (eof()) return false;
    return *m_pszCursor >= '0' && *m_pszCursor <= '9';
}

bool TextParser::peekChar(char c, bool skipSeparators, bool consume) {
    if (skipSeparators) {
        skipWhitespace(false);
    } else if (!eof()) {
        while (kWhiteSpace(*m_pszCursor)) ++m_pszCursor;
    }
    if (eof() || *m_pszCursor != c) return false;
    if (consume) ++m_pszCursor;
    return true;
}

void TextParser::skipBlock(bool alreadyInside) {
    if (!alreadyInside) {
        for (;;) {
            if (eof()) return;
            if (readChar() == '{') break;
        }
    }
    // Every brace counts, inside quotes and comments too.
    int depth = 1;
    while (!eof()) {
        const char c = readChar();
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0) return;
        }
    }
}

bool TextParser::readComment(char *buffer, int capacity) {
    skipWhitespace(false);
    if (eof() || !buffer || capacity < 1) return false;
    // At least three characters must remain, the cursor being at "//" or "--".
    if (m_pszCursor[1] == '\0' || m_pszCursor[2] == '\0' || !startsComment(m_pszCursor))
        return false;
    int n = 0;
    while (n < capacity - 1 && m_pszCursor[n] && !kLineEnds(m_pszCursor[n])) {
        buffer[n] = m_pszCursor[n];
        ++n;
    }
    buffer[n] = '\0';
    m_pszCursor += n;
    nextLine();
    return true;
}

bool TextParser::readToken(char *buffer, int capacity) {
    std::string token;
    const bool ok = readToken(token, true);
    if (buffer && capacity > 0) {
        const size_t n = token.size() < static_cast<size_t>(capacity - 1)
                             ? token.size()
                             : static_cast<size_t>(capacity - 1);
        std::memcpy(buffer, token.data(), n);
        buffer[n] = '\0';
    }
    return ok;
}

bool TextParser::readUpTo(std::string &out, const char *set, bool skipFirst) {
    out.clear();
    if (skipFirst) skipWhitespace(false);
    if (eof()) return false;
    char *end = m_pszCursor;
    // The zero byte ends the text; it is never looked up in the set.
    while (*end && !(set && std::strchr(set, *end))) ++end;
    out.assign(m_pszCursor, end);
    m_pszCursor = end;
    return true;
}

bool TextParser::expectChar(char c) { return peekChar(c, false, true); }

bool TextParser::expectEndOfLine() {
    if (eof()) return false;
    while (kBlanks(*m_pszCursor)) ++m_pszCursor;
    if (!kLineEnds(*m_pszCursor)) return false;
    while (kLineEnds(*m_pszCursor)) ++m_pszCursor;
    return true;
}

bool TextParser::isFractionNext() {
    skipWhitespace(false);
    while (!eof() && startsComment(m_pszCursor)) {
        nextLine();
        skipWhitespace(false);
    }
    if (eof()) return false;
    const char *p = m_pszCursor;
    if (*p == '-') ++p;
    bool dot = false;
    for (; !endsToken(p); ++p) {
        if (*p == '.')
            dot = true;
        else if (*p < '0' || *p > '9')
            return false;
    }
    return dot;
}

bool TextParser::isSignNext() {
    skipWhitespace(false);
    if (eof()) return false;
    return *m_pszCursor == '-' || *m_pszCursor == '+';
}

void TextParser::skipChars(const char *set, bool lineOnly) {
    skipWhitespace(lineOnly);
    if (eof() || !set) return;
    while (*m_pszCursor && std::strchr(set, *m_pszCursor)) ++m_pszCursor;
}

bool TextParser::skipTo(char c) {
    if (eof()) return false;
    // The zero byte is the end of the text, never an occurrence.
    char *hit = c ? std::strchr(m_pszCursor, c) : nullptr;
    if (!hit) {
        m_pszCursor += std::strlen(m_pszCursor);
        return false;
    }
    m_pszCursor = hit + 1;
    return true;
}

bool TextParser::skipTo(const char *text) {
    if (eof() || !text) return false;
    char *hit = std::strstr(m_pszCursor, text);
    if (!hit) {
        m_pszCursor += std::strlen(m_pszCursor);
        return false;
    }
    m_pszCursor = hit + std::strlen(text);
    return true;
}

void TextParser::toUpper(std::string &s) {
    for (char &c : s) {
        if (c == '\\')
            c = '/';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
}

void TextParser::toLower(std::string &s) {
    for (char &c : s) {
        if (c == '\\')
            c = '/';
        else
            c = lowerAscii(c);
    }
}
