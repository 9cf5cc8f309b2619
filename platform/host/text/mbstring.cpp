// The runtime's multibyte string routines over the host's ANSI code page.
// A character is one byte, a lead+trail pair in code page 932, or a whole
// well-formed sequence in UTF-8; multibyte characters are handled as units
// whose value packs their bytes big-endian (0x955C for "\x95\x5C").
#include "platform/host/text/mbstring.h"

#include <cstring>

#include "platform/host/text/codepage.h"

namespace {

bool IsDbcsLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Bytes in a well-formed UTF-8 sequence at `p`, else 1. Stops at a NUL, so it
// never reads past the terminator.
size_t Utf8Length(const unsigned char *p) {
    unsigned char b = p[0];
    size_t len = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 1;
    if (len == 1) return 1;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 1;
    }
    // Overlong and surrogate forms decided by the second byte.
    unsigned char t = p[1];
    if ((b == 0xE0 && t < 0xA0) || (b == 0xED && t > 0x9F) || (b == 0xF0 && t < 0x90) || (b == 0xF4 && t > 0x8F)) {
        return 1;
    }
    return len;
}

// Bytes in the character at `p`; a lead byte right before the terminator
// stands alone, as the runtime treats it.
size_t CharLength(const unsigned char *p, unsigned codePage) {
    if (codePage == 932) return IsDbcsLead(p[0]) && p[1] != 0 ? 2 : 1;
    return Utf8Length(p);
}

unsigned int CharValue(const unsigned char *p, size_t len) {
    unsigned int value = 0;
    for (size_t i = 0; i < len; ++i) value = (value << 8) | p[i];
    return value;
}

unsigned int FoldAscii(unsigned int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

}  // namespace

int _ismbblead(unsigned int c) {
    // UTF-8 has no DBCS lead bytes: its sequences never contain ASCII bytes.
    return host::AnsiCodePage() == 932 && IsDbcsLead(static_cast<unsigned char>(c)) ? 1 : 0;
}

unsigned char *_mbschr(const unsigned char *str, unsigned int c) {
    unsigned codePage = host::AnsiCodePage();
    for (const unsigned char *p = str;;) {
        size_t len = CharLength(p, codePage);
        if (CharValue(p, len) == c) return const_cast<unsigned char *>(p);
        if (*p == 0) return nullptr;
        p += len;
    }
}

unsigned char *_mbsrchr(const unsigned char *str, unsigned int c) {
    unsigned codePage = host::AnsiCodePage();
    const unsigned char *found = nullptr;
    for (const unsigned char *p = str;;) {
        size_t len = CharLength(p, codePage);
        if (CharValue(p, len) == c) found = p;
        if (*p == 0) return const_cast<unsigned char *>(found);
        p += len;
    }
}

int _mbsicmp(const unsigned char *a, const unsigned char *b) {
    unsigned codePage = host::AnsiCodePage();
    for (;;) {
        size_t lenA = CharLength(a, codePage), lenB = CharLength(b, codePage);
        unsigned int ca = FoldAscii(CharValue(a, lenA)), cb = FoldAscii(CharValue(b, lenB));
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
        a += lenA;
        b += lenB;
    }
}

unsigned char *_mbsnbcpy(unsigned char *dest, const unsigned char *src, size_t count) {
    unsigned codePage = host::AnsiCodePage();
    size_t done = 0;
    while (done < count && *src != 0) {
        size_t len = CharLength(src, codePage);
        // A character that does not fit whole is not copied: half of one
        // would pair with whatever byte follows it.
        if (len > count - done) break;
        std::memcpy(dest + done, src, len);
        done += len;
        src += len;
    }
    std::memset(dest + done, 0, count - done);
    return dest;
}

int _stricmp(const char *a, const char *b) {
    for (;; ++a, ++b) {
        unsigned int ca = FoldAscii(static_cast<unsigned char>(*a));
        unsigned int cb = FoldAscii(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return static_cast<int>(ca) - static_cast<int>(cb);
    }
}
