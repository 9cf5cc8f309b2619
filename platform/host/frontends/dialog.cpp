// The dialog frontend: each dialog drawn as a box on the terminal with
// ncurses (wide characters, so Japanese shows), worked with the keyboard.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <mutex>

#define NCURSES_WIDECHAR 1
#include <ncursesw/curses.h>

#include "platform/host/frontends/layout.h"
#include "platform/host/frontends/transcript.h"
#include "platform/host/win_user.h"

namespace host::ui {
namespace {

constexpr wint_t kEsc = 27;
constexpr int kEscDelayMs = 25;

struct Shown {
    DialogView view;
    int focus = IDC_STATIC;  // id of the focused button, if the user moved it
    bool menuOpen = false;
    size_t menuItem = 0;  // index into view.menu
};

struct Box {
    int top = 0, left = 0, width = 1, height = 1;  // interior size
};

std::vector<const ControlView *> Pressable(const DialogView &d) {
    std::vector<const ControlView *> out;
    for (const ControlView &c : d.controls) {
        if (PressableButton(d, c.id) == &c) out.push_back(&c);
    }
    return out;
}

// The button Enter presses: the one the focus was moved to, else the default.
const ControlView *FocusedButton(const Shown &s) {
    auto buttons = Pressable(s.view);
    for (const ControlView *b : buttons) {
        if (b->id == s.focus) return b;
    }
    for (const ControlView *b : buttons) {
        if (IsDefaultButton(*b)) return b;
    }
    return buttons.empty() ? nullptr : buttons.front();
}

void MoveFocus(Shown &s, int step) {
    auto buttons = Pressable(s.view);
    if (buttons.empty()) return;
    auto at = std::find(buttons.begin(), buttons.end(), FocusedButton(s)) - buttons.begin();
    auto n = static_cast<long>(buttons.size());
    s.focus = buttons[static_cast<size_t>(((at + step) % n + n) % n)]->id;
}

bool Pickable(const MenuItemView &m) { return !m.separator && !m.grayed; }

void MoveMenu(Shown &s, int step) {
    size_t n = s.view.menu.size();
    for (size_t tries = 0; tries < n; ++tries) {
        s.menuItem = (s.menuItem + (step > 0 ? 1 : n - 1)) % n;
        if (Pickable(s.view.menu[s.menuItem])) return;
    }
}

Action Pick(const Shown &s, const MenuItemView &m) {
    if (m.id == SC_CLOSE) return Action{s.view.hwnd, ActionKind::Close, SC_CLOSE};
    return Action{s.view.hwnd, ActionKind::SysCommand, m.id};
}

bool IsEnter(bool code, wint_t ch) { return code ? ch == KEY_ENTER : ch == L'\n' || ch == L'\r'; }

std::optional<Action> MenuKey(Shown &s, bool code, wint_t ch) {
    if ((!code && ch == kEsc) || (code && ch == KEY_F(10))) {
        s.menuOpen = false;
    } else if (code && (ch == KEY_DOWN || ch == KEY_UP)) {
        MoveMenu(s, ch == KEY_DOWN ? 1 : -1);
    } else if (IsEnter(code, ch) && s.menuItem < s.view.menu.size() && Pickable(s.view.menu[s.menuItem])) {
        s.menuOpen = false;
        return Pick(s, s.view.menu[s.menuItem]);
    } else if (!code) {
        for (const MenuItemView &m : s.view.menu) {
            Mnemonic mn = SplitMnemonic(DecodeUtf8(m.text));
            if (Pickable(m) && mn.marked >= 0 && towlower(mn.text[static_cast<size_t>(mn.marked)]) == towlower(ch)) {
                s.menuOpen = false;
                return Pick(s, m);
            }
        }
    }
    return std::nullopt;
}

std::optional<Action> DialogKey(Shown &s, bool code, wint_t ch) {
    if (!code && ch == kEsc) return Action{s.view.hwnd, ActionKind::Escape, IDCANCEL};
    if ((code && ch == KEY_F(10)) || (!code && (ch == L'm' || ch == L'M'))) {
        if (!s.view.hasSysMenu || s.view.menu.empty()) return std::nullopt;
        s.menuOpen = true;
        s.menuItem = 0;
        if (!Pickable(s.view.menu[0])) MoveMenu(s, 1);
    } else if ((!code && ch == L'\t') || (code && (ch == KEY_RIGHT || ch == KEY_DOWN))) {
        MoveFocus(s, 1);
    } else if (code && (ch == KEY_BTAB || ch == KEY_LEFT || ch == KEY_UP)) {
        MoveFocus(s, -1);
    } else if (IsEnter(code, ch)) {
        if (const ControlView *b = FocusedButton(s)) {
            return Action{s.view.hwnd, ActionKind::Button, static_cast<UINT>(b->id)};
        }
    }
    return std::nullopt;
}

// --- Drawing (with the frontend's lock held).

void Put(int y, int x, std::wstring_view text, attr_t attr) {
    attrset(attr);
    mvaddnwstr(y, x, text.data(), static_cast<int>(text.size()));
    attrset(A_NORMAL);
}

void PutMnemonic(int y, int x, const Mnemonic &m, attr_t attr) {
    for (size_t i = 0; i < m.text.size(); ++i) {
        Put(y, x, std::wstring_view(&m.text[i], 1), attr | (static_cast<int>(i) == m.marked ? A_UNDERLINE : 0));
        x += CellWidth(m.text[i]);
    }
}

void Frame(int top, int left, int width, int height) {
    for (int r = 0; r < height + 2; ++r) mvhline(top + r, left, ' ', width + 2);
    mvaddch(top, left, ACS_ULCORNER);
    mvhline(top, left + 1, ACS_HLINE, width);
    mvaddch(top, left + width + 1, ACS_URCORNER);
    mvvline(top + 1, left, ACS_VLINE, height);
    mvvline(top + 1, left + width + 1, ACS_VLINE, height);
    mvaddch(top + height + 1, left, ACS_LLCORNER);
    mvhline(top + height + 1, left + 1, ACS_HLINE, width);
    mvaddch(top + height + 1, left + width + 1, ACS_LRCORNER);
}

Box BoxOf(const DialogView &d) {
    CellRect in = DialogInterior(d);
    Box b;
    b.width = std::max(1, std::min(in.width, COLS - 2));
    b.height = std::max(1, std::min(in.height, LINES - 2));
    b.top = std::max(0, (LINES - b.height - 2) / 2);
    b.left = std::max(0, (COLS - b.width - 2) / 2);
    return b;
}

void DrawText(const ControlView &c, int y, int x, int width, int rows) {
    std::wstring text = DecodeUtf8(c.text);
    if (!(c.style & SS_NOPREFIX)) text = SplitMnemonic(text).text;
    std::vector<std::wstring> lines = WrapText(text, width);
    DWORD align = c.style & SS_TYPEMASK;
    for (size_t i = 0; i < lines.size() && static_cast<int>(i) < rows; ++i) {
        int lw = DisplayWidth(lines[i]);
        int at = align == SS_CENTER ? (width - lw) / 2 : align == SS_RIGHT ? width - lw : 0;
        Put(y + static_cast<int>(i), x + std::max(0, at), lines[i], c.enabled ? A_NORMAL : A_DIM);
    }
}

void DrawButton(const ControlView &c, int y, int x, int width, bool focused) {
    Mnemonic m = SplitMnemonic(DecodeUtf8(c.text));
    bool def = IsDefaultButton(c);
    // "< OK >", the default "<[OK]>"; narrower when the label needs the room.
    bool roomy = DisplayWidth(m.text) + 4 <= width;
    std::wstring open = def ? (roomy ? L"<[" : L"[") : (roomy ? L"< " : L"<");
    std::wstring close = def ? (roomy ? L"]>" : L"]") : (roomy ? L" >" : L">");
    int frame = static_cast<int>(open.size() + close.size());
    m.text = FitWidth(m.text, std::max(0, width - frame));
    if (m.marked >= static_cast<int>(m.text.size())) m.marked = -1;
    int total = DisplayWidth(m.text) + frame;
    int at = x + std::max(0, (width - total) / 2);
    attr_t attr = (focused ? A_REVERSE : A_NORMAL) | (def ? A_BOLD : A_NORMAL) | (c.enabled ? A_NORMAL : A_DIM);
    Put(y, at, open, attr);
    PutMnemonic(y, at + static_cast<int>(open.size()), m, attr);
    Put(y, at + static_cast<int>(open.size()) + DisplayWidth(m.text), close, attr);
}

class DialogFrontend final : public Frontend {
public:
    ~DialogFrontend() override { End(); }

