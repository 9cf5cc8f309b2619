// The compiled resources as the program needs them: every message and every
// dialog template in each of the three languages, the same controls in each
// language, the icon, and the choice of language by the user's locale. The
// texts themselves are checked where they are shown (the dialog tests).
#include <cstdlib>
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

constexpr WORD kEnglish = 1033, kFrench = 1036, kJapanese = 1041;
constexpr WORD kLanguages[] = {kEnglish, kFrench, kJapanese};

// Reads string `id` in `language` straight from its bundle, without the
// locale or code-page conversion that LoadStringA applies: nullopt when the
// bundle is missing, "" when the entry is empty.
std::optional<std::string> StoredString(UINT id, WORD language) {
    HRSRC found = FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language);
    if (found == nullptr) return std::nullopt;
    const auto *data = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found)));
    size_t size = SizeofResource(nullptr, found), pos = 0;
    auto word = [&](size_t at) { return static_cast<char16_t>(data[at] | (data[at + 1] << 8)); };
    for (UINT i = 0; i <= id % 16; ++i) {
        if (pos + 2 > size) return std::nullopt;
        size_t length = word(pos);
        if (pos + 2 + 2 * length > size) return std::nullopt;
        if (i == id % 16) {
            std::u16string text;
            for (size_t k = 0; k < length; ++k) text += word(pos + 2 + 2 * k);
            return host::Utf16ToUtf8(text);
        }
        pos += 2 + 2 * length;
    }
    return std::nullopt;
}

TEST(ResourceMessages, EveryIdFrom101To135InEveryLanguageAndNoneBeside) {
    for (WORD language : kLanguages) {
        for (UINT id = IDS_ABOUT_MENU; id <= IDS_RESTART_FROM_FLOPPY; ++id) {
            SCOPED_TRACE(testing::Message() << "string " << id << ", language " << language);
            std::optional<std::string> text = StoredString(id, language);
            ASSERT_TRUE(text.has_value());
            EXPECT_FALSE(text->empty());
            EXPECT_LE(text->size(), 998u);  // loaded into 1000 bytes with room for 999
        }
        // The bundles holding 101 and 135 also hold 96-100 and 136-143.
        for (UINT id : {96u, 100u, 136u, 143u}) EXPECT_EQ(StoredString(id, language).value_or(""), "") << id;
    }
}

// The controls the program binds (DDX, GetDlgItem) exist in every language.
TEST(ResourceDialogs, EveryTemplateInEveryLanguageWithTheSameBoundControls) {
    const int kTemplates[] = {IDD_ABOUT,        IDD_WELCOME,  IDD_PHASE_TWO,     IDD_FAILURE,
                              IDD_SUCCESS,      IDD_DISKETTE, IDD_DISKETTE_WAIT, IDD_DISKETTE_RETRY};
    for (int id : kTemplates) {
        std::optional<std::multiset<int>> english;
        for (WORD language : kLanguages) {
            SCOPED_TRACE(testing::Message() << "dialog " << id << ", language " << language);
            HRSRC found = FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(id), language);
            ASSERT_NE(found, nullptr);
            host::DialogTemplate got;
            ASSERT_TRUE(host::ParseDialogTemplate(LockResource(LoadResource(nullptr, found)),
                                                  SizeofResource(nullptr, found), &got));
            EXPECT_EQ(got.fontName, language == kJapanese ? "ＭＳ ゴシック" : "MS Sans Serif");
            EXPECT_FALSE(got.caption.empty());
            std::multiset<int> ids;  // the texts nothing binds may differ in number
            for (const host::DialogItem &item : got.items) {
                if (item.id != IDC_STATIC) ids.insert(item.id);
            }
            if (!english) english = ids;
            EXPECT_EQ(ids, *english);
        }
    }
}

TEST(ResourceIcon, GroupHoldsA32And16PixelSixteenColourImage) {
    HRSRC group = FindResourceExA(nullptr, RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_UPDATE), kEnglish);
    ASSERT_NE(group, nullptr);
    const auto *dir = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, group)));
    ASSERT_EQ(SizeofResource(nullptr, group), 6u + 2u * 14u);
    auto word = [](const BYTE *p) { return static_cast<unsigned>(p[0] | (p[1] << 8)); };
    ASSERT_EQ(word(dir + 4), 2u);
    const unsigned sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        const BYTE *entry = dir + 6 + 14 * i;
        unsigned n = sizes[i];
        EXPECT_EQ(entry[0], n);
        EXPECT_EQ(entry[2], 16u);  // colours
        HRSRC image = FindResourceExA(nullptr, RT_ICON, MAKEINTRESOURCEA(word(entry + 12)), kEnglish);
        ASSERT_NE(image, nullptr);
        // Header, 16-entry palette, 4-bit colour rows and 1-bit mask rows.
        EXPECT_EQ(SizeofResource(nullptr, image), 40 + 64 + n * n / 2 + n * 4);
    }
}

// Sets the locale variables for one test and puts the old ones back.
class ResourceLanguage : public testing::Test {
protected:
    void SetUp() override {
        for (const char *name : kNames) {
            const char *value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
        host::SetAnsiCodePageForTesting(65001);
    }
    void TearDown() override {
        for (size_t i = 0; i < std::size(kNames); ++i) {
            if (saved_[i]) setenv(kNames[i], saved_[i]->c_str(), 1);
            else unsetenv(kNames[i]);
        }
        host::SetAnsiCodePageForTesting(0);
    }

    static constexpr const char *kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(ResourceLanguage, MessagesAndDialogsFollowTheUserLanguage) {
    const struct {
        const char *lang;
        WORD language;
    } rows[] = {{"fr_FR.UTF-8", kFrench}, {"ja_JP.UTF-8", kJapanese}, {"de_DE.UTF-8", kEnglish}, {"C", kEnglish}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.lang);
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", row.lang, 1);
        char buffer[1000];
        LoadStringA(nullptr, IDS_RESTART_FROM_FLOPPY, buffer, 999);
        EXPECT_EQ(buffer, StoredString(IDS_RESTART_FROM_FLOPPY, row.language));
        host::DialogTemplate failure, stored;
        ASSERT_TRUE(host::LoadDialogTemplate(MAKEINTRESOURCEA(IDD_FAILURE), &failure));
        HRSRC found = FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(IDD_FAILURE), row.language);
        ASSERT_TRUE(host::ParseDialogTemplate(LockResource(LoadResource(nullptr, found)),
                                              SizeofResource(nullptr, found), &stored));
        EXPECT_EQ(failure.caption, stored.caption);
        // The icon exists in English only and serves every language.
        EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_UPDATE), RT_GROUP_ICON), nullptr);
    }
}

}  // namespace
