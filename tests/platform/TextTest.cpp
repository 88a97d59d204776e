#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velk::platform {
namespace {

struct Utf8Case {
    const char* what;
    std::string utf8;
    std::u16string utf16;
};

TEST(TextTest, Utf8ToUtf16DecodesWellFormedAndReplacesIllFormed) {
    const std::vector<Utf8Case> cases = {
        {"ascii", "Disc 1", u"Disc 1"},
        {"two-byte", "caf\xC3\xA9", u"caf\u00E9"},
        {"three-byte", "\xE2\x82\xAC", u"\u20AC"},
        {"four-byte to a pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
        {"highest code point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
        {"stray continuation", "a\x80z", u"a\uFFFDz"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid lead", "\xF5\xFF", u"\uFFFD\uFFFD"},
        {"truncated in the middle", "a\xE2\x82z", u"a\uFFFDz"},
        {"truncated at the end", "a\xF0\x9F\x98", u"a\uFFFD"},
        {"lead then lead", "\xC3\xC3\xA9", u"\uFFFD\u00E9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toUtf16(c.utf8), c.utf16) << c.what;
    }
}

struct Utf16Case {
    const char* what;
    std::u16string utf16;
    std::string utf8;
};

TEST(TextTest, Utf16ToUtf8EncodesPairsAndReplacesUnpairedSurrogates) {
    const std::vector<Utf16Case> cases = {
        {"latin-1 and bmp", u"\u00E9\u20AC", "\xC3\xA9\xE2\x82\xAC"},
        {"last bmp unit", u"\uFFFD", "\xEF\xBF\xBD"},
        {"pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {"high at the end", u"a\xD83D", "a?"},
        {"high before a letter", u"\xD83D" u"A", "?A"},
        {"lone low", u"\xDE00x", "?x"},
        {"reversed pair", u"\xDE00\xD83D", "??"},
        {"two highs then low", u"\xD83D\xD83D\xDE00", "?\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toUtf8(c.utf16), c.utf8) << c.what;
    }
}

TEST(TextTest, RoundTripOfEveryCodePointBoundary) {
    for (char32_t cp : {0x7FU, 0x80U, 0x7FFU, 0x800U, 0xD7FFU, 0xE000U, 0xFFFFU, 0x10000U,
                        0x10FFFFU}) {
        std::u16string wide;
        if (cp >= 0x10000) {
            wide.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(cp));
        }
        EXPECT_EQ(toUtf16(toUtf8(wide)), wide) << std::hex << static_cast<unsigned>(cp);
    }
}

TEST(TextTest, Utf16LimitNeverSplitsAPair) {
    // "a", U+1F600 (two units), "b"
    const std::string text = "a\xF0\x9F\x98\x80" "b";
    const std::vector<std::u16string> expected = {
        u"", u"a", u"a", u"a\xD83D\xDE00", u"a\xD83D\xDE00" u"b", u"a\xD83D\xDE00" u"b"};
    for (std::size_t limit = 0; limit < expected.size(); ++limit) {
        EXPECT_EQ(toUtf16(text, limit), expected[limit]) << "limit " << limit;
    }
}

TEST(TextTest, Utf16CutNeverKeepsHalfAPair) {
    // "a", U+1F600 (two units), "b"; and a text within the limit keeps even an
    // unpaired surrogate at its end.
    const std::u16string text = u"a\xD83D\xDE00" u"b";
    const std::vector<std::u16string> expected = {u"", u"a", u"a", u"a\xD83D\xDE00", text, text};
    for (std::size_t limit = 0; limit < expected.size(); ++limit) {
        EXPECT_EQ(cutUtf16(text, limit), expected[limit]) << "limit " << limit;
    }
    EXPECT_EQ(cutUtf16(u"ab\xD83D", 3), u"ab\xD83D");
}

TEST(TextTest, Utf8LimitNeverSplitsASequence) {
    // U+00E9 (2 bytes), U+20AC (3 bytes), U+1F600 (4 bytes), unpaired high ('?')
    const std::u16string text = u"\u00E9\u20AC\xD83D\xDE00\xD800";
    const std::vector<std::pair<std::size_t, std::string>> cases = {
        {0, ""},
        {1, ""},
        {2, "\xC3\xA9"},
        {4, "\xC3\xA9"},
        {5, "\xC3\xA9\xE2\x82\xAC"},
        {8, "\xC3\xA9\xE2\x82\xAC"},
        {9, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {10, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80?"},
        {99, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80?"},
    };
    for (const auto& [limit, utf8] : cases) {
        EXPECT_EQ(toUtf8(text, limit), utf8) << "limit " << limit;
    }
}

TEST(TextTest, FoldCaseLowersTheCoveredScriptsAndNothingElse) {
    const std::vector<std::pair<char16_t, char16_t>> cases = {
        {u'A', u'a'},         {u'Z', u'z'},         {u'a', u'a'},
        {u'@', u'@'},         {u'[', u'['},         {u'~', u'~'},
        {0x00C0, 0x00E0},     {0x00D6, 0x00F6},     {0x00D7, 0x00D7},  // multiplication sign
        {0x00D8, 0x00F8},     {0x00DE, 0x00FE},     {0x00DF, 0x00DF},  // sharp s
        {0x00FF, 0x00FF},     {0x0100, 0x0101},     {0x0101, 0x0101},
        {0x012E, 0x012F},     {0x0139, 0x013A},     {0x0147, 0x0148},
        {0x0148, 0x0148},     {0x014A, 0x014B},     {0x0178, 0x00FF},
        {0x017D, 0x017E},     {0x017F, 0x017F},     {0x0181, 0x0253},
        {0x01C4, 0x01C6},     {0x01C5, 0x01C6},     {0x01CD, 0x01CE},
        {0x0200, 0x0201},     {0x0386, 0x03AC},     {0x0388, 0x03AD},
        {0x038F, 0x03CE},     {0x0391, 0x03B1},     {0x03A1, 0x03C1},
        {0x03A2, 0x03A2},     {0x03A3, 0x03C3},     {0x03A9, 0x03C9},
        {0x03B1, 0x03B1},     {0x0400, 0x0450},     {0x0401, 0x0451},
        {0x040F, 0x045F},     {0x0410, 0x0430},     {0x042F, 0x044F},
        {0x0430, 0x0430},     {0x0460, 0x0461},     {0x0490, 0x0491},
        {0x04C1, 0x04C2},     {0x1E9E, 0x00DF},     {0x1EA0, 0x1EA1},
        {0x4E2D, 0x4E2D},     {0xD83D, 0xD83D},     {0xFF21, 0xFF21},
    };
    for (const auto& [unit, lower] : cases) {
        EXPECT_EQ(static_cast<unsigned>(foldCase(unit)), static_cast<unsigned>(lower))
            << std::hex << static_cast<unsigned>(unit);
    }
}

TEST(TextTest, FoldedFormsAgreeWithEqualsIgnoreCase) {
    struct Case {
        std::u16string a;
        std::u16string b;
        bool equal;
    };
    const std::vector<Case> cases = {
        {u"README.TXT", u"readme.txt", true},
        {u"\u00C9T\u00C9", u"\u00E9t\u00E9", true},
        {u"\u041C\u041E\u0421\u041A\u0412\u0410", u"\u043C\u043E\u0441\u043A\u0432\u0430", true},
        {u"\u0394\u0399\u03A3\u039A\u039F\u03A3", u"\u03B4\u03B9\u03C3\u03BA\u03BF\u03C3", true},
        {u"\u00DF", u"SS", false},
        {u"abc", u"abcd", false},
        {u"a\u00D7b", u"a\u00F7b", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(equalsIgnoreCase(c.a, c.b), c.equal) << toUtf8(c.a) << " / " << toUtf8(c.b);
        EXPECT_EQ(foldCase(c.a) == foldCase(c.b), c.equal) << toUtf8(c.a) << " / " << toUtf8(c.b);
    }
}

TEST(TextTest, UpperAsciiLeavesUtf8BytesAlone) {
    std::string name = "caf\xC3\xA9 \xC3\xA0 la carte.txt";
    upperAsciiInPlace(name);
    EXPECT_EQ(name, "CAF\xC3\xA9 \xC3\xA0 LA CARTE.TXT");
    EXPECT_EQ(upperAscii('z'), 'Z');
    EXPECT_EQ(upperAscii('{'), '{');
    EXPECT_EQ(upperAscii('\xE9'), '\xE9');
}

TEST(TextTest, ValidUtf8IsToldFromInvalid) {
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ascii", true},
        {"caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", true},
        {"\xEF\xBF\xBD", true},       // U+FFFD itself
        {"caf\xE9", false},             // Latin-1
        {"\xC3", false},                // cut short
        {"\xC0\xAF", false},            // overlong
        {"\xED\xA0\x80", false},        // an encoded surrogate
        {"\xF4\x90\x80\x80", false},    // above U+10FFFF
        {"\xFF", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.text;
}

TEST(TextTest, U16LengthStopsAtTheTerminator) {
    EXPECT_EQ(u16length(nullptr), 0u);
    EXPECT_EQ(u16length(u""), 0u);
    EXPECT_EQ(u16length(u"ab\0cd"), 2u);
}

}  // namespace
}  // namespace velk::platform
