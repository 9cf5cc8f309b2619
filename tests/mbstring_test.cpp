// The multibyte string routines and text conversions in both ANSI code pages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/host/text/codepage.h"
#include "platform/win.h"

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }
int Sign(int v) { return (v > 0) - (v < 0); }

struct MbstringTest : testing::Test {
    void TearDown() override { host::SetAnsiCodePageForTesting(0); }
};

TEST_F(MbstringTest, LeadBytes) {
    host::SetAnsiCodePageForTesting(932);
    for (unsigned b : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(_ismbblead(b)) << b;
    for (unsigned b : {0x80, 0xA0, 0xB1, 0xFD, 0x5C}) EXPECT_FALSE(_ismbblead(b)) << b;  // half-width kana too
    host::SetAnsiCodePageForTesting(65001);
    EXPECT_FALSE(_ismbblead(0xE3));  // UTF-8 has no DBCS lead bytes
}

TEST_F(MbstringTest, ChrAndRchrSkipTrailBytes) {
    // The trail byte of a kanji is no backslash; double-byte characters match as units; the terminator is part
    // of the string; a lone lead byte before it stands alone; in UTF-8, nothing matches inside a sequence.
    struct Row { unsigned cp; const char *s; unsigned c; int chr, rchr; } rows[] = {
        {932, "\x95\x5c", '\\', -1, -1}, {932, "a\\\x95\x5c" "b", '\\', 1, 1}, {932, "\\\x95\x5c\\", '\\', 0, 3},
        {932, "\x95\x5c\x95\x5c", 0x955C, 0, 2}, {932, "ab", 0, 2, 2}, {932, "x\x95", 0x95, 1, 1},
        {65001, "C:\\d\\\xe3\x81\x82", '\\', 2, 4}, {65001, "a\xe3\x81\x82", 0xE38182, 1, 1}, {65001, "\xe3\x81\x82", 0x81, -1, -1},
    };
    for (const Row &r : rows) {
        host::SetAnsiCodePageForTesting(r.cp);
        const unsigned char *chr = _mbschr(U(r.s), r.c), *rchr = _mbsrchr(U(r.s), r.c);
        EXPECT_EQ(chr ? chr - U(r.s) : -1, r.chr) << r.s;
        EXPECT_EQ(rchr ? rchr - U(r.s) : -1, r.rchr) << r.s;
    }
}

TEST_F(MbstringTest, CaseInsensitiveCompare) {
    // Letters fold to lower case, as the runtime does ('_' sorts below 'a', above 'A'), and only ASCII ones; a
    // multibyte character sorts after ASCII; trail bytes are no letters to fold; half-width kana is one byte, below
    // any pair.
    struct Row { unsigned cp; const char *a, *b; int sign; } rows[] = {
        {65001, "Setup.EXE", "setup.exe", 0}, {65001, "ab", "abc", -1}, {65001, "_", "A", -1},
        {65001, "\xc3\x89", "\xc3\xa9", -1}, {65001, "\xc3\xa9", "z", 1}, {932, "\x83\x41", "\x83\x61", -1},
        {932, "\x82\xa0X", "\x82\xa0x", 0}, {932, "\xb1", "\x81\x40", -1},
    };
    for (const Row &r : rows) {
        host::SetAnsiCodePageForTesting(r.cp);
        EXPECT_EQ(Sign(_mbsicmp(U(r.a), U(r.b))), r.sign) << r.a << " vs " << r.b;
        EXPECT_EQ(Sign(_mbsicmp(U(r.b), U(r.a))), -r.sign) << r.b << " vs " << r.a;
        // Byte by byte, UTF-8 sorts as its characters do.
        if (r.cp == 65001) { EXPECT_EQ(Sign(_stricmp(r.a, r.b)), r.sign) << r.a << " vs " << r.b; }
    }
}

TEST_F(MbstringTest, BoundedCopy) {
    // Padded with zeros; no terminator when full, like strncpy; a sequence or a double-byte character never cut.
    struct Row { unsigned cp; const char *src; size_t count; std::string expected; } rows[] = {
        {65001, "abc", 5, std::string("abc\0\0", 5)}, {65001, "abcdef", 3, "abc"}, {65001, "a\xc3\xa9", 2, std::string("a\0", 2)},
        {932, "a\x82\xa0", 2, std::string("a\0", 2)}, {932, "a\x82\xa0", 3, "a\x82\xa0"}, {932, "abc", 0, ""},
    };
    for (const Row &r : rows) {
        host::SetAnsiCodePageForTesting(r.cp);
        unsigned char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(_mbsnbcpy(buffer, U(r.src), r.count), buffer);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), r.count), r.expected) << r.src;
        EXPECT_EQ(buffer[r.count], '#') << "wrote past count for " << r.src;
    }
}

TEST_F(MbstringTest, ConversionsReplaceWhatCannotBeRepresented) {
    // No such character in 932; a lone surrogate.
    struct Row { unsigned cp; std::u16string utf16; std::string ansi; } toAnsi[] = {
        {932, u"a\u3042\u30a2", "a\x82\xa0\x83\x41"}, {932, u"x\U0001F600y", "x?y"},
        {65001, u"\u00e9\U0001F600", "\xc3\xa9\xf0\x9f\x98\x80"}, {65001, std::u16string(1, u'\xd800') + u"a", "?a"},
    };
    for (const auto &r : toAnsi) {
        host::SetAnsiCodePageForTesting(r.cp);
        EXPECT_EQ(host::Utf16ToAnsi(r.utf16), r.ansi);
    }
    // Cut off at the end; an overlong form.
    struct Back { unsigned cp; std::string ansi, utf8; } toUtf8[] = {
        {932, "a\x82\xa0", "a\xe3\x81\x82"}, {932, "a\x82", "a?"}, {65001, "a\xc3", "a?"}, {65001, "\xc0\xaf", "??"},
    };
    for (const auto &r : toUtf8) {
        host::SetAnsiCodePageForTesting(r.cp);
        EXPECT_EQ(host::AnsiToUtf8(r.ansi), r.utf8);
    }
    host::SetAnsiCodePageForTesting(932);
    EXPECT_EQ(host::Utf8ToAnsi("\xe3\x82\xa2\xff"), "\x83\x41?");
}

}  // namespace
