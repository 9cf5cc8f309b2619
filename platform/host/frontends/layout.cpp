#include "platform/host/frontends/layout.h"

#include "platform/host/text/codepage.h"

#include <algorithm>
#include <cwchar>

namespace host::ui {

// wchar_t holds a whole code point on the host (32 bits).
static_assert(sizeof(wchar_t) == sizeof(char32_t));

std::wstring DecodeUtf8(std::string_view text) {
    // Broken bytes are shown rather than dropped.
    std::u32string points = host::DecodeUtf8(text, U'\uFFFD');
    return std::wstring(points.begin(), points.end());
}

std::string EncodeUtf8(std::wstring_view text) {
    return host::EncodeUtf8(std::u32string(text.begin(), text.end()));
}

// East Asian wide ranges, for when the locale's wcwidth does not know them.
static bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

int CellWidth(wchar_t ch) {
    if (ch < 0x20 || ch == 0x7F) return 0;
    int w = wcwidth(ch);
    if (w >= 0) return w;
    return IsWide(static_cast<char32_t>(ch)) ? 2 : 1;
}

int DisplayWidth(std::wstring_view text) {
    int w = 0;
    for (wchar_t ch : text) w += CellWidth(ch);
    return w;
}

std::wstring FitWidth(std::wstring_view text, int width) {
    std::wstring out;
    int used = 0;
    for (wchar_t ch : text) {
        int w = CellWidth(ch);
        if (used + w > width) break;
        out += ch;
        used += w;
    }
    return out;
}

namespace {

// Builds wrapped lines one token at a time.
class Wrapper {
public:
    explicit Wrapper(int width) : width_(std::max(width, 1)) {}

    void Spaces(std::wstring_view s) {
        // Spaces that do not fit end the line and are dropped.
        if (used_ + DisplayWidth(s) > width_) {
            Flush();
        } else if (!line_.empty()) {
            Append(s);
        }
    }

    void Word(std::wstring_view w) {
        int ww = DisplayWidth(w);
        if (used_ + ww <= width_) return Append(w);
        if (ww <= width_) {
            Flush();
            return Append(w);
        }
        for (wchar_t ch : w) {  // longer than a line: break anywhere
            if (used_ > 0 && used_ + CellWidth(ch) > width_) Flush();
            Append(std::wstring_view(&ch, 1));
        }
    }

    void EndParagraph() {
        Flush();
        if (pendingEmpty_) lines_.emplace_back();  // an empty paragraph is an empty line
        pendingEmpty_ = false;
    }
    void StartParagraph() { pendingEmpty_ = true; }

    std::vector<std::wstring> Take() { return std::move(lines_); }

private:
    void Append(std::wstring_view s) {
        line_ += s;
        used_ += DisplayWidth(s);
    }
    void Flush() {
        if (line_.empty()) return;
        while (!line_.empty() && line_.back() == L' ') line_.pop_back();
        lines_.push_back(std::move(line_));
        line_.clear();
        used_ = 0;
        pendingEmpty_ = false;
    }

    int width_;
    std::wstring line_;
    int used_ = 0;
    std::vector<std::wstring> lines_;
    bool pendingEmpty_ = false;
};

}  // namespace

std::vector<std::wstring> WrapText(std::wstring_view text, int width) {
    Wrapper wrap(width);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring_view::npos) end = text.size();
        std::wstring_view para = text.substr(start, end - start);
        if (!para.empty() && para.back() == L'\r') para.remove_suffix(1);
        wrap.StartParagraph();
        for (size_t i = 0; i < para.size();) {
            size_t j = i + 1;
            if (para[i] == L' ') {
                while (j < para.size() && para[j] == L' ') ++j;
                wrap.Spaces(para.substr(i, j - i));
            } else if (CellWidth(para[i]) == 2) {
                wrap.Word(para.substr(i, 1));  // wide text breaks between any characters
            } else {
                while (j < para.size() && para[j] != L' ' && CellWidth(para[j]) != 2) ++j;
                wrap.Word(para.substr(i, j - i));
            }
            i = j;
        }
        wrap.EndParagraph();
        start = end + 1;
    }
    return wrap.Take();
}

Mnemonic SplitMnemonic(std::wstring_view text) {
    Mnemonic m;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != L'&' && m.marked < 0) m.marked = static_cast<int>(m.text.size());
        }
        m.text += text[i];
    }
    return m;
}

CellRect DluToCells(int x, int y, int cx, int cy) {
    auto ceilDiv = [](int a, int b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); };
    CellRect r;
    r.left = x / 4;
    r.top = y / 8;
    r.width = std::max(1, ceilDiv(x + cx, 4) - r.left);
    r.height = std::max(1, ceilDiv(y + cy, 8) - r.top);
    return r;
}

CellRect DialogInterior(const DialogView &d) {
    CellRect box = DluToCells(0, 0, d.cx, d.cy);
    for (const ControlView &c : d.controls) {
        if (!c.visible) continue;
        CellRect r = DluToCells(c.x, c.y, c.cx, c.cy);
        box.width = std::max(box.width, r.left + r.width);
        box.height = std::max(box.height, r.top + r.height);
    }
    return box;
}

}  // namespace host::ui
