// The window table and the window state the program reads and writes:
// texts, visibility, enabled state, sizes, dialog items.
#include <cstring>

#include "platform/host/kernel/faults.h"
#include "platform/host/text/codepage.h"
#include "platform/host/user/internal.h"

namespace host::user {

State &S() {
    static State state;
    return state;
}

Dialog *FindDialog(HWND h) {
    auto it = S().dialogs.find(h);
    return it == S().dialogs.end() ? nullptr : &it->second;
}

Control *FindControl(HWND h, Dialog **owner) {
    auto it = S().controls.find(h);
    if (it == S().controls.end()) return nullptr;
    Dialog *d = FindDialog(it->second.first);
    if (!d || it->second.second >= d->controls.size()) return nullptr;
    if (owner) *owner = d;
    return &d->controls[it->second.second];
}

HWND NewHandle() {
    // Never reused, so a stale handle stays invalid.
    return reinterpret_cast<HWND>(S().nextHandle++);
}

ui::DialogView ViewOf(const Dialog &d) {
    ui::DialogView v;
    v.hwnd = d.hwnd;
    v.name = d.name;
    v.modal = d.modal;
    v.caption = d.caption;
    v.style = d.style;
    v.x = d.x, v.y = d.y, v.cx = d.cx, v.cy = d.cy;
    v.iconic = d.iconic;
    v.hasSysMenu = d.sysMenu != nullptr;
    for (const Control &c : d.controls) {
        v.controls.push_back(ui::ControlView{c.hwnd, c.id, c.className, c.style, c.text, c.iconName, c.x, c.y, c.cx,
                                             c.cy, c.enabled, c.visible && c.alive});
    }
    for (const MenuItem &m : d.menu) {
        bool separator = (m.flags & MF_SEPARATOR) != 0;
        bool grayed = (m.flags & 0x3) != 0 || m.id == SC_MOVE;  // MF_GRAYED | MF_DISABLED; nothing moves here
        v.menu.push_back(ui::MenuItemView{m.id, m.text, separator, m.builtin, grayed});
    }
    return v;
}

ui::Frontend &FrontendFor(const Dialog &) {
    bool started = ui::FrontendStarted();
    ui::Frontend &frontend = ui::ActiveFrontend();
    if (!started) frontend.CursorChanged(DialogClassCursorId());
    return frontend;
}

}  // namespace host::user

using namespace host::user;

namespace {

// The longest prefix of `ansi` of at most `maxBytes` that ends on a whole
// character, so a copy never leaves half a double-byte character behind.
size_t WholeCharPrefix(const std::string &ansi, size_t maxBytes) {
    if (ansi.size() <= maxBytes) return ansi.size();
    if (host::AnsiCodePage() == 932) {
        size_t i = 0;
        while (i < ansi.size()) {
            auto b = static_cast<unsigned char>(ansi[i]);
            size_t len = ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1;
            if (i + len > maxBytes) break;
            i += len;
        }
        return i;
    }
    size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(ansi[n]) & 0xC0) == 0x80) --n;
    return n;
}

const std::string *TextOf(HWND h) {
    Dialog *owner = nullptr;
    if (Control *c = FindControl(h, &owner)) return &c->text;
    if (Dialog *d = FindDialog(h)) return &d->caption;
    return nullptr;
}

BOOL InvalidWindow() {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

void NotifyControl(Dialog &d, HWND control, host::ui::Change what) {
    if (!d.visible) return;
    auto index = S().controls.at(control).second;
    FrontendFor(d).ControlChanged(ViewOf(d), index, what);
}

bool IsMinimizeCommand(int cmd) { return cmd == SW_MINIMIZE || cmd == 2 || cmd == 7 || cmd == 11; }
bool IsRestoreCommand(int cmd) { return cmd == SW_SHOWNORMAL || cmd == 3 || cmd == 9; }

BOOL ShowDialog(Dialog &d, int cmd) {
    bool was = d.visible;
    if (cmd == SW_HIDE) {
        d.visible = false;
        if (was) FrontendFor(d).DialogChanged(ViewOf(d), host::ui::DialogChange::Hidden);
        return was;
    }
    bool wasIconic = d.iconic;
    if (IsMinimizeCommand(cmd)) d.iconic = true;
    if (IsRestoreCommand(cmd)) d.iconic = false;
    d.visible = true;
    d.invalid = true;
    if (!was) FrontendFor(d).Show(ViewOf(d));
    if (d.iconic != wasIconic) {
        FrontendFor(d).DialogChanged(ViewOf(d), d.iconic ? host::ui::DialogChange::Minimized
                                                         : host::ui::DialogChange::Restored);
    }
    return was;
}

}  // namespace

BOOL WINAPI IsWindow(HWND hWnd) {
    host::fault::ApiScope hostApiScope_(__func__);
    std::lock_guard lock(S().mu);
    return FindDialog(hWnd) || FindControl(hWnd);
}

