// The host's ANSI code page and UI language, both taken from the POSIX
// locale variables, and the conversions between ANSI and Unicode. Code page
// 932 goes through iconv; UTF-8 and UTF-16 are handled here directly.
#include "platform/host/text/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "platform/host/text/mbstring.h"

namespace host {
namespace {

std::atomic<unsigned> g_codePageOverride{0};

std::string Lower(std::string s) {
    for (char &c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// The first of `names` that is set to a non-empty value, as POSIX resolves
// locale categories.
std::string FirstLocaleVariable(std::initializer_list<const char *> names) {
    for (const char *name : names) {
        const char *value = std::getenv(name);
        if (value && *value) return value;
    }
    return "";
}

unsigned LocaleCodePage() {
    std::string locale = FirstLocaleVariable({"LC_ALL", "LC_CTYPE", "LANG"});
    size_t dot = locale.find('.');
    if (dot == std::string::npos) return 65001;
    std::string codeset = Lower(locale.substr(dot + 1, locale.find('@', dot) - dot - 1));
    if (codeset == "sjis" || codeset == "shift_jis" || codeset == "cp932" || codeset == "windows-31j") return 932;
    return 65001;
}

// Decoders: every malformed unit becomes '?', so text is never dropped.
std::u32string DecodeUtf16(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else {
            out += (c >= 0xD800 && c <= 0xDFFF) ? U'?' : c;
        }
    }
    return out;
}

// Length of the well-formed UTF-8 sequence at `s`, or 0.
size_t Utf8SequenceLength(std::string_view s, char32_t *cp) {
    unsigned char b = static_cast<unsigned char>(s[0]);
    size_t len = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (len == 0 || len > s.size()) return 0;
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    for (size_t i = 1; i < len; ++i) {
        unsigned char t = static_cast<unsigned char>(s[i]);
        if ((t & 0xC0) != 0x80) return 0;
        c = (c << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return len;
}


// Converts with iconv; an input unit of `unit` bytes that cannot be converted
// becomes '?' (the same byte in UTF-8 and CP932). Without the converter only
// ASCII survives.
std::string Iconv(const char *to, const char *from, std::string_view input, size_t unit) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (size_t i = 0; i + unit <= input.size(); i += unit) {
            unsigned long value = 0;  // units are little-endian
            for (size_t k = unit; k-- > 0;) value = (value << 8) | static_cast<unsigned char>(input[i + k]);
            out += value < 0x80 ? static_cast<char>(value) : '?';
        }
        return out;
    }
    char *in = const_cast<char *>(input.data());
    size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
        out += '?';  // EILSEQ, or EINVAL for a sequence cut off at the end
        size_t skip = std::min(unit, inLeft);
        in += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    return out;
}

std::string EncodeAnsi(std::u32string_view text) {
    if (AnsiCodePage() != 932) return EncodeUtf8(text);
    std::string utf32;
    utf32.reserve(text.size() * 4);
    for (char32_t c : text) {
        for (int shift = 0; shift < 32; shift += 8) utf32 += static_cast<char>((c >> shift) & 0xFF);
    }
    return Iconv("CP932", "UTF-32LE", utf32, 4);
}

}  // namespace

std::u32string DecodeUtf8(std::string_view text, char32_t replacement) {
    std::u32string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t c = 0;
        size_t len = Utf8SequenceLength(text, &c);
        out += len ? c : replacement;
        text.remove_prefix(len ? len : 1);
    }
    return out;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

unsigned AnsiCodePage() {
    unsigned forced = g_codePageOverride.load();
    return forced ? forced : LocaleCodePage();
}

void SetAnsiCodePageForTesting(unsigned codePage) { g_codePageOverride.store(codePage); }

std::string Utf16ToAnsi(std::u16string_view text) { return EncodeAnsi(DecodeUtf16(text)); }

std::string Utf8ToAnsi(std::string_view text) { return EncodeAnsi(DecodeUtf8(text, U'?')); }

std::string AnsiToUtf8(std::string_view text) {
    if (AnsiCodePage() == 932) return Iconv("UTF-8", "CP932", text, 1);
    return EncodeUtf8(DecodeUtf8(text, U'?'));
}

std::string Utf16ToUtf8(std::u16string_view text) { return EncodeUtf8(DecodeUtf16(text)); }

unsigned short UserLanguageId() {
    std::string locale = FirstLocaleVariable({"LC_ALL", "LC_MESSAGES", "LANG"});
    std::string language = Lower(locale.substr(0, locale.find_first_of("_.@")));
    if (language == "fr") return 1036;
    if (language == "ja") return 1041;
    return 1033;
}

}  // namespace host

UINT WINAPI GetACP(void) { return host::AnsiCodePage(); }
