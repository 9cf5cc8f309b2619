// The compiled resources as the program needs them: every message and every
// dialog template in each of the three languages, the same controls in each
// language, and the icon. The texts themselves are checked where they are
// shown (the dialog and driver tests); which language a locale gets, by the
// loader's tests.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/text/codepage.h"
#include "platform/host/text/dialog_template.h"
#include "platform/win.h"
#include "res/resource.h"

namespace {

constexpr WORD kEnglish = 1033, kJapanese = 1041;
constexpr WORD kLanguages[] = {kEnglish, 1036, kJapanese};

// The data of resource `name` tagged exactly `language`, without the
// loader's fallback to other languages: nullopt when there is none.
std::optional<std::string> Stored(LPCSTR type, UINT name, WORD language) {
    HRSRC found = FindResourceExA(nullptr, type, MAKEINTRESOURCEA(name), language);
    if (found == nullptr) return std::nullopt;
    return std::string(static_cast<const char *>(LockResource(LoadResource(nullptr, found))),
                       SizeofResource(nullptr, found));
}

unsigned Word(const std::string &data, size_t at) { return uint8_t(data[at]) | uint8_t(data[at + 1]) << 8; }

// String `id` in `language` straight from its bundle, without LoadStringA's
// code-page conversion: nullopt when the bundle is missing or cut short, ""
// when the entry is empty.
std::optional<std::string> StoredString(UINT id, WORD language) {
    std::optional<std::string> bundle = Stored(RT_STRING, id / 16 + 1, language);
    for (size_t i = 0, pos = 0; bundle && pos + 2 <= bundle->size(); ++i) {
        size_t length = Word(*bundle, pos);
        if (pos + 2 + 2 * length > bundle->size()) return std::nullopt;
        if (i == id % 16) {
            std::u16string text;
            for (size_t k = 0; k < length; ++k) text += static_cast<char16_t>(Word(*bundle, pos + 2 + 2 * k));
            return host::Utf16ToUtf8(text);
        }
        pos += 2 + 2 * length;
    }
    return std::nullopt;
}

TEST(ResourceMessages, EveryIdFrom101To135InEveryLanguage) {
    for (WORD language : kLanguages) {
        for (UINT id = IDS_ABOUT_MENU; id <= IDS_RESTART_FROM_FLOPPY; ++id) {
            SCOPED_TRACE(testing::Message() << "string " << id << ", language " << language);
            std::optional<std::string> text = StoredString(id, language);
            ASSERT_TRUE(text.has_value());
            EXPECT_FALSE(text->empty());
            EXPECT_LE(text->size(), 998u);  // loaded into 1000 bytes with room for 999
            if (language == kJapanese) {  // none has a character that code page 932 lacks
                host::SetAnsiCodePageForTesting(932);
                EXPECT_EQ(host::AnsiToUtf8(host::Utf8ToAnsi(*text)), *text);
                host::SetAnsiCodePageForTesting(0);
            }
        }
    }
}

// The controls the program binds (DDX, GetDlgItem) exist in every language;
// a template cut anywhere is refused rather than read past its end.
TEST(ResourceDialogs, EveryTemplateInEveryLanguageWithTheSameBoundControls) {
    for (int id : {IDD_ABOUT, IDD_WELCOME, IDD_PHASE_TWO, IDD_FAILURE, IDD_SUCCESS, IDD_DISKETTE, IDD_DISKETTE_WAIT,
                   IDD_DISKETTE_RETRY}) {
        std::optional<std::multiset<int>> english;
        for (WORD language : kLanguages) {
            SCOPED_TRACE(testing::Message() << "dialog " << id << ", language " << language);
            std::optional<std::string> data = Stored(RT_DIALOG, id, language);
            host::DialogTemplate got;
            ASSERT_TRUE(data && host::ParseDialogTemplate(data->data(), data->size(), &got));
            EXPECT_EQ(got.fontName, language == kJapanese ? "ＭＳ ゴシック" : "MS Sans Serif");
            EXPECT_FALSE(got.caption.empty());
            std::multiset<int> ids;  // the texts nothing binds may differ in number
            for (const host::DialogItem &item : got.items) {
                if (item.id != IDC_STATIC) ids.insert(item.id);
            }
            if (!english) english = ids;
            EXPECT_EQ(ids, *english);
            for (size_t size = 0; size < data->size(); ++size) {
                std::vector<char> prefix(data->begin(), data->begin() + static_cast<long>(size));  // for a sanitizer
                EXPECT_FALSE(host::ParseDialogTemplate(prefix.data(), prefix.size(), &got)) << size;
            }
        }
    }
}

// One template field by field, as the dialog manager and the frontends get it.
TEST(ResourceDialogs, AboutTemplateReadsBackAsWritten) {
    std::optional<std::string> data = Stored(RT_DIALOG, IDD_ABOUT, kEnglish);
    host::DialogTemplate got;
    ASSERT_TRUE(data && host::ParseDialogTemplate(data->data(), data->size(), &got));
    EXPECT_EQ((std::vector<long>{got.style, got.exStyle, got.x, got.y, got.cx, got.cy, got.pointSize}),
              (std::vector<long>{0x80C800C0, 0, 0, 0, 235, 55, 8}));
    EXPECT_EQ(got.caption, "About update");
    struct Want { long style, id, x, y, cx, cy, textOrdinal; const char *className, *text; };
    const Want items[] = {
        {0x50000003, IDC_STATIC, 11, 17, 20, 20, IDI_UPDATE, "STATIC", ""},  // the icon, by ordinal
        {0x50020080, IDC_STATIC, 40, 10, 119, 8, -1, "STATIC", "update Version 1.0"},
        {0x50020000, IDC_STATIC, 40, 25, 119, 8, -1, "STATIC", "(C) 2001 ZAV update team"},
        {0x50030001, IDOK, 178, 7, 50, 14, -1, "BUTTON", "OK"},
    };
    ASSERT_EQ(got.items.size(), std::size(items));
    for (size_t n = 0; n < got.items.size(); ++n) {
        const host::DialogItem &g = got.items[n];
        const Want &w = items[n];
        EXPECT_EQ((std::vector<long>{g.style, g.id, g.x, g.y, g.cx, g.cy, g.textOrdinal}),
                  (std::vector<long>{w.style, w.id, w.x, w.y, w.cx, w.cy, w.textOrdinal})) << "item " << n;
        EXPECT_EQ(g.className, w.className) << "item " << n;
        EXPECT_EQ(g.text, w.text) << "item " << n;
    }
}

// Only English carries the icon; the loader's fallback serves it to every
// language.
TEST(ResourceIcon, GroupHoldsA32And16PixelSixteenColourImage) {
    std::string dir = Stored(RT_GROUP_ICON, IDI_UPDATE, kEnglish).value_or("");
    ASSERT_EQ(dir.size(), 6u + 2u * 14u);
    ASSERT_EQ(Word(dir, 4), 2u);
    for (unsigned i = 0, n = 32; i < 2; ++i, n /= 2) {
        const size_t entry = 6 + 14 * i;
        EXPECT_EQ(Word(dir, entry), n | n << 8);  // width and height
        EXPECT_EQ(Word(dir, entry + 2), 16u);     // 16 colours, then the reserved zero
        // Header, 16-entry palette, 4-bit colour rows and 1-bit mask rows.
        std::optional<std::string> image = Stored(RT_ICON, Word(dir, entry + 12), kEnglish);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->size(), 40 + 64 + n * n / 2 + n * 4);
    }
}

}  // namespace
