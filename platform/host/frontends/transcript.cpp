#include "platform/host/text/ascii.h"
#include "platform/host/frontends/transcript.h"

#include <cctype>

#include "platform/host/machine/diskette.h"
#include "platform/host/win_user.h"

namespace host::ui {

std::string OneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' || text[i] == '\r') {
            out += "\\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string ControlLabel(const ControlView &c) {
    std::string label;
    switch (KindOf(c)) {
    case ControlKind::Text:
    case ControlKind::Decoration:
        label = "text";
        break;
    case ControlKind::Icon:
        label = "icon";
        break;
    case ControlKind::Button:
        return "button " + std::to_string(c.id);
    case ControlKind::Other:
        return "control " + std::to_string(c.id);
    }
    if (c.id != IDC_STATIC) label += " " + std::to_string(c.id);
    return label;
}

std::string ControlLine(const ControlView &c) {
    ControlKind kind = KindOf(c);
    if (!c.visible || kind == ControlKind::Decoration) return {};
    std::string line = ControlLabel(c);
    if (IsDefaultButton(c)) line += " [default]";
    if (!c.enabled) line += " [disabled]";
    line += ": ";
    line += kind == ControlKind::Icon ? c.iconName : OneLine(c.text);
    return line;
}

std::string DialogHeader(const DialogView &d) {
    return "=== dialog " + d.name + (d.modal ? "" : " (modeless)") + ": " + OneLine(d.caption);
}

std::vector<std::string> DialogBlock(const DialogView &d) {
    std::vector<std::string> lines{DialogHeader(d)};
    for (const ControlView &c : d.controls) {
        std::string line = ControlLine(c);
        if (!line.empty()) lines.push_back(std::move(line));
    }
    for (const MenuItemView &m : d.menu) {
        if (m.builtin || m.separator) continue;
        lines.push_back("menu " + std::to_string(m.id) + ": " + OneLine(m.text));
    }
    return lines;
}

std::string ChangeLine(const DialogView &d, size_t index, Change what) {
    const ControlView &c = d.controls.at(index);
    std::string line = "--- dialog " + d.name + ": " + ControlLabel(c);
    switch (what) {
    case Change::Text:
        return line + " = " + OneLine(c.text);
    case Change::Enabled:
        return line + " enabled";
    case Change::Disabled:
        return line + " disabled";
    case Change::Shown:
        return line + " shown";
    case Change::Hidden:
        return line + " hidden";
    }
    return line;
}

std::string DialogChangeLine(const DialogView &d, DialogChange what) {
    std::string line = "--- dialog " + d.name + ": ";
    switch (what) {
    case DialogChange::Caption:
        return line + "caption = " + OneLine(d.caption);
    case DialogChange::Minimized:
        return line + "minimized";
    case DialogChange::Restored:
        return line + "restored";
    case DialogChange::Hidden:
        return line + "hidden";
    }
    return line;
}

std::string CursorName(int cursorId) {
    switch (cursorId) {
    case 32512: return "arrow";
    case 32513: return "ibeam";
    case 32514: return "wait";
    case 32515: return "cross";
    case 32516: return "uparrow";
    case 32648: return "no";
    case 32649: return "hand";
    case 32650: return "appstarting";
    case 32651: return "help";
    case 0: return "program";
    default: return std::to_string(cursorId);
    }
}

std::string ButtonWord(int id) {
    if (id == IDOK) return "ok";
    if (id == IDCANCEL) return "cancel";
    return std::to_string(id);
}

// "ok", ... optionally followed by "@a=KIND": the diskette the user puts
// into that drive first.
static bool IsAnswerWord(std::string_view w) {
    size_t at = w.find('@');
    if (at != std::string_view::npos) {
        std::string_view change = w.substr(at + 1);
        if (change.size() < 3 || !std::isalpha(static_cast<unsigned char>(change[0])) || change[1] != '=' ||
            !host::diskette::IsKind(std::string(change.substr(2))))
            return false;
        w = w.substr(0, at);
    }
    return w == "ok" || w == "cancel" || w == "yes" || w == "no" || w == "about" || w == "close";
}

static bool IsNumber(std::string_view s) {
    if (s.empty() || s.size() > 9) return false;
    for (char ch : s) {
        if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
    }
    return true;
}

AnswerQueues ParseAnswers(std::string_view text, std::vector<std::string> *malformed) {
    AnswerQueues queues;
    size_t pos = 0;
    while (pos < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[pos]))) {
            ++pos;
            continue;
        }
        size_t end = pos;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
        std::string_view item = text.substr(pos, end - pos);
        pos = end;
        size_t eq = item.find('=');
        std::string word = eq == std::string_view::npos ? std::string() : host::AsciiLower(item.substr(eq + 1));
        if (eq == std::string_view::npos || !IsNumber(item.substr(0, eq)) || !IsAnswerWord(word)) {
            if (malformed) malformed->emplace_back(item);
            continue;
        }
        // "0131" and "131" name the same dialog.
        queues[std::to_string(std::stol(std::string(item.substr(0, eq))))].push_back(word);
    }
    return queues;
}

// --- TranscriptFrontend

void TranscriptFrontend::PrintLines(const std::vector<std::string> &lines) {
    for (const std::string &line : lines) std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void TranscriptFrontend::Warn(const std::string &message) {
    std::fprintf(err_, "zav-update: %s\n", message.c_str());
    std::fflush(err_);
}

void TranscriptFrontend::Show(const DialogView &d) {
    std::lock_guard lock(mu_);
    shown_[d.hwnd] = d;
    everShown_.insert(d.hwnd);
    PrintLines(Block(d));
    // A cursor set while nothing was on screen (by the first dialog's
    // WM_INITDIALOG) is told with the dialog that shows it.
    if (cursorUntold_) PrintLines({"--- cursor: " + CursorName(cursor_)});
    cursorUntold_ = false;
}

void TranscriptFrontend::ControlChanged(const DialogView &d, size_t index, Change what) {
    std::lock_guard lock(mu_);
    auto it = shown_.find(d.hwnd);
    if (it == shown_.end() || index >= d.controls.size()) return;
    it->second = d;
    if (KindOf(d.controls[index]) == ControlKind::Decoration) return;
    PrintLines({ChangeLine(d, index, what)});
}

void TranscriptFrontend::DialogChanged(const DialogView &d, DialogChange what) {
    std::lock_guard lock(mu_);
    auto it = shown_.find(d.hwnd);
    if (it == shown_.end()) return;
    if (what == DialogChange::Hidden) {
        shown_.erase(it);
    } else {
        it->second = d;
    }
    PrintLines({DialogChangeLine(d, what)});
}

void TranscriptFrontend::Refresh(const DialogView &d) {
    std::lock_guard lock(mu_);
    auto it = shown_.find(d.hwnd);
    if (it != shown_.end()) it->second = d;
}

void TranscriptFrontend::Closed(const DialogView &d) {
    std::lock_guard lock(mu_);
    shown_.erase(d.hwnd);
    if (everShown_.erase(d.hwnd) && !d.modal) PrintLines({"=== dialog " + d.name + " closed"});
}

void TranscriptFrontend::CursorChanged(int cursorId) {
    std::lock_guard lock(mu_);
    if (cursorId == cursor_) return;
    cursor_ = cursorId;
    cursorUntold_ = shown_.empty();
    if (!cursorUntold_) PrintLines({"--- cursor: " + CursorName(cursorId)});
}

}  // namespace host::ui
