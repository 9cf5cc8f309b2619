// The text frontend: dialogs printed as lines, choices read as lines.
#include "platform/host/text/ascii.h"
#include "platform/host/frontends/text.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <set>

#include "platform/host/frontends/layout.h"
#include "platform/host/frontends/transcript.h"
#include "platform/host/win_user.h"

namespace host::ui {

// --- LineReader

bool LineReader::TakeLine(std::string *line) {
    size_t nl = buffer_.find('\n');
    if (nl == std::string::npos) {
        if (!eof_ || buffer_.empty()) return false;
        nl = buffer_.size();  // a last line without its newline
    }
    *line = buffer_.substr(0, nl);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    buffer_.erase(0, nl + 1);
    return true;
}

LineReader::Result LineReader::Read(std::string *line, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (TakeLine(line)) return Result::Line;
        if (eof_) return Result::Eof;
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd p{fd_, POLLIN, 0};
        int ready = poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return Result::Timeout;
        char chunk[512];
        ssize_t n = ready < 0 ? -1 : read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof_ = true;
        } else {
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
}

// --- Choices

namespace {

std::string Label(const std::string &text) { return EncodeUtf8(SplitMnemonic(DecodeUtf8(text)).text); }

// The number typed, or 0.
size_t Number(const std::string &s) {
    if (s.empty() || s.size() > 4 || s.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<size_t>(std::stoul(s));
}

const ControlView *DefaultButton(const DialogView &d) {
    for (const ControlView *b : NumberedButtons(d)) {
        if (IsDefaultButton(*b) && b->enabled) return b;
    }
    return nullptr;
}

}  // namespace

std::vector<const ControlView *> NumberedButtons(const DialogView &d) {
    std::vector<const ControlView *> out;
    for (const ControlView &c : d.controls) {
        if (c.visible && KindOf(c) == ControlKind::Button) out.push_back(&c);
    }
    return out;
}

std::vector<const MenuItemView *> PickableMenuItems(const DialogView &d) {
    std::vector<const MenuItemView *> out;
    for (const MenuItemView &m : d.menu) {
        if (!m.separator && !m.grayed) out.push_back(&m);
    }
    return out;
}

Choice ParseChoice(const DialogView &d, std::string_view line) {
    std::string s = host::Trim(line);
    Choice c;
    auto press = [&](const ControlView &b) {
        if (!b.enabled) {
            c.error = Label(b.text) + " is not available now";
        } else {
            c.action = Action{d.hwnd, ActionKind::Button, static_cast<UINT>(b.id)};
        }
    };
    auto buttons = NumberedButtons(d);
    if (s.empty()) {
        if (const ControlView *b = DefaultButton(d)) {
            press(*b);
        } else {
            c.error = "please type one of the choices";
        }
    } else if (size_t n = Number(s); n >= 1 && n <= buttons.size()) {
        press(*buttons[n - 1]);
    } else if ((s == "m" || s == "M") && d.hasSysMenu) {
        c.openMenu = true;
    } else if ((s == "x" || s == "X") && d.hasSysMenu) {
        c.action = Action{d.hwnd, ActionKind::Close, SC_CLOSE};
    } else {
        c.error = "'" + s + "' is not one of the choices";
    }
    return c;
}

Choice ParseMenuChoice(const DialogView &d, std::string_view line) {
    std::string s = host::Trim(line);
    Choice c;
    auto items = PickableMenuItems(d);
    if (s.empty()) {
        c.leaveMenu = true;
    } else if (size_t n = Number(s); n >= 1 && n <= items.size()) {
        const MenuItemView &m = *items[n - 1];
        c.action = m.id == SC_CLOSE ? Action{d.hwnd, ActionKind::Close, SC_CLOSE}
                                    : Action{d.hwnd, ActionKind::SysCommand, m.id};
    } else {
        c.error = "'" + s + "' is not one of the menu items";
    }
    return c;
}

std::string ChoicePrompt(const DialogView &d) {
    std::string p;
    auto buttons = NumberedButtons(d);
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (!buttons[i]->enabled) continue;
        p += (p.empty() ? "" : "  ") + ("[" + std::to_string(i + 1) + "] ") + Label(buttons[i]->text);
    }
    if (d.hasSysMenu) p += std::string(p.empty() ? "" : "  ") + "[m] menu  [x] close";
    if (const ControlView *b = DefaultButton(d)) p += " (Enter: " + Label(b->text) + ")";
    return p;
}

std::string MenuPrompt(const DialogView &d) {
    std::string p;
    auto items = PickableMenuItems(d);
    for (size_t i = 0; i < items.size(); ++i) {
        p += (i ? "  [" : "[") + std::to_string(i + 1) + "] " + Label(items[i]->text);
    }
    return p + " (Enter: back)";
}

// --- The frontend

namespace {

// Past this many end-of-input answers in a row the dialog is abandoned.
constexpr int kMaxEofAnswers = 100;

class TextFrontend final : public TranscriptFrontend {
public:
    TextFrontend(int inFd, FILE *out, FILE *err) : TranscriptFrontend(out, err), in_(inFd) {}

