#include <gtest/gtest.h>

#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "parsers/text_parser.h"

namespace {

// All tokens of a text, upper-cased.
std::vector<std::string> tokens(const std::string &text) {
    TextParser p(text);
    std::vector<std::string> out;
    std::string t;
    while (p.readToken(t, true)) out.push_back(t);
    return out;
}

uint32_t bitsOf(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// A file in the temporary directory, removed again at the end of the test.
struct TempFile {
    std::filesystem::path path;
    explicit TempFile(const std::string &tag) {
        path = std::filesystem::temp_directory_path() /
               ("vortan_text_parser_" + tag + "_" + std::to_string(getpid()));
    }
    void write(const std::string &bytes) const {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
};

} // namespace

TEST(TextParser, SeparatorsSplitTokensLikeBlanks) {
    EXPECT_EQ(tokens("key=value:other (a,b)[c];d\te\r\nf"),
              (std::vector<std::string>{"KEY", "VALUE", "OTHER", "A", "B", "C", "D", "E", "F"}));
    TextParser p("(1,2;3)[4]=5:6");
    float a, b, c;
    p.read3Floats(a, b, c);
    EXPECT_EQ(a, 1.0f);
    EXPECT_EQ(b, 2.0f);
    EXPECT_EQ(c, 3.0f);
    EXPECT_EQ(p.readInt(), 4);
    EXPECT_EQ(p.readInt(), 5);
    EXPECT_EQ(p.readInt(), 6);
}

TEST(TextParser, BraceIsATokenOnlyWhenSeparated) {
    EXPECT_EQ(tokens("node {\n name a}\n}\n"),
              (std::vector<std::string>{"NODE", "{", "NAME", "A}", "}"}));
}

TEST(TextParser, CommentsEndTokensAndArePassed) {
    EXPECT_EQ(tokens("abc//rest of line\ndef--more\n-- whole line\n// another\nghi"),
              (std::vector<std::string>{"ABC", "DEF", "GHI"}));
    EXPECT_EQ(tokens("a/* one */b /*x*//*y*/ c"), (std::vector<std::string>{"A", "B", "C"}));
    // "#" means nothing here, and a single slash or hyphen is ordinary.
    EXPECT_EQ(tokens("#x a/b -1"), (std::vector<std::string>{"#X", "A/B", "-1"}));

    TextParser p("  /* c */ x");
    EXPECT_EQ(p.skipWhitespace(false), 10);
    EXPECT_EQ(p.readChar(), 'x');

    // A bare string value ends at a comment too; other characters stay.
    TextParser values("ball1// note\nball2-- note\n/a:b|c@d-e/f 1");
    std::string value;
    for (const char *want : {"ball1", "ball2", "/a:b|c@d-e/f"}) {
        ASSERT_TRUE(values.readString(value, false));
        EXPECT_EQ(value, want);
    }
}

TEST(TextParser, UnterminatedBlockCommentRunsToTheEnd) {
    TextParser p("a /* never closed b 1.0");
    std::string t;
    EXPECT_TRUE(p.readToken(t, false));
    EXPECT_FALSE(p.readToken(t, false));
    EXPECT_EQ(t, "a"); // not touched by the failed read
    EXPECT_TRUE(p.eof());
    EXPECT_EQ(p.readFloat(), 0.0f);
}

TEST(TextParser, ManyCommentsInARowDoNotExhaustTheStack) {
    std::string blocks;
    for (int i = 0; i < 300000; ++i) blocks += "/**/";
    EXPECT_EQ(tokens(blocks + "end"), std::vector<std::string>{"END"});

    std::string lines = "first\n";
    for (int i = 0; i < 300000; ++i) lines += "// c\n";
    TextParser p(lines + "last");
    EXPECT_TRUE(p.nextLine());
    std::string t;
    EXPECT_TRUE(p.readToken(t, false));
    EXPECT_EQ(t, "last");
}

TEST(TextParser, UpperCasingTurnsBackslashesIntoSlashes) {
    // Unquoted, a colon would split a drive letter off: it is a separator.
    TextParser p("MixedCase ..\\Tex\\file.tga keep\\Case \xe9t\xc3\xa9");
    std::string t;
    ASSERT_TRUE(p.readToken(t, true));
    EXPECT_EQ(t, "MIXEDCASE");
    ASSERT_TRUE(p.readToken(t, true));
    EXPECT_EQ(t, "../TEX/FILE.TGA");
    ASSERT_TRUE(p.readToken(t, false));
    EXPECT_EQ(t, "keep\\Case");
    ASSERT_TRUE(p.readToken(t, true));
    EXPECT_EQ(t, "\xe9T\xc3\xa9"); // bytes above 127 are unchanged

    std::string s = "AbC\\x\xc3";
    TextParser::toLower(s);
    EXPECT_EQ(s, "abc/x\xc3");
}

TEST(TextParser, ReadFloatSearchesForwardForANumber) {
    TextParser p("KD_COLOR 0.5 0.25 1");
    float a, b, c;
    p.read3Floats(a, b, c);
    EXPECT_EQ(a, 0.5f);
    EXPECT_EQ(b, 0.25f);
    EXPECT_EQ(c, 1.0f);

    // The conversion reads the upper-case exponent; the cursor stops before it.
    TextParser q("1.5E3 -.5");
    EXPECT_EQ(q.readFloat(), 1500.0f);
    std::string t;
    ASSERT_TRUE(q.readToken(t, false));
    EXPECT_EQ(t, "E3");
    EXPECT_EQ(q.readFloat(), -0.5f);

    TextParser none("no digits here at all");
    EXPECT_EQ(none.readFloat(), 0.0f);
    EXPECT_TRUE(none.eof());
    EXPECT_FALSE(none.readToken(t, false));
}

// The number readers must give what the C library's formatted input gives
// for the text at the number's first character, and leave the cursor after
// the run of number characters. A number starts at a number character, or
// at "nan", "inf" or "infinity" (any case) written as a word of its own,
// which the cursor then leaves behind.
TEST(TextParser, ReadFloatAgreesWithFormattedInput) {
    std::vector<std::string> cases = {
        "1e", "1e+", "1ex", "0x", "-0x", "0x.", "-0x.", "0x1p3", "-0x1.8p3z", "0xg", "-nan(123)",
        "+nan", "-na", "+inf", "-infinity", "-infin", "-infi", "+INFINITYx", "1.5E3", "-.5", ".e5",
        "-.", "+-5", "1e99", "-1e99", "1e-50", "00000.1e0001", ".5e-", "1..2", "3.4028235e38",
        "x 7 y", "-", "1e5e5", "16777216", "16777217", "-16777219", "1677721.7", "0.16777217",
        "1.0000000001", "1.00000000001", "9999999.9", "-0", "-0.000", "0.1", "3.14159274"};
    std::mt19937 rng(12345);
    // Arbitrary mixes of number characters, letters and blanks ...
    const char alphabet[] = "+-.0123456789eEpPxXinfatyINFATY() ";
    for (int i = 0; i < 20000; ++i) {
        std::string s;
        for (int n = 1 + static_cast<int>(rng() % 12); n > 0; --n)
            s += alphabet[rng() % (sizeof alphabet - 1)];
        cases.push_back(s);
    }
    // ... and plain decimals of up to twelve digits, as scene files write them.
    for (int i = 0; i < 20000; ++i) {
        std::string s = (rng() % 3 == 0) ? "-" : "";
        const int n = 1 + static_cast<int>(rng() % 12);
        const int point = static_cast<int>(rng() % static_cast<unsigned>(n + 1));
        for (int k = 0; k < n; ++k) {
            if (k == point) s += '.';
            s += static_cast<char>('0' + rng() % 10);
        }
        cases.push_back(s + " ");
    }
    for (const std::string &s : cases) {
        SCOPED_TRACE("text \"" + s + "\"");
        TextParser p(s);
        const float got = p.readFloat();
        auto wordChar = [&](size_t i) {
            return i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_');
        };
        size_t start = std::string::npos, word = 0;
        for (size_t i = 0; i < s.size() && start == std::string::npos; ++i) {
            if (std::strchr("+-.1234567890", s[i]) != nullptr) start = i;
            for (const char *w : {"infinity", "inf", "nan"}) {
                const size_t n = std::strlen(w);
                if (start == std::string::npos && (i == 0 || !wordChar(i - 1)) &&
                    strncasecmp(s.c_str() + i, w, n) == 0 && !wordChar(i + n)) {
                    start = i;
                    word = n;
                }
            }
        }
        if (start == std::string::npos) {
            EXPECT_EQ(got, 0.0f);
            EXPECT_TRUE(p.eof());
            continue;
        }
        float want = 0.0f;
        (void)std::sscanf(s.c_str() + start, "%f", &want);
        EXPECT_EQ(bitsOf(got), bitsOf(want));
        size_t end = word > 0 ? start + word : s.find_first_not_of("+-.1234567890e", start);
        if (end == std::string::npos) end = s.size();
        std::string rest;
        p.readLine(rest);
        EXPECT_EQ(rest, s.substr(end));
    }
}

TEST(TextParser, ReadIntSearchesAndClamps) {
    TextParser p("count: 42 -7 1.5 99999999999 -99999999999 + x");
    bool found = false;
    EXPECT_EQ(p.readInt(&found), 42);
    EXPECT_TRUE(found);
    EXPECT_EQ(p.readInt(), -7);
    EXPECT_EQ(p.readInt(), 1); // the point is not part of an integer ...
    EXPECT_EQ(p.readInt(), 5); // ... so the fraction reads as the next one
    EXPECT_EQ(p.readInt(), INT32_MAX);
    EXPECT_EQ(p.readInt(), INT32_MIN);
    EXPECT_EQ(p.readInt(&found), 0); // a lone sign converts nothing
    EXPECT_TRUE(found);
    EXPECT_EQ(p.readInt(&found), 0);
    EXPECT_FALSE(found);
    EXPECT_TRUE(p.eof());
    found = true;
    EXPECT_EQ(p.readInt(&found), 0);
    EXPECT_FALSE(found);

    for (const char *s : {"2147483647", "-2147483648", "+12", "-0", "+-3", "007"}) {
        int want = 0;
        (void)std::sscanf(s, "%d", &want);
        TextParser q(s);
        EXPECT_EQ(q.readInt(), want) << s;
    }
}

TEST(TextParser, ReadHexSearchesAndClamps) {
    TextParser p("0x1A zz ff FFFFFFFFFF");
    EXPECT_EQ(p.readHex(), 26u); // "0x1A" converts whole; the run is "0" ...
    EXPECT_EQ(p.readHex(), 26u); // ... so "1A" is found again after the x
    EXPECT_EQ(p.readHex(), 255u);
    EXPECT_EQ(p.readHex(), UINT32_MAX);
    EXPECT_EQ(p.readHex(), 0u);
    EXPECT_TRUE(p.eof());
}

TEST(TextParser, IsDigitNext) {
    TextParser p("= 7 -5 .5");
    EXPECT_TRUE(p.isDigitNext());
    p.readInt();
    EXPECT_FALSE(p.isDigitNext());
    p.readFloat();
    EXPECT_FALSE(p.isDigitNext());
    p.readFloat();
    EXPECT_FALSE(p.isDigitNext());
    EXPECT_TRUE(p.eof());
}

TEST(TextParser, ReadQuoted) {
    TextParser p("name \"C:\\My Dir\\a.tga\" \"\" skipped \"mixed\" \"open");
    std::string s;
    ASSERT_TRUE(p.readQuoted(s, true));
    EXPECT_EQ(s, "C:/MY DIR/A.TGA");
    ASSERT_TRUE(p.readQuoted(s, true));
    EXPECT_EQ(s, "");
    ASSERT_TRUE(p.readQuoted(s, false)); // searches past the unquoted word
    EXPECT_EQ(s, "mixed");
    s = "stale";
    EXPECT_FALSE(p.readQuoted(s, false));
    EXPECT_EQ(s, "");
    EXPECT_FALSE(p.readQuoted(s, false));
}

TEST(TextParser, FailedQuoteSearchIsRememberedUntilTheNextLoad) {
    // Many values without a closing quote: every search after the first
    // failure must still fail, and tokens around them still read.
    TextParser p("camera x \"open camera y");
    std::string s;
    EXPECT_FALSE(p.readQuoted(s, false));
    ASSERT_TRUE(p.readToken(s, false));
    EXPECT_EQ(s, "camera");
    EXPECT_FALSE(p.readQuoted(s, false));
    ASSERT_TRUE(p.readToken(s, false));
    EXPECT_EQ(s, "x");
    EXPECT_FALSE(p.readQuoted(s, false));
    p.loadString("\"again\"", nullptr);
    ASSERT_TRUE(p.readQuoted(s, false));
    EXPECT_EQ(s, "again");
}

TEST(TextParser, ReadLineAndNextLine) {
    TextParser p("  first line\r\n\r\n\nsecond\n// comment\n-- comment\n  third\nlast");
    std::string s;
    ASSERT_TRUE(p.readLine(s));
    EXPECT_EQ(s, "  first line"); // leading blanks kept, blank lines passed
    ASSERT_TRUE(p.readLine(s));
    EXPECT_EQ(s, "second");
    // nextLine passes comment lines and leading separators.
    TextParser q("a\n// c\n-- d\n  b\nc");
    EXPECT_TRUE(q.nextLine());
    EXPECT_EQ(q.readChar(), 'b');
    EXPECT_TRUE(q.nextLine());
    EXPECT_FALSE(q.nextLine());
    EXPECT_TRUE(q.eof());
    EXPECT_FALSE(q.readLine(s));
    EXPECT_EQ(s, "");
}

TEST(TextParser, CrLfReadsTheSameAsLf) {
    const std::string lf =
        "options\n{\n name opts // trailing\n xres 640\n -- note\n}\n/* block\n */\n"
        "polymesh\n{\n vlist 3 1 POINT\n 0 0 0\n 1.5 -2 .25\n}\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    EXPECT_EQ(tokens(lf), tokens(crlf));
    TextParser a(lf), b(crlf);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(bitsOf(a.readFloat()), bitsOf(b.readFloat())) << i;
    TextParser la(lf), lb(crlf);
    std::string sa, sb;
    while (la.readLine(sa)) {
        ASSERT_TRUE(lb.readLine(sb));
        EXPECT_EQ(sa, sb);
    }
    EXPECT_FALSE(lb.readLine(sb));
}

TEST(TextParser, PeekCharAndSkipBlock) {
    TextParser p("  {  = } x");
    EXPECT_FALSE(p.peekChar('x', false, true));
    EXPECT_TRUE(p.peekChar('{', false, true));
    EXPECT_FALSE(p.peekChar('}', false, false)); // "=" is not white space
    EXPECT_TRUE(p.peekChar('}', true, false));
    EXPECT_TRUE(p.peekChar('}', true, true));
    EXPECT_FALSE(p.peekChar('\0', true, true));

    // Braces count inside quotes and comments too.
    TextParser q("skip { \"{\" // {\n } } } after");
    q.skipBlock(false);
    std::string t;
    ASSERT_TRUE(q.readToken(t, false));
    EXPECT_EQ(t, "after");
    TextParser r("inside { } } tail");
    r.skipBlock(true);
    ASSERT_TRUE(r.readToken(t, false));
    EXPECT_EQ(t, "tail");
    TextParser open("{ { }");
    open.skipBlock(false);
    EXPECT_TRUE(open.eof());
}

TEST(TextParser, LessUsedOperations) {
    TextParser p("  // note here\r\nword -1.5 x");
    char buf[8];
    ASSERT_TRUE(p.readComment(buf, sizeof buf));
    EXPECT_STREQ(buf, "// note");
    EXPECT_FALSE(p.isFractionNext()); // "word"
    ASSERT_TRUE(p.readToken(buf, 3));
    EXPECT_STREQ(buf, "WO");
    EXPECT_TRUE(p.isSignNext());
    EXPECT_TRUE(p.isFractionNext());
    EXPECT_EQ(p.readFloat(), -1.5f);
    EXPECT_FALSE(p.readComment(buf, sizeof buf)); // fewer than 3 characters left

    TextParser q("key = a b; c\n\r\nrest -- tail");
    std::string s;
    ASSERT_TRUE(q.readUpTo(s, "=", false));
    EXPECT_EQ(s, "key ");
    EXPECT_TRUE(q.expectChar('='));
    ASSERT_TRUE(q.readUpTo(s, ";", true));
    EXPECT_EQ(s, "a b");
    q.skipChars("; c", true);
    EXPECT_TRUE(q.expectEndOfLine());
    EXPECT_EQ(q.readChar(), 'r');
    EXPECT_TRUE(q.skipTo("--"));
    EXPECT_TRUE(q.skipTo('a'));
    EXPECT_EQ(q.readChar(), 'i');
    EXPECT_FALSE(q.skipTo('z'));
    EXPECT_TRUE(q.eof());

    TextParser f("1. -2.50 .5 1e3 -x 1.2.3x");
    EXPECT_TRUE(f.isFractionNext());
    f.readFloat();
    EXPECT_TRUE(f.isFractionNext());
    f.readFloat();
    EXPECT_TRUE(f.isFractionNext());
    f.readFloat();
    EXPECT_FALSE(f.isFractionNext());
    f.readFloat();
    EXPECT_FALSE(f.isFractionNext());
}

TEST(TextParser, EmptyInputsAndLoading) {
    TextParser none;
    EXPECT_TRUE(none.eof());
    std::string t;
    EXPECT_FALSE(none.readToken(t, false));
    EXPECT_EQ(none.readFloat(), 0.0f);
    EXPECT_EQ(none.readChar(), '\0');
    none.loadString(nullptr, "named");
    EXPECT_EQ(none.fileName(), "named");
    EXPECT_TRUE(none.eof());

    TempFile empty("empty");
    empty.write("");
    TextParser p("stale text");
    EXPECT_TRUE(p.loadFile(empty.path.c_str()));
    EXPECT_EQ(p.fileName(), empty.path.string());
    EXPECT_TRUE(p.eof());
    EXPECT_FALSE(p.readToken(t, false));
    EXPECT_FALSE(p.nextLine());

    TempFile text("text");
    text.write("shape\r\n{ 1 }");
    ASSERT_TRUE(p.loadFile(text.path.c_str()));
    std::vector<std::string> read;
    while (p.readToken(t, true)) read.push_back(t);
    EXPECT_EQ(read, (std::vector<std::string>{"SHAPE", "{", "1", "}"}));

    EXPECT_FALSE(p.loadFile(nullptr));
    EXPECT_TRUE(p.eof());
    TempFile missing("missing");
    EXPECT_FALSE(p.loadFile(missing.path.c_str()));
    EXPECT_FALSE(p.loadFile(std::filesystem::temp_directory_path().c_str())); // a directory
    EXPECT_TRUE(p.eof());
}

TEST(TextParser, RefusesAFileTooLargeForItsLength) {
    // A sparse file: its size is measured, never read.
    TempFile huge("huge");
    huge.write("");
    std::error_code ec;
    std::filesystem::resize_file(huge.path, (uintmax_t{1} << 31) + 5, ec);
    if (ec) GTEST_SKIP() << "cannot make a sparse file: " << ec.message();
    TextParser p;
    EXPECT_FALSE(p.loadFile(huge.path.c_str()));
    EXPECT_TRUE(p.eof());
}

TEST(TextParser, ZeroByteEndsTheText) {
    const char bytes[] = {'a', 'b', '\0', 'c', 'd', ' ', '1', '2'};
    TextParser p;
    p.loadMemory(bytes, sizeof bytes, "mem");
    std::string t;
    ASSERT_TRUE(p.readToken(t, false));
    EXPECT_EQ(t, "ab");
    EXPECT_TRUE(p.eof());
    EXPECT_EQ(p.readFloat(), 0.0f);
    EXPECT_EQ(p.readChar(), '\0');
    EXPECT_FALSE(p.skipTo('d'));

    TextParser q;
    q.loadMemory("x \0 \"a\"", 7, nullptr);
    ASSERT_TRUE(q.readToken(t, false));
    EXPECT_FALSE(q.readQuoted(t, false)); // the closing quotes lie past the end
}

// Every operation on every prefix of a text, each loaded into a buffer of
// exactly its size (so the address sanitizer sees any read past the end),
// must finish and stay inside the text.
TEST(TextParser, EveryPrefixIsReadSafely) {
    const std::string text =
        "node { name \"q\\x\" // c\r\n -- d\n /* b */ v 1.5e+3 -.5E2 0x1f -inf 1e 0x \xff\x80 "
        "\"open /* open";
    for (size_t len = 0; len <= text.size(); ++len) {
        for (int op = 0; op < 16; ++op) {
            SCOPED_TRACE("prefix " + std::to_string(len) + ", first op " + std::to_string(op));
            std::vector<char> bytes(text.begin(), text.begin() + static_cast<long>(len));
            TextParser p;
            p.loadMemory(bytes.data(), bytes.size(), nullptr);
            std::string s;
            char buf[4];
            bool ok = false;
            for (int step = 0; step < 200 && !p.eof(); ++step) {
                switch ((op + step) % 16) {
                case 0: ok = p.readToken(s, true); break;
                case 1: ok = p.readQuoted(s, true); break;
                case 2: ok = p.readLine(s); break;
                case 3: p.readFloat(); break;
                case 4: p.readInt(&ok); break;
                case 5: p.readHex(); break;
                case 6: ok = p.nextLine(); break;
                case 7: ok = p.isDigitNext(); break;
                case 8: ok = p.peekChar('{', true, true); break;
                case 9: p.skipBlock(step % 2 == 0); break;
                case 10: ok = p.readComment(buf, sizeof buf); break;
                case 11: ok = p.isFractionNext(); break;
                case 12: ok = p.expectEndOfLine(); break;
                case 13: ok = p.skipTo("*/"); break;
                case 14: ok = p.readUpTo(s, "\"", true); break;
                case 15: p.readChar(); break;
                }
            }
            (void)ok;
            // Readers that always take something reach the end well within the bound.
            while (!p.eof()) p.readChar();
            EXPECT_EQ(p.readChar(), '\0');
        }
    }
}

TEST(TextParser, ReadIntMatchesClampedStrtolOnDigitRuns) {
    // Short runs take a path of their own, long ones the library's; both
    // must give what strtol gives, clamped to 32 bits, and leave the cursor
    // after the run.
    std::mt19937 rng(3);
    const char *signs[] = {"", "-", "+", "--", "+-"};
    for (int i = 0; i < 20000; ++i) {
        std::string run = signs[rng() % 5];
        const int digits = static_cast<int>(rng() % 13);
        for (int d = 0; d < digits; ++d) run += static_cast<char>('0' + rng() % 10);
        const std::string text = run + " 17";
        TextParser p(text);
        bool found = false;
        const int32_t got = p.readInt(&found);
        char *end = nullptr;
        const long wanted = std::strtol(run.c_str(), &end, 10);
        const int32_t clamped = end == run.c_str() ? 0
                                : wanted > INT32_MAX ? INT32_MAX
                                : wanted < INT32_MIN ? INT32_MIN
                                                     : static_cast<int32_t>(wanted);
        if (run.empty()) continue; // nothing to read before the 17
        ASSERT_EQ(got, clamped) << "\"" << run << "\"";
        ASSERT_EQ(p.readInt(), 17) << "\"" << run << "\"";
    }
}

TEST(TextParser, LargeFilesReadWholeWhilePagesBehindAreHandedBack) {
    // A file that ends exactly on a page boundary still ends in a zero byte,
    // and a file of many megabytes (pages behind the cursor dropped as it
    // goes) reads every number, and nothing after its end.
    const long page = sysconf(_SC_PAGESIZE);
    TempFile exact("exact");
    std::string text(static_cast<size_t>(page) - 2, ' ');
    text += "42";
    exact.write(text);
    TextParser p;
    ASSERT_TRUE(p.loadFile(exact.path.c_str()));
    EXPECT_EQ(p.readInt(), 42);
    bool found = true;
    EXPECT_EQ(p.readInt(&found), 0);
    EXPECT_FALSE(found);

    TempFile big("big");
    std::string numbers;
    const int count = 3000000; // about 20 MB of text
    for (int i = 0; i < count; ++i) numbers += std::to_string(i % 1000) + (i % 16 ? " " : "\n");
    big.write(numbers);
    ASSERT_TRUE(p.loadFile(big.path.c_str()));
    int64_t sum = 0, expected = 0;
    for (int i = 0; i < count; ++i) {
        sum += p.readInt();
        expected += i % 1000;
        p.releaseConsumed();
    }
    EXPECT_EQ(sum, expected);
    EXPECT_EQ(p.readInt(&found), 0);
    EXPECT_FALSE(found);
    p.releaseConsumed(); // at the end of the text: nothing to do
}

TEST(TextParser, BulkNumberReadsAreSingleReadsInARow) {
    // The bulk readers against the single readers on the same text: the same
    // bits for every value and the same cursor after every count, including
    // where the text leaves the plain decimals the fast loop takes.
    const char *texts[] = {
        " 0.953037 -0.087250\n -0.290013 1 2 3\r\n 16777216 16777217 -0.5 -.5 +.5 +3",
        "1.5E3 1.5e3 2e-3 1.2.3 12-3 -- 4 // 5\n 6 /* 7 */ 8 inf -inf nan 0x1A 0x 9",
        "123456789 1234567890 -2147483649 007 1.00000000001 0.0000000001 - . -",
        "a1 b-2 (3, 4) [5; 6] x=7 7:8 \t9\t",
        "3 1 4 1 5",
    };
    for (const char *text : texts) {
        for (int n = 0; n <= 26; ++n) {
            SCOPED_TRACE(std::string(text) + " / " + std::to_string(n));
            TextParser single{std::string(text)}, bulkFloats{std::string(text)},
                bulkInts{std::string(text)}, singleInts{std::string(text)};
            std::vector<uint32_t> floatsOne, floatsMany(static_cast<size_t>(n)), intsOne,
                intsMany(static_cast<size_t>(n));
            for (int k = 0; k < n; ++k) {
                const float f = single.readFloat();
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                floatsOne.push_back(bits);
                intsOne.push_back(static_cast<uint32_t>(singleInts.readInt()));
            }
            // Keep all but the last value: the rest is read past unkept.
            const uint64_t keep = n > 0 ? static_cast<uint64_t>(n - 1) : 0;
            bulkFloats.readFloats(reinterpret_cast<unsigned char *>(floatsMany.data()),
                                  static_cast<uint64_t>(n), keep);
            bulkInts.readInts(reinterpret_cast<unsigned char *>(intsMany.data()),
                              static_cast<uint64_t>(n), keep);
            for (uint64_t k = 0; k < keep; ++k) {
                EXPECT_EQ(floatsMany[k], floatsOne[k]) << "float " << k;
                EXPECT_EQ(intsMany[k], intsOne[k]) << "int " << k;
            }
            EXPECT_EQ(bulkFloats.remaining(), single.remaining());
            EXPECT_EQ(bulkFloats.eof(), single.eof());
            EXPECT_EQ(bulkInts.remaining(), singleInts.remaining());
            EXPECT_EQ(bulkInts.eof(), singleInts.eof());
        }
    }
}