    bool Start(std::string *why) {
        if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
            *why = "no terminal";
            return false;
        }
        // Wide characters need the locale's character type; only that, so
        // number formatting elsewhere in the program stays as it was. A
        // locale the system lacks still gets UTF-8 rather than ASCII.
        if (!std::setlocale(LC_CTYPE, "")) std::setlocale(LC_CTYPE, "C.UTF-8");
        screen_ = newterm(nullptr, stdout, stdin);
        if (!screen_) {
            *why = "unknown terminal type";
            return false;
        }
        set_term(screen_);
        cbreak();
        noecho();
        keypad(stdscr, TRUE);
        nodelay(stdscr, TRUE);
        curs_set(0);
        set_escdelay(kEscDelayMs);
        return true;
    }

    void Show(const DialogView &d) override { Update(d, true); }
    void ControlChanged(const DialogView &d, size_t, Change) override { Update(d, false); }
    void Refresh(const DialogView &d) override { Update(d, false); }

    void DialogChanged(const DialogView &d, DialogChange what) override {
        if (what == DialogChange::Hidden) return Closed(d);
        Update(d, false);
    }

    void Closed(const DialogView &d) override {
        std::lock_guard lock(mu_);
        std::erase_if(shown_, [&](const Shown &s) { return s.view.hwnd == d.hwnd; });
        Redraw();
    }

