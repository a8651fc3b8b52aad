#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "parsers/packed_arrays.h"
#include "support/packed_text.h"

namespace {

using namespace packed_text;

// Both decode into `capacity` units followed by guard bytes that must survive.
int64_t decode85(const std::string &s, Words &words, size_t capacity) {
    Bytes buf(capacity * 4 + 8, 0xAB);
    const int64_t n = decodeB85(s.data(), s.data() + s.size(), buf.data(), capacity);
    EXPECT_EQ(Bytes(buf.end() - 8, buf.end()), Bytes(8, 0xAB)) << s;
    words.assign(capacity, 0);
    for (size_t k = 0; k < capacity * 4; ++k) words[k / 4] |= uint32_t(buf[k]) << (k % 4 * 8);
    return n;
}

bool decode64(const std::vector<std::string> &pieces, Bytes &out, size_t capacity) {
    out.assign(capacity + 4, 0xAB);
    Base64Decoder d(out.data(), capacity);
    bool ok = true;
    for (const std::string &p : pieces) ok = d.feed(p.data(), p.data() + p.size()) && ok;
    ok = d.finish() && ok;
    EXPECT_EQ(Bytes(out.end() - 4, out.end()), Bytes(4, 0xAB));
    out.resize(std::min<uint64_t>(capacity, d.bytes()));
    return ok;
}

} // namespace

TEST(PackedArrays, B85DecodesExamplesRoundTripsAndKeepsCapacity) {
    Words w, values(960);
    EXPECT_EQ(decode85("8TFfdy", w, 2), 2);
    EXPECT_EQ(w, (Words{0x40000000u, 0x3F800000u}));
    Bytes bytes(960);
    const std::string text = "B!%<_l4$$$&j";
    ASSERT_EQ(decodeB85(text.data() + 1, text.data() + text.size(), bytes.data(), 240), 240);
    ASSERT_TRUE(unpackWords(text[0], bytes.data(), 240, values.data(), 960));
    EXPECT_EQ(values, Words(960, 4));

    std::mt19937 rng(7);
    Words words;
    for (int i = 0; i < 300; ++i) {
        const uint32_t r = static_cast<uint32_t>(rng()), pick[] = {0u, 0x3F800000u, 0xFFFFFFFFu, r, r ^ 1};
        words.insert(words.end(), rng() % 8 ? 1 : 1 + rng() % 6, pick[rng() % 5]);
    }
    for (bool shorthand : {false, true}) {
        const std::string s = b85(words, shorthand);
        EXPECT_EQ(decode85(s, w, words.size()), int64_t(words.size()));
        EXPECT_EQ(w, words);
        EXPECT_EQ(decode85(s, w, 37), int64_t(words.size()));
        EXPECT_EQ(w, Words(words.begin(), words.begin() + 37));
    }
    // A huge repeat past the capacity is counted, not stored.
    EXPECT_EQ(decode85("y!" + group85(7) + group85(0xFFFFFFFFu) + "z", w, 3), 0x100000001);
    EXPECT_EQ(w, (Words{0x3F800000u, 7, 7}));

    for (const std::string &s : {std::string("8TFf"), std::string("8TFfdy8"), std::string("8T Fd"),
                                 std::string("#TFfd"), std::string("8TzFd"), group85(0x100000000),
                                 std::string("!8TFfd$$$"), std::string("y!"), "!" + group85(1) + "xxxxx"})
        EXPECT_EQ(decode85(s, w, 4), kPackedDamaged) << s;
}

TEST(PackedArrays, Base64PiecesPaddingCapacityAndDamage) {
    std::mt19937 rng(3);
    for (size_t len = 0; len <= 13; ++len) {
        Bytes bytes(len), got;
        for (unsigned char &b : bytes) b = static_cast<unsigned char>(rng());
        const std::string s = base64(bytes);
        for (size_t cut = 0; cut <= s.size(); ++cut) {
            ASSERT_TRUE(decode64({s.substr(0, cut), s.substr(cut)}, got, len)) << s << " @" << cut;
            EXPECT_EQ(got, bytes);
        }
        // Missing padding is accepted; a small buffer keeps the leading bytes.
        ASSERT_TRUE(decode64({s.substr(0, s.find('='))}, got, len / 2));
        EXPECT_EQ(got, Bytes(bytes.begin(), bytes.begin() + len / 2));
    }
    Base64Decoder d(nullptr, 0);
    const char *t = "AAAAAA=";
    EXPECT_TRUE(d.feed(t, t + 7) && d.padded() && d.bytes() == 4u);
    Bytes out;
    for (const char *s : {"AA*A", "AAAA-AAA", "AA==AA", "AA===", "AAA==", "AAAA=", "A===", "AAAAA"})
        EXPECT_FALSE(decode64({s}, out, 8)) << s;
    EXPECT_FALSE(decode64({"AA==", "A"}, out, 8));
}

