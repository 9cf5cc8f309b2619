// Text measuring and layout for the terminal frontends: pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/host/frontends/frontend.h"

namespace host::ui {

std::wstring DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::wstring_view text);

// Terminal cells a character takes: 2 for East Asian wide characters.
int CellWidth(wchar_t ch);
int DisplayWidth(std::wstring_view text);
// The longest prefix that fits `width` cells.
std::wstring FitWidth(std::wstring_view text, int width);

// Splits text at line breaks and wraps each line to `width` cells: at
// spaces, between wide characters, and inside words longer than a line.
std::vector<std::wstring> WrapText(std::wstring_view text, int width);

// "&About" shows as "About" with 'A' marked; "&&" is a literal '&'.
struct Mnemonic {
    std::wstring text;
    int marked = -1;  // index into text, or -1
};
Mnemonic SplitMnemonic(std::wstring_view text);

// Character cells of a rectangle in dialog units: x/4, y/8, rounded outward
// so the cells hold the whole rectangle.
struct CellRect {
    int left = 0, top = 0, width = 0, height = 0;
};
CellRect DluToCells(int x, int y, int cx, int cy);
// The inside of a dialog's box: the template size, grown to hold every
// visible control.
CellRect DialogInterior(const DialogView &d);

}  // namespace host::ui