    std::optional<Action> WaitModal(const DialogView &d, int timeoutMs) override {
        {
            std::lock_guard lock(mu_);
            if (lastBlock_ != d.hwnd) PrintLines(Block(d));
            if (prompted_ != d.hwnd) Prompt(d, false);
        }
        std::string line;
        LineReader::Result r;
        {
            std::lock_guard reading(readMu_);
            r = in_.Read(&line, timeoutMs);
        }
        if (r == LineReader::Result::Timeout) return std::nullopt;
        std::lock_guard lock(mu_);
        prompted_ = nullptr;
        if (r == LineReader::Result::Eof) return AtEndOfInput(d);
        Choice c = inMenu_ ? ParseMenuChoice(d, line) : ParseChoice(d, line);
        if (c.action) {
            inMenu_ = false;
            return c.action;
        }
        if (!c.error.empty()) std::fprintf(out_, "%s\n", c.error.c_str());
        if (c.openMenu) inMenu_ = true;
        if (c.leaveMenu) inMenu_ = false;
        Prompt(d, inMenu_);
        return std::nullopt;
    }

    std::vector<Action> PollModeless(const std::vector<HWND> &dialogs) override {
        std::lock_guard reading(readMu_);
        std::lock_guard lock(mu_);
        const DialogView *target = nullptr;
        for (HWND h : dialogs) {
            auto it = shown_.find(h);
            if (it != shown_.end() && !it->second.modal && !NumberedButtons(it->second).empty()) target = &it->second;
        }
        if (!target) return {};
        std::string line;
        LineReader::Result r = in_.Read(&line, 0);
        if (r == LineReader::Result::Timeout) return {};
        if (r == LineReader::Result::Eof) {
            // End of input cancels each modeless dialog once.
            if (!eofCancelled_.insert(target->hwnd).second) return {};
            return {Action{target->hwnd, ActionKind::Escape, IDCANCEL}};
        }
        Choice c = ParseChoice(*target, line);
        if (c.action && c.action->kind == ActionKind::Button) return {*c.action};
        std::fprintf(out_, "%s\n", c.error.empty() ? "type the number of a button" : c.error.c_str());
        std::fflush(out_);
        return {};
    }

protected:
    std::vector<std::string> Block(const DialogView &d) override {
        lastBlock_ = d.hwnd;
        std::vector<std::string> lines{DialogHeader(d)};
        auto buttons = NumberedButtons(d);
        for (const ControlView &c : d.controls) {
            if (KindOf(c) != ControlKind::Button) {
                std::string line = ControlLine(c);
                if (!line.empty()) lines.push_back(line);
                continue;
            }
            if (!c.visible) continue;
            size_t n = std::find(buttons.begin(), buttons.end(), &c) - buttons.begin() + 1;
            lines.push_back("[" + std::to_string(n) + "] " + Label(c.text) + (IsDefaultButton(c) ? " (default)" : "") +
                            (c.enabled ? "" : " (disabled)"));
        }
        if (!d.modal && !buttons.empty()) lines.push_back("(type a button's number and Enter to press it)");
        return lines;
    }

private:
    void Prompt(const DialogView &d, bool menu) {
        std::fprintf(out_, "%s: ", menu ? MenuPrompt(d).c_str() : ChoicePrompt(d).c_str());
        std::fflush(out_);
        prompted_ = d.hwnd;
    }

    // End of input: Cancel if the dialog has it, else its close box.
    std::optional<Action> AtEndOfInput(const DialogView &d) {
        std::fprintf(out_, "\n");
        std::fflush(out_);
        if (++eofAnswers_ > kMaxEofAnswers) return Action{d.hwnd, ActionKind::Abandon, IDCANCEL};
        if (PressableButton(d, IDCANCEL)) return Action{d.hwnd, ActionKind::Button, IDCANCEL};
        if (d.hasSysMenu) return Action{d.hwnd, ActionKind::Close, SC_CLOSE};
        return Action{d.hwnd, ActionKind::Escape, IDCANCEL};
    }

    std::mutex readMu_;  // taken before mu_, never the other way round
    LineReader in_;
    HWND lastBlock_ = nullptr;
    HWND prompted_ = nullptr;
    bool inMenu_ = false;
    int eofAnswers_ = 0;
    std::set<HWND> eofCancelled_;
};

}  // namespace

std::unique_ptr<Frontend> MakeTextFrontend(int inFd, FILE *out, FILE *err) {
    return std::make_unique<TextFrontend>(inFd, out, err);
}

}  // namespace host::ui