    void CursorChanged(int cursorId) override {
        std::lock_guard lock(mu_);
        cursor_ = cursorId;
        Redraw();
    }

    std::optional<Action> WaitModal(const DialogView &d, int timeoutMs) override {
        {
            std::lock_guard lock(mu_);
            if (!Find(d.hwnd)) {
                shown_.push_back(Shown{d});
                Redraw();
            }
            if (std::optional<Action> a = ReadKeys(d.hwnd)) return a;
        }
        pollfd p{STDIN_FILENO, POLLIN, 0};
        poll(&p, 1, timeoutMs);
        std::lock_guard lock(mu_);
        return ReadKeys(d.hwnd);
    }

    std::vector<Action> PollModeless(const std::vector<HWND> &dialogs) override {
        std::lock_guard lock(mu_);
        // Keys go to the topmost modeless dialog the program pumps for.
        for (auto it = shown_.rbegin(); it != shown_.rend(); ++it) {
            if (it->view.modal || it->view.iconic) continue;
            if (std::find(dialogs.begin(), dialogs.end(), it->view.hwnd) == dialogs.end()) continue;
            if (std::optional<Action> a = ReadKeys(it->view.hwnd)) return {*a};
            break;
        }
        return {};
    }

    void End() override {
        std::lock_guard lock(mu_);
        if (!screen_) return;
        endwin();
        delscreen(screen_);
        screen_ = nullptr;
    }

private:
    Shown *Find(HWND h) {
        for (Shown &s : shown_) {
            if (s.view.hwnd == h) return &s;
        }
        return nullptr;
    }

    void Update(const DialogView &d, bool add) {
        std::lock_guard lock(mu_);
        if (Shown *s = Find(d.hwnd)) {
            s->view = d;
        } else if (add) {
            shown_.push_back(Shown{d});
        } else {
            return;
        }
        Redraw();
    }

