// The program's resources: the .res image that windres writes, embedded in
// the binary and read the way Windows reads a module's resources. Everything
// is bounds-checked, since a corrupt image must not crash the program.
#include "platform/host/kernel/faults.h"
#include "platform/host/text/resources.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/text/codepage.h"
#include "platform/host/text/dialog_template.h"
#include "platform/host/text/mbstring.h"
#include "platform/host/win_kernel.h"
#include "platform/host/win_user.h"

extern "C" const unsigned char zav_res_begin[], zav_res_end[];

namespace host {
namespace {

constexpr DWORD kErrorResourceLangNotFound = 1815;
constexpr WORD kLangEnglishUs = 1033;
constexpr WORD kLangNeutral = 0;

// Reads little-endian fields; a read past the end yields zeros and leaves
// ok() false for good, so callers check once at the end of a record.
class Reader {
public:
    Reader(const BYTE *data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }

    BYTE Byte() { return Need(1) ? data_[pos_++] : 0; }
    WORD Word() {
        if (!Need(2)) return 0;
        WORD v = static_cast<WORD>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    void Skip(size_t n) {
        if (Need(n)) pos_ += n;
    }
    void Align4() { Skip((4 - pos_ % 4) % 4); }

    std::u16string String() {
        std::u16string s;
        for (WORD c = Word(); ok_ && c != 0; c = Word()) s += static_cast<char16_t>(c);
        return s;
    }

    // A name or ordinal field: 0xFFFF and an ordinal, else a string.
    struct Id {
        bool isOrdinal = false;
        WORD ordinal = 0;
        std::u16string name;
    };
    Id NameOrOrdinal() {
        Id id;
        if (Need(2) && data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFF) {
            pos_ += 2;
            id.isOrdinal = true;
            id.ordinal = Word();
        } else {
            id.name = String();
        }
        return id;
    }

private:
    bool Need(size_t n) {
        if (ok_ && size_ - pos_ >= n) return true;
        ok_ = false;
        return false;
    }

    const BYTE *data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

using ResId = Reader::Id;

struct ResEntry {
    ResId type, name;
    WORD language = 0;
    const BYTE *data = nullptr;
    DWORD size = 0;
};

struct ResImage {
    bool valid = false;
    std::vector<ResEntry> entries;
};

// Reads one RESOURCEHEADER and its data at `offset`; advances `offset` past
// the record and its DWORD padding.
bool ReadRecord(const BYTE *image, size_t size, size_t *offset, ResEntry *entry) {
    Reader prefix(image + *offset, size - *offset);
    DWORD dataSize = prefix.Dword(), headerSize = prefix.Dword();
    if (!prefix.ok() || headerSize > size - *offset || dataSize > size - *offset - headerSize) return false;
    Reader header(image + *offset, headerSize);
    header.Skip(8);
    entry->type = header.NameOrOrdinal();
    entry->name = header.NameOrOrdinal();
    header.Align4();
    header.Dword();  // DataVersion
    header.Word();   // MemoryFlags
    entry->language = header.Word();
    header.Dword();  // Version
    header.Dword();  // Characteristics
    if (!header.ok()) return false;
    entry->data = image + *offset + headerSize;
    entry->size = dataSize;
    size_t end = *offset + headerSize + dataSize;
    *offset = end + (4 - end % 4) % 4;
    return true;
}

ResImage ParseImage(const BYTE *image, size_t size) {
    ResImage result;
    size_t offset = 0;
    while (offset < size) {
        ResEntry entry;
        if (!ReadRecord(image, size, &offset, &entry)) return ResImage{};
        // The leading empty record only marks the file as a 32-bit .res.
        bool marker = entry.size == 0 && entry.type.isOrdinal && entry.type.ordinal == 0;
        if (!marker) result.entries.push_back(std::move(entry));
    }
    result.valid = true;
    return result;
}

const ResImage &EmbeddedImage() {
    static const ResImage image = ParseImage(zav_res_begin, static_cast<size_t>(zav_res_end - zav_res_begin));
    return image;
}

std::mutex g_testMutex;
std::unique_ptr<ResImage> g_testImage;
std::atomic<const ResImage *> g_active{nullptr};

const ResImage &Image() {
    const ResImage *active = g_active.load();
    return active ? *active : EmbeddedImage();
}

bool IsOwnModule(HMODULE module) { return module == nullptr || module == GetModuleHandleA(nullptr); }

// Windows matches string names without regard to ASCII case, and "#123"
// names ordinal 123.
bool Matches(const ResId &id, LPCSTR wanted) {
    if (IS_INTRESOURCE(wanted)) return id.isOrdinal && id.ordinal == LOWORD(wanted);
    if (wanted[0] == '#') {
        char *end = nullptr;
        unsigned long ordinal = std::strtoul(wanted + 1, &end, 10);
        return *end == 0 && end != wanted + 1 && id.isOrdinal && id.ordinal == ordinal;
    }
    if (id.isOrdinal || id.name.size() != std::strlen(wanted)) return false;
    for (size_t i = 0; i < id.name.size(); ++i) {
        char16_t a = id.name[i], b = static_cast<unsigned char>(wanted[i]);
        if (a >= u'a' && a <= u'z') a = a - u'a' + u'A';
        if (b >= u'a' && b <= u'z') b = b - u'a' + u'A';
        if (a != b) return false;
    }
    return true;
}

// All languages of resource `name` of `type`, in image order; sets the
// last error when there is none.
std::vector<size_t> Candidates(const ResImage &image, LPCSTR type, LPCSTR name) {
    std::vector<size_t> found;
    bool typeSeen = false;
    for (size_t i = 0; i < image.entries.size(); ++i) {
        if (!Matches(image.entries[i].type, type)) continue;
        typeSeen = true;
        if (Matches(image.entries[i].name, name)) found.push_back(i);
    }
    if (found.empty()) SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return found;
}

HRSRC ToHandle(size_t index) { return reinterpret_cast<HRSRC>(static_cast<ULONG_PTR>(index + 1)); }

const ResEntry *FromHandle(HRSRC handle) {
    const ResImage &image = Image();
    ULONG_PTR index = reinterpret_cast<ULONG_PTR>(handle) - 1;
    return handle != nullptr && index < image.entries.size() ? &image.entries[index] : nullptr;
}

// The user's language, then any variety of it, then neutral, then English,
// then whatever there is: the order in which Windows falls back.
HRSRC FindForUser(LPCSTR type, LPCSTR name) {
    const ResImage &image = Image();
    std::vector<size_t> found = Candidates(image, type, name);
    if (found.empty()) return nullptr;
    WORD user = UserLanguageId();
    auto pick = [&](auto accept) -> HRSRC {
        for (size_t i : found) {
            if (accept(image.entries[i].language)) return ToHandle(i);
        }
        return nullptr;
    };
    if (HRSRC h = pick([&](WORD lang) { return lang == user; })) return h;
    if (HRSRC h = pick([&](WORD lang) { return (lang & 0x3FF) == (user & 0x3FF); })) return h;
    if (HRSRC h = pick([](WORD lang) { return lang == kLangNeutral; })) return h;
    if (HRSRC h = pick([](WORD lang) { return lang == kLangEnglishUs; })) return h;
    return ToHandle(found.front());
}

// String `id` of the user's bundle, or false when it is missing or empty.
bool FindString(UINT id, std::u16string *text) {
    if (id > 0xFFFF) return false;
    const ResEntry *bundle = FromHandle(FindForUser(RT_STRING, MAKEINTRESOURCEA((id >> 4) + 1)));
    if (!bundle) return false;
    Reader r(bundle->data, bundle->size);
    for (UINT i = 0; i < (id & 15); ++i) r.Skip(size_t{r.Word()} * 2);
    WORD length = r.Word();
    text->clear();
    for (WORD i = 0; i < length && r.ok(); ++i) *text += static_cast<char16_t>(r.Word());
    return r.ok() && length > 0;
}

const char *AtomClassName(WORD atom) {
    switch (atom) {
        case 0x80: return "BUTTON";
        case 0x81: return "EDIT";
        case 0x82: return "STATIC";
        case 0x83: return "LISTBOX";
        case 0x84: return "SCROLLBAR";
        case 0x85: return "COMBOBOX";
        default: return nullptr;
    }
}

void ReadItem(Reader &r, bool ex, DialogItem *item) {
    r.Align4();
    if (ex) {
        r.Dword();  // help ID
        item->exStyle = r.Dword();
        item->style = r.Dword();
    } else {
        item->style = r.Dword();
        item->exStyle = r.Dword();
    }
    item->x = r.Short();
    item->y = r.Short();
    item->cx = r.Short();
    item->cy = r.Short();
    // Sign-extended so that IDC_STATIC reads as -1 in both forms.
    item->id = ex ? static_cast<int32_t>(r.Dword()) : r.Short();
    ResId cls = r.NameOrOrdinal();
    if (!cls.isOrdinal) {
        item->className = Utf16ToUtf8(cls.name);
    } else if (const char *known = AtomClassName(cls.ordinal)) {
        item->className = known;
    } else {
        item->className = "#" + std::to_string(cls.ordinal);
    }
    ResId title = r.NameOrOrdinal();
    if (title.isOrdinal) {
        item->textOrdinal = title.ordinal;
    } else {
        item->text = Utf16ToUtf8(title.name);
    }
    r.Skip(r.Word());  // creation data
}

}  // namespace

bool SetResourcesForTesting(const void *data, size_t size) {
    std::lock_guard<std::mutex> lock(g_testMutex);
    if (data == nullptr) {
        g_active.store(nullptr);
        return EmbeddedImage().valid;
    }
    auto image = std::make_unique<ResImage>(ParseImage(static_cast<const BYTE *>(data), size));
    g_active.store(image.get());
    g_testImage = std::move(image);
    return g_testImage->valid;
}


bool ParseDialogTemplate(const void *data, size_t size, DialogTemplate *out) {
    if (data == nullptr || out == nullptr) return false;
    Reader r(static_cast<const BYTE *>(data), size);
    WORD first = r.Word(), second = r.Word();
    bool ex = first == 1 && second == 0xFFFF;
    DialogTemplate t;
    if (ex) {
        r.Dword();  // help ID
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        t.style = first | (static_cast<DWORD>(second) << 16);
        t.exStyle = r.Dword();
    }
    WORD count = r.Word();
    t.x = r.Short();
    t.y = r.Short();
    t.cx = r.Short();
    t.cy = r.Short();
    r.NameOrOrdinal();  // menu
    r.NameOrOrdinal();  // class
    ResId caption = r.NameOrOrdinal();
    if (!caption.isOrdinal) t.caption = Utf16ToUtf8(caption.name);
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        if (ex) r.Skip(4);  // weight, italic, charset
        t.fontName = Utf16ToUtf8(r.String());
    }
    // Grown item by item: a corrupt count must not allocate ahead of the data.
    for (WORD i = 0; i < count && r.ok(); ++i) {
        t.items.emplace_back();
        ReadItem(r, ex, &t.items.back());
    }
    if (!r.ok()) return false;
    *out = std::move(t);
    return true;
}

bool LoadDialogTemplate(const char *name, DialogTemplate *out) {
    HRSRC found = FindResourceA(nullptr, name, RT_DIALOG);
    if (found == nullptr) return false;
    return ParseDialogTemplate(LockResource(LoadResource(nullptr, found)), SizeofResource(nullptr, found), out);
}
}  // namespace host

using host::FromHandle;

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    HOST_API(nullptr)
    if (lpModuleName == nullptr) return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x400000));
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    HOST_API(nullptr)
    if (!host::IsOwnModule(hModule)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return host::FindForUser(lpType, lpName);
}

HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage) {
    HOST_API(nullptr)
    if (!host::IsOwnModule(hModule)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const host::ResImage &image = host::Image();
    for (size_t i : host::Candidates(image, lpType, lpName)) {
        if (image.entries[i].language == wLanguage) return host::ToHandle(i);
    }
    SetLastError(host::kErrorResourceLangNotFound);
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
    HOST_API(nullptr)
    const host::ResEntry *entry = FromHandle(hResInfo);
    if (!host::IsOwnModule(hModule) || !entry) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return const_cast<BYTE *>(entry->data);
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
    HOST_API(nullptr)
    return hResData;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    HOST_API(0)
    const host::ResEntry *entry = FromHandle(hResInfo);
    return host::IsOwnModule(hModule) && entry ? entry->size : 0;
}

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    HOST_API(0)
    if (lpBuffer == nullptr || cchBufferMax <= 0) return 0;
    lpBuffer[0] = '\0';
    std::u16string text;
    if (!host::IsOwnModule(hInstance) || !host::FindString(uID, &text)) return 0;
    std::string ansi = host::Utf16ToAnsi(text);
    // _mbsnbcpy keeps whole characters only, so a cut never leaves half a
    // double-byte character behind.
    std::string cut(static_cast<size_t>(cchBufferMax) - 1, '\0');
    _mbsnbcpy(reinterpret_cast<unsigned char *>(cut.data()), reinterpret_cast<const unsigned char *>(ansi.c_str()),
              cut.size());
    size_t length = std::strlen(cut.c_str());
    std::memcpy(lpBuffer, cut.data(), length);
    lpBuffer[length] = '\0';
    return static_cast<int>(length);
}
