// General text tokenizer: holds one whole text in memory and walks a cursor
// over it. Callers pull tokens, quoted strings, numbers and lines; there is
// no grammar here. Number readers search forward for the first character
// that can start a number, skipping anything else.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>

#include "util/mapped_file.h"

class TextParser {
public:
    TextParser();
    // Empty parser loaded with a copy of text (no name).
    explicit TextParser(const std::string &text);
    ~TextParser();
    TextParser(const TextParser &) = delete;
    TextParser &operator=(const TextParser &) = delete;

    // False for a null path, a file that cannot be opened or read, anything
    // that is not a regular file (a FIFO is never waited on), and a file too
    // large for the 32-bit length. An empty file loads.
    bool loadFile(const char *path);
    // False when path names something that exists but is not a regular file
    // (a directory, a FIFO, a device); true otherwise, a missing file too.
    static bool isRegularFile(const char *path);
    // True when the first `within` bytes of the text hold a zero byte, as
    // UTF-16 and binary files do and text never does.
    bool holdsZeroByte(size_t within) const;
    // True when the first `within` bytes hold a control character that
    // text does not use (anything below a blank but tab, line ends, vertical
    // tab, form feed and the old end-of-file mark, and DEL).
    bool holdsControlByte(size_t within) const;
    // text may be null (nothing is loaded); a non-null name becomes the name.
    // A text too large for the 32-bit length is not loaded either.
    void loadString(const char *text, const char *name);
    // Exactly count bytes followed by a zero byte. A zero byte inside the
    // text ends it for every read.
    void loadMemory(const char *bytes, size_t count, const char *name);
    void release();
    // Lets the system drop the pages of a file's text that lie well behind
    // the cursor, so a large scene is never resident as a whole. The cursor
    // only moves forward; a page dropped is read again from the file should
    // it ever be looked at. Cheap enough to call for every number read.
    void releaseConsumed() {
        // The cursor is null once the text is used up.
        if (m_text.mapped() && m_pszCursor != nullptr &&
            m_pszCursor - m_text.releasedUpTo() >= kReleaseStep)
            m_text.releaseBefore(m_pszCursor);
    }

    const std::string &fileName() const { return m_sFileName; }
    // Bytes of the text loaded (0 when none).
    size_t size() const { return m_text.length() > 0 ? static_cast<size_t>(m_text.length()) - 1 : 0; }
    // Shorthand in packed text (a repeated word) can stand for far more
    // values than it has characters. Readers charge the values they decode
    // from such text here; the whole text may stand for at most
    // kExpansionPerByte values per byte, so a small file never asks for a
    // large allocation however many arrays it has. False when the charge
    // does not fit (nothing is charged then).
    static constexpr uint64_t kExpansionPerByte = 64;
    bool chargeExpansion(uint64_t values) {
        const uint64_t budget = (static_cast<uint64_t>(size()) + 1) * kExpansionPerByte;
        if (values > budget || m_expansionCharged > budget - values) return false;
        m_expansionCharged += values;
        return true;
    }
    // Bytes of text left from the cursor to the end of the buffer (0 at end of input).
    size_t remaining() const {
        if (m_pszCursor == nullptr || m_text.data() == nullptr) return 0;
        const char *end = m_text.data() + m_text.length() - 1;
        return m_pszCursor < end ? static_cast<size_t>(end - m_pszCursor) : 0;
    }

    bool eof() const;
    // Steps over separators (or blanks only when lineOnly) and block comments.
    int skipWhitespace(bool lineOnly);
    // True when positioned at the start of a further (non-comment) line. A
    // line ends at LF, CR LF or a lone CR.
    bool nextLine();
    bool readToken(std::string &out, bool upperCase);
    bool readQuoted(std::string &out, bool upperCase);
    // A string value: a double-quoted string when the next character after
    // separators is a double quote (false when it has no closing quote),
    // otherwise one bare word running to the next blank, line end or
    // comment ("//", "--"), so a name keeps every other character (":" "/"
    // "|" "@"). Upper-cased like
    // readToken when asked. Never searches past the next word for a quote.
    bool readString(std::string &out, bool upperCase);
    // The next run of characters that are not blanks or line ends, as a view
    // into the text (no copy); false at end of input. For encoded array data,
    // whose characters include separators and comment starts.
    bool readWord(const char *&begin, const char *&end);
    bool readLine(std::string &out);
    float readFloat();
    int32_t readInt(bool *found = nullptr);
    // `count` readFloat (readInt) calls in a row, storing the first `keep`
    // results as 4-byte values at out and releasing consumed text as it
    // goes: the same values and the same cursor, with the common case
    // (blanks and line ends, then a plain decimal) read in one tight loop.
    void readFloats(unsigned char *out, uint64_t count, uint64_t keep);
    void readInts(unsigned char *out, uint64_t count, uint64_t keep);
    uint32_t readHex();
    void read3Floats(float &a, float &b, float &c);
    char readChar();
    bool isDigitNext();
    bool peekChar(char c, bool skipSeparators, bool consume);
    void skipBlock(bool alreadyInside);
    // Steps over a UTF-8 byte-order mark at the start of the text.
    void skipByteOrderMark();

    // A read position, to look ahead and come back. Only positions of the
    // text now loaded are valid.
    struct Position {
        char *cursor;
    };
    Position position() const { return Position{m_pszCursor}; }
    void restore(Position p) { m_pszCursor = p.cursor; }

    // Less used operations.
    bool readComment(char *buffer, int capacity);
    bool readToken(char *buffer, int capacity);
    bool readUpTo(std::string &out, const char *set, bool skipFirst);
    bool expectChar(char c);
    bool expectEndOfLine();
    bool isFractionNext();
    bool isSignNext();
    void skipChars(const char *set, bool lineOnly);
    bool skipTo(char c);
    bool skipTo(const char *text);

    static void toUpper(std::string &s);
    static void toLower(std::string &s);

private:
    char *findQuote(char *from);

    // Text dropped in steps of this many bytes at least.
    static constexpr ptrdiff_t kReleaseStep = ptrdiff_t{8} << 20;

    MappedText m_text;
    char *m_pszCursor = nullptr;
    // No double quote lies at or after this point (null: not known yet). The
    // cursor only moves forward, so a failed quote search is never repeated,
    // which keeps many unterminated quoted values linear in the text size.
    const char *m_pszNoQuote = nullptr;
    std::string m_sFileName;
    // Values charged by chargeExpansion since the text was loaded.
    uint64_t m_expansionCharged = 0;
};