    // Keys for dialog `h`, up to the first that acts.
    std::optional<Action> ReadKeys(HWND h) {
        if (!screen_) return std::nullopt;
        wint_t ch = 0;
        for (int r; (r = get_wch(&ch)) != ERR;) {
            Shown *s = Find(h);
            if (!s) return std::nullopt;
            bool code = r == KEY_CODE_YES;
            std::optional<Action> a;
            if (!(code && ch == KEY_RESIZE)) a = s->menuOpen ? MenuKey(*s, code, ch) : DialogKey(*s, code, ch);
            Redraw();
            if (a) return a;
        }
        return std::nullopt;
    }

    void Redraw() {
        if (!screen_) return;
        erase();
        for (const Shown &s : shown_) {
            if (!s.view.iconic) DrawDialog(s, &s == &shown_.back());
        }
        if (!shown_.empty() && shown_.back().menuOpen) DrawMenu(shown_.back());
        refresh();
    }

    void DrawDialog(const Shown &s, bool active) {
        const DialogView &d = s.view;
        Box b = BoxOf(d);
        Frame(b.top, b.left, b.width, b.height);
        std::wstring caption = L" " + DecodeUtf8(OneLine(d.caption)) + L" ";
        Put(b.top, b.left + 2, FitWidth(caption, b.width - 2), A_BOLD);
        const ControlView *focused = active ? FocusedButton(s) : nullptr;
        for (const ControlView &c : d.controls) {
            CellRect r = DluToCells(c.x, c.y, c.cx, c.cy);
            int width = std::min(r.width, b.width - r.left);
            if (!c.visible || width <= 0 || r.top >= b.height) continue;
            int y = b.top + 1 + r.top, x = b.left + 1 + r.left;
            switch (KindOf(c)) {
            case ControlKind::Button:
                DrawButton(c, y, x, width, &c == focused);
                break;
            case ControlKind::Icon:
                Put(y, x, FitWidth(L"[i]", width), A_BOLD);
                break;
            case ControlKind::Decoration:
                break;
            default:
                // Text may run past its rectangle down to the box's bottom.
                DrawText(c, y, x, width, b.height - r.top);
            }
        }
        bool busy = cursor_ == 32514 || cursor_ == 32650;  // IDC_WAIT, IDC_APPSTARTING
        if (busy && b.width >= 8) Put(b.top + b.height + 1, b.left + b.width - 6, L"[busy]", A_BOLD);
    }

    void DrawMenu(const Shown &s) {
        int width = 0;
        for (const MenuItemView &m : s.view.menu) width = std::max(width, DisplayWidth(SplitMnemonic(DecodeUtf8(m.text)).text));
        width = std::min(width + 2, std::max(1, COLS - 4));
        int height = static_cast<int>(s.view.menu.size());
        Box b = BoxOf(s.view);
        int top = std::min(b.top + 1, std::max(0, LINES - height - 2)), left = b.left + 1;
        Frame(top, left, width, height);
        for (size_t i = 0; i < s.view.menu.size(); ++i) {
            const MenuItemView &m = s.view.menu[i];
            int y = top + 1 + static_cast<int>(i);
            if (m.separator) {
                mvhline(y, left + 1, ACS_HLINE, width);
                continue;
            }
            attr_t attr = (m.grayed ? A_DIM : A_NORMAL) | (i == s.menuItem ? A_REVERSE : A_NORMAL);
            Put(y, left + 1, std::wstring(static_cast<size_t>(width), L' '), attr);
            Mnemonic mn = SplitMnemonic(DecodeUtf8(m.text));
            mn.text = FitWidth(mn.text, width - 2);
            if (mn.marked >= static_cast<int>(mn.text.size())) mn.marked = -1;
            PutMnemonic(y, left + 2, mn, attr);
        }
    }

    std::mutex mu_;
    SCREEN *screen_ = nullptr;
    std::vector<Shown> shown_;  // bottom to top
    int cursor_ = 32512;
};

}  // namespace

std::unique_ptr<Frontend> MakeDialogFrontend(std::string *why) {
    auto frontend = std::make_unique<DialogFrontend>();
    if (!frontend->Start(why)) return nullptr;
    return frontend;
}

}  // namespace host::ui
