// Conversions between the host's ANSI code page and Unicode. Resources and
// frontends speak UTF-8 (or UTF-16 in .res data); the program speaks ANSI.
#pragma once

#include <string>
#include <string_view>

namespace host {

// 65001 (UTF-8), or 932 when the locale's codeset is Shift_JIS / CP932.
unsigned AnsiCodePage();
// Overrides the code page for tests; 0 restores the locale's.
void SetAnsiCodePageForTesting(unsigned codePage);

std::string Utf16ToAnsi(std::u16string_view text);
std::string Utf8ToAnsi(std::string_view text);
std::string AnsiToUtf8(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to code points; every byte that starts no well-formed character
// becomes `replacement`.
std::u32string DecodeUtf8(std::string_view text, char32_t replacement);
std::string EncodeUtf8(std::u32string_view text);

// The user's UI language as a Windows language ID: 1036 for French, 1041 for
// Japanese, 1033 otherwise; taken from LC_ALL, else LC_MESSAGES, else LANG.
unsigned short UserLanguageId();

}  // namespace host