TEST(PackedArrays, UnpacksEveryLetterWithPartialLastWord) {
    const unsigned char words[] = {0x01, 0x02, 0x03, 0x84, 0xFF, 0xFF, 0x00, 0x00};
    const uint32_t w0 = 0x84030201u;
    const std::pair<char, Words> cases[] = {{'B', {1, 2, 3, 0x84, 0xFF, 0xFF}}, {'C', {0x0201, 0x8403, 0xFFFF}},
                                            {'E', {w0, 0xFFFF}}, {'F', {0x201, 0xC0, 0x40, 0x3FF, 0x3F}}};
    for (const auto &[letter, expected] : cases) {
        Words v(expected.size() + 1, 99), want = expected;
        want.push_back(99);
        ASSERT_TRUE(unpackWords(letter, words, 2, v.data(), expected.size())) << letter;
        EXPECT_EQ(v, want) << letter;
        EXPECT_FALSE(unpackWords(letter, words, 1, v.data(), expected.size())) << letter;
    }
    uint32_t v = 0;
    EXPECT_FALSE(unpackWords('D', words, 2, &v, 1));
}

// A byte stream whose length is not a multiple of 4 ends in a short group:
// the examples of real files (17 indices ending in 9; face sizes ending in
// 22 22, and in 4 then 3), then round trips of every length.
TEST(PackedArrays, ShortLastGroupHoldsTheStreamsLastBytes) {
    Words fours(962, 4);
    fours.back() = 3;
    const struct { std::string text; Words values; } cases[] = {
        {"B$v2N*&9nA:(P*-Y'7C:R&o", {0, 1, 2, 3, 4, 5, 6, 7, 8, 16, 15, 14, 13, 12, 11, 10, 9}},
        {"B+,B", {22, 22}},
        {"B!%<_l4$$$&j%<V", fours},
    };
    auto decode = [](char letter, const std::string &text, size_t total, Words &v, int64_t &held) {
        v.assign(total, 99);
        return decodePackedIntegers(letter, text.data(), text.data() + text.size(), total, v.data(), total, held);
    };
    Words v;
    int64_t held = 0;
    for (const auto &c : cases) {
        ASSERT_TRUE(decode(c.text[0], c.text.substr(1), c.values.size(), v, held)) << c.text << ": " << held;
        EXPECT_EQ(v, c.values) << c.text;
    }
    std::mt19937 rng(11);
    for (size_t len = 1; len <= 14; ++len) {
        Bytes bytes(len);
        for (unsigned char &b : bytes) b = static_cast<unsigned char>(rng());
        const std::string text = b85Bytes(bytes);
        ASSERT_TRUE(decode('B', text, len, v, held)) << len;
        EXPECT_EQ(v, Words(bytes.begin(), bytes.end())) << len;
        // C: two bytes a value, so only even streams; one value more than
        // the stream holds is no match.
        EXPECT_EQ(decode('C', text, len / 2, v, held), len % 2 == 0) << len;
        EXPECT_FALSE(decode('B', text, len + 1, v, held));
    }
    // A lone digit, a group beyond 32 bits, and a short group the caller
    // does not allow are damage.
    int tail = 0;
    for (const std::string &s : {std::string("8TFfd&"), std::string("xx")})
        EXPECT_EQ(decodeB85(s.data(), s.data() + s.size(), nullptr, 0, &tail), kPackedDamaged) << s;
    EXPECT_EQ(decodeB85("8TFfd&o", "8TFfd&o" + 7, nullptr, 0), kPackedDamaged);
}
