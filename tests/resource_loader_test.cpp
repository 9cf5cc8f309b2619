// The resource loader on hand-built .res images, and the locale-driven
// choice of language and code page. Dialog templates are read back from the
// program's own resources (resources_test).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/text/codepage.h"
#include "platform/host/text/resources.h"
#include "platform/win.h"

namespace {

// Little-endian byte strings as windres writes them.
struct Bytes {
    std::string b;
    Bytes &w(unsigned v) { return b += char(v & 0xFF), b += char((v >> 8) & 0xFF), *this; }
    Bytes &d(unsigned v) { return w(v & 0xFFFF).w(v >> 16); }
    Bytes &s(std::u16string_view text) { for (char16_t c : text) w(c); return w(0); }
    Bytes &pad() { while (b.size() % 4) b += '\0'; return *this; }
};

// A name-or-ordinal field.
struct Id {
    Id(unsigned o) : ordinal(o) {}
    Id(const char16_t *n) : name(n) {}
    unsigned ordinal = 0;
    std::u16string name;
};
Bytes &Put(Bytes &out, const Id &id) { return id.name.empty() ? out.w(0xFFFF).w(id.ordinal) : out.s(id.name); }

std::string Record(const Id &type, const Id &name, unsigned language, const std::string &data) {
    Bytes names;
    Put(Put(names, type), name);
    names.pad().d(0).w(0x1030).w(language).d(0).d(0);
    return Bytes().d(unsigned(data.size())).d(unsigned(8 + names.b.size())).b + names.b + Bytes{data}.pad().b;
}

std::string Image(const std::vector<std::string> &records) {
    std::string image = Record(0u, 0u, 0, "");
    for (const std::string &r : records) image += r;
    return image;
}

// A string-table bundle: entries 0-15, missing ones empty.
std::string Bundle(const std::vector<std::u16string> &strings) {
    Bytes data;
    for (size_t i = 0; i < 16; ++i) {
        std::u16string s = i < strings.size() ? strings[i] : u"";
        data.w(unsigned(s.size()));
        for (char16_t c : s) data.w(c);
    }
    return data.b;
}

std::string Found(HRSRC found) {
    if (!found) return "<missing>";
    return std::string(static_cast<const char *>(LockResource(LoadResource(nullptr, found))), SizeofResource(nullptr, found));
}

// Sets the locale variables for one test and puts the old ones back.
class ResourceLoader : public testing::Test {
protected:
    static constexpr const char *kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG", "LC_CTYPE"};
    void SetUp() override {
        for (const char *name : kVariables) {
            const char *value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
        Locale(nullptr, nullptr, "C");
    }
    void TearDown() override {
        for (size_t i = 0; i < std::size(kVariables); ++i) Set(i, saved_[i] ? saved_[i]->c_str() : nullptr);
        host::SetResourcesForTesting(nullptr, 0);
        host::SetAnsiCodePageForTesting(0);
    }
    static void Set(size_t i, const char *value) { value ? setenv(kVariables[i], value, 1) : unsetenv(kVariables[i]); }
    // nullptr unsets a variable; "" sets it empty.
    static void Locale(const char *all, const char *messages, const char *lang, const char *ctype = nullptr) {
        Set(0, all), Set(1, messages), Set(2, lang), Set(3, ctype);
    }
    void Use(const std::string &image) {
        image_ = image;
        ASSERT_TRUE(host::SetResourcesForTesting(image_.data(), image_.size()));
    }

    std::string image_;
    std::vector<std::optional<std::string>> saved_;
};

// --- The .res image -------------------------------------------------------

TEST_F(ResourceLoader, FindsRecordsAcrossPaddingAndNameForms) {
    Use(Image({
        Record(u"MyType", u"ODD", 1033, "12345"),  // odd name and data lengths need padding
        Record(10u, 7u, 1036, "abc"),
        Record(10u, 7u, 1033, ""),
    }));
    struct Row { HMODULE module; LPCSTR type, name; WORD language; const char *data; } rows[] = {
        {nullptr, "MYTYPE", "odd", 1033, "12345"},              // string names ignore ASCII case
        {nullptr, MAKEINTRESOURCEA(10), "#7", 1036, "abc"},     // "#7" names ordinal 7
        {GetModuleHandleA(nullptr), MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(7), 1033, ""},
        {nullptr, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(7), 1041, "<missing>"},
        {nullptr, "MYTYPE", "OD", 1033, "<missing>"},
        {reinterpret_cast<HMODULE>(0x1234), "MYTYPE", "ODD", 1033, "<missing>"},  // another module
    };
    for (const Row &r : rows) EXPECT_EQ(Found(FindResourceExA(r.module, r.type, r.name, r.language)), r.data);
    EXPECT_EQ(LoadResource(nullptr, reinterpret_cast<HRSRC>(99)), nullptr);  // not a handle we gave out
    EXPECT_EQ(SizeofResource(nullptr, reinterpret_cast<HRSRC>(99)), 0u);
}

TEST_F(ResourceLoader, RejectsMalformedImages) {
    std::string good = Image({Record(u"T", 5u, 1033, "data")});
    std::string hugeData = good, hugeHeader = good;
    hugeData[32] = '\x7F';        // DataSize of the second record beyond the end
    hugeHeader[32 + 4] = '\x7F';  // HeaderSize beyond the end
    struct Row { const char *what; std::string image; bool valid; } rows[] = {
        {"well formed", good, true},
        {"truncated data", good.substr(0, good.size() - 1), false},
        {"truncated header", good.substr(0, 32 + 20), false},
        {"stray bytes after the last record", good + "xx", false},
        {"data size past the end", hugeData, false},
        {"header size past the end", hugeHeader, false},
        {"name runs off its header", Image({}) + Bytes().d(0).d(12).w('T').w('T').b, false},
    };
    for (Row &r : rows) {
        // An exact-size heap copy, so that a sanitizer sees any overread.
        std::vector<char> copy(r.image.begin(), r.image.end());
        EXPECT_EQ(host::SetResourcesForTesting(copy.data(), copy.size()), r.valid) << r.what;
        EXPECT_EQ(FindResourceExA(nullptr, "T", MAKEINTRESOURCEA(5), 1033) != nullptr, r.valid) << r.what;
        host::SetResourcesForTesting(nullptr, 0);
    }
}

// --- Choice of language and code page ----------------------------------------

TEST_F(ResourceLoader, LanguageAndCodePageFromLocaleVariables) {
    struct Row { const char *all, *messages, *ctype, *lang; WORD language; unsigned cp; } rows[] = {
        {nullptr, nullptr, nullptr, "fr_BE.UTF-8@euro", 1036, 65001},  // regional variants map to the language
        {nullptr, nullptr, nullptr, "ja_JP.Shift_JIS", 1041, 932},
        {nullptr, nullptr, nullptr, "ja_JP.cp932@x", 1041, 932},       // the codeset ends at '@'
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", 1033, 65001},     // no such language: English
        {"ja_JP", "fr_FR", nullptr, "de_DE", 1041, 65001},            // LC_ALL first
        {"C", "fr_FR", "ja_JP.SJIS", "ja_JP.SJIS", 1033, 65001},
        {nullptr, "fr_FR", "ja_JP.SJIS", "ja_JP", 1036, 932},         // then LC_MESSAGES / LC_CTYPE
        {"", "", "", "ja_JP.SJIS", 1041, 932},                        // empty values are skipped
    };
    for (const Row &r : rows) {
        Locale(r.all, r.messages, r.lang, r.ctype);
        EXPECT_EQ(host::UserLanguageId(), r.language) << r.all << "|" << r.messages << "|" << r.lang;
        EXPECT_EQ(host::AnsiCodePage(), r.cp) << r.all << "|" << r.ctype << "|" << r.lang;
    }
}

TEST_F(ResourceLoader, FindResourcePicksTheUserLanguageThenFallsBack) {
    struct Row { std::vector<unsigned> languages; const char *lang; unsigned chosen; } rows[] = {
        {{1033, 1036, 1041}, "fr_CA.UTF-8", 1036},
        {{1033, 0}, "fr_FR", 0},                  // neutral before English
        {{1041, 1033}, "fr_FR", 1033},
        {{1041, 1036}, "de_DE", 1041},            // else the first one
        {{1033, 3084}, "fr_FR", 3084},            // another variety of the user's language
    };
    for (const Row &r : rows) {
        std::vector<std::string> records;
        for (unsigned language : r.languages) records.push_back(Record(5u, u"DLG", language, std::to_string(language)));
        Use(Image(records));
        Locale(nullptr, nullptr, r.lang);
        EXPECT_EQ(Found(FindResourceA(nullptr, "DLG", RT_DIALOG)), std::to_string(r.chosen)) << r.lang;
    }
}

// --- LoadStringA --------------------------------------------------------------

TEST_F(ResourceLoader, LoadStringTruncatesWholeCharacters) {
    // Bundle 1 holds IDs 0-15, bundle 2 IDs 16-31; only English has bundle 2.
    Use(Image({
        Record(6u, 1u, 1033, Bundle({u"Hello", u"a\u3042\u3044"})),
        Record(6u, 2u, 1033, Bundle({u"", u"", u"", u"Seventeen+2"})),
        Record(6u, 1u, 1036, Bundle({u"Bonjour"})),
    }));
    struct Row { unsigned cp; const char *lang; UINT id; int cch; const char *expected; } rows[] = {
        {65001, "C", 0, 6, "Hello"},                 // exact fit
        {65001, "C", 0, 5, "Hell"},                  // cchBufferMax - 1 bytes and the terminator
        {65001, "C", 0, 1, ""},
        {932, "C", 1, 5, "a\x82\xa0"},               // the second kanji would be split
        {65001, "C", 19, 50, "Seventeen+2"},         // entry 3 of bundle 2
        {65001, "fr_FR", 0, 50, "Bonjour"},
        {65001, "fr_FR", 19, 50, "Seventeen+2"},     // French lacks bundle 2: English
        {65001, "C", 40, 50, ""},                    // no bundle at all
    };
    for (const Row &r : rows) {
        host::SetAnsiCodePageForTesting(r.cp);
        Locale(nullptr, nullptr, r.lang);
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        int length = LoadStringA(nullptr, r.id, buffer, r.cch);
        EXPECT_STREQ(buffer, r.expected) << r.id << "/" << r.cch;
        EXPECT_EQ(length, static_cast<int>(std::strlen(r.expected))) << r.id << "/" << r.cch;
        EXPECT_EQ(buffer[r.cch], '#') << "wrote past the buffer: " << r.id << "/" << r.cch;
    }
}

}  // namespace