HWND WINAPI GetParent(HWND hWnd) {
    HOST_API(nullptr)
    std::lock_guard lock(S().mu);
    Dialog *owner = nullptr;
    if (FindControl(hWnd, &owner)) return owner->hwnd;
    if (Dialog *d = FindDialog(hWnd)) return d->parent;
    InvalidWindow();
    return nullptr;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    HOST_API(nullptr)
    std::lock_guard lock(S().mu);
    Dialog *d = FindDialog(hDlg);
    if (!d) {
        InvalidWindow();
        return nullptr;
    }
    for (const Control &c : d->controls) {
        if (c.alive && c.id == nIDDlgItem) return c.hwnd;
    }
    SetLastError(kErrorControlIdNotFound);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
    HOST_API(0)
    std::lock_guard lock(S().mu);
    if (Control *c = FindControl(hWnd)) return c->id;
    if (!FindDialog(hWnd)) InvalidWindow();
    return 0;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    HOST_API(FALSE)
    std::lock_guard lock(S().mu);
    std::string text = host::AnsiToUtf8(lpString ? lpString : "");
    Dialog *owner = nullptr;
    if (Control *c = FindControl(hWnd, &owner)) {
        if (c->text == text) return TRUE;
        c->text = std::move(text);
        NotifyControl(*owner, hWnd, host::ui::Change::Text);
        return TRUE;
    }
    Dialog *d = FindDialog(hWnd);
    if (!d) return InvalidWindow();
    if (d->caption != text) {
        d->caption = std::move(text);
        if (d->visible) FrontendFor(*d).DialogChanged(ViewOf(*d), host::ui::DialogChange::Caption);
    }
    return TRUE;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    HOST_API(0)
    std::lock_guard lock(S().mu);
    const std::string *text = TextOf(hWnd);
    if (!text) return InvalidWindow();
    if (!lpString || nMaxCount <= 0) return 0;
    std::string ansi = host::Utf8ToAnsi(*text);
    size_t n = WholeCharPrefix(ansi, static_cast<size_t>(nMaxCount) - 1);
    std::memcpy(lpString, ansi.data(), n);
    lpString[n] = '\0';
    return static_cast<int>(n);
}

int WINAPI GetWindowTextLengthA(HWND hWnd) {
    HOST_API(0)
    std::lock_guard lock(S().mu);
    const std::string *text = TextOf(hWnd);
    if (!text) return InvalidWindow();
    return static_cast<int>(host::Utf8ToAnsi(*text).size());
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    host::fault::ApiScope hostApiScope_(__func__);
    std::lock_guard lock(S().mu);
    Dialog *owner = nullptr;
    if (Control *c = FindControl(hWnd, &owner)) {
        bool was = c->visible;
        c->visible = nCmdShow != SW_HIDE;
        if (was != c->visible) NotifyControl(*owner, hWnd, was ? host::ui::Change::Hidden : host::ui::Change::Shown);
        return was;
    }
    Dialog *d = FindDialog(hWnd);
    return d ? ShowDialog(*d, nCmdShow) : InvalidWindow();
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
    host::fault::ApiScope hostApiScope_(__func__);
    std::lock_guard lock(S().mu);
    Dialog *owner = nullptr;
    if (Control *c = FindControl(hWnd, &owner)) return c->visible && owner->visible;
    Dialog *d = FindDialog(hWnd);
    return d && d->visible;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    host::fault::ApiScope hostApiScope_(__func__);
    std::lock_guard lock(S().mu);
    bool enable = bEnable != FALSE;
    Dialog *owner = nullptr;
    if (Control *c = FindControl(hWnd, &owner)) {
        bool wasDisabled = !c->enabled;
        c->enabled = enable;
        if (wasDisabled == enable) {
            NotifyControl(*owner, hWnd, enable ? host::ui::Change::Enabled : host::ui::Change::Disabled);
        }
        return wasDisabled;
    }
    Dialog *d = FindDialog(hWnd);
    if (!d) return InvalidWindow();
    bool wasDisabled = !d->enabled;
    d->enabled = enable;
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
    host::fault::ApiScope hostApiScope_(__func__);
    std::lock_guard lock(S().mu);
    if (Control *c = FindControl(hWnd)) return c->enabled;
    Dialog *d = FindDialog(hWnd);
    return d && d->enabled;
}

BOOL WINAPI IsIconic(HWND hWnd) {
    host::fault::ApiScope hostApiScope_(__func__);
    std::lock_guard lock(S().mu);
    Dialog *d = FindDialog(hWnd);
    return d && d->iconic;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    HOST_API(FALSE)
    std::lock_guard lock(S().mu);
    short cx = 0, cy = 0;
    if (Control *c = FindControl(hWnd)) {
        cx = c->cx, cy = c->cy;
    } else if (Dialog *d = FindDialog(hWnd)) {
        cx = d->cx, cy = d->cy;
    } else {
        return InvalidWindow();
    }
    if (!lpRect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Dialog units with the base units of the system font, 6 x 13 pixels.
    *lpRect = RECT{0, 0, cx * 6 / 4, cy * 13 / 8};
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    HOST_API(FALSE)
    bool paint = false;
    {
        std::lock_guard lock(S().mu);
        Dialog *d = FindDialog(hWnd);
        if (!d && !FindControl(hWnd)) return InvalidWindow();
        paint = d && d->visible && d->invalid;
    }
    if (paint) SendToWindow(hWnd, WM_PAINT, 0, 0);
    return TRUE;
}
