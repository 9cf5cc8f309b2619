// The dialog manager: creating dialogs from templates, the DLGPROC with the
// default processing Windows' DefDlgProc does, the modal loop, EndDialog and
// DestroyWindow.
#include <cctype>
#include <set>

#include "platform/host/kernel/faults.h"
#include "platform/host/user/internal.h"

using namespace host::user;

namespace {

// How long the modal loop lets an interactive frontend wait before it looks
// at the message queue again (messages posted by worker threads).
constexpr int kModalWaitMs = 50;

std::string UpperCase(std::string s) {
    for (char &ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

std::string TemplateName(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return std::to_string(reinterpret_cast<uintptr_t>(name));
    return name ? name : "";
}

LPARAM ControlParam(const Dialog &d, int id) {
    for (const Control &c : d.controls) {
        if (c.alive && c.id == id) return reinterpret_cast<LPARAM>(c.hwnd);
    }
    return 0;
}

WPARAM Clicked(int id) { return static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(id, BN_CLICKED))); }

Control MakeControl(const host::DialogItem &item) {
    Control c;
    c.hwnd = NewHandle();
    // A 16-bit template stores IDC_STATIC as 0xFFFF.
    c.id = item.id == 0xFFFF ? IDC_STATIC : item.id;
    c.className = UpperCase(item.className);
    c.style = item.style;
    c.text = item.text;
    c.iconName = item.textOrdinal >= 0 ? std::to_string(item.textOrdinal) : item.text;
    c.x = item.x, c.y = item.y, c.cx = item.cx, c.cy = item.cy;
    c.enabled = !(item.style & WS_DISABLED);
    c.visible = (item.style & WS_VISIBLE) != 0;
    return c;
}

// Adds the hidden dialog to the table; returns it and the control that gets
// the focus first (first visible enabled tab stop).
std::pair<HWND, HWND> AddDialog(const host::DialogTemplate &t, const std::string &name, HWND parent, DLGPROC proc,
                                bool modal) {
    std::lock_guard lock(S().mu);
    Dialog d;
    d.hwnd = NewHandle();
    d.name = name;
    d.modal = modal;
    d.thread = GetCurrentThreadId();
    d.proc = proc;
    d.parent = parent;
    d.caption = t.caption;
    d.style = t.style;
    d.x = t.x, d.y = t.y, d.cx = t.cx, d.cy = t.cy;
    HWND focus = nullptr;
    for (const host::DialogItem &item : t.items) {
        Control c = MakeControl(item);
        S().controls[c.hwnd] = {d.hwnd, d.controls.size()};
        if (!focus && c.visible && c.enabled && (c.style & WS_TABSTOP)) focus = c.hwnd;
        d.controls.push_back(std::move(c));
    }
    if (d.style & WS_SYSMENU) DefaultSystemMenu(d);
    EnsureQueue(d.thread);
    HWND h = d.hwnd;
    S().dialogs.emplace(h, std::move(d));
    return {h, focus};
}

HICON *IconSlot(Dialog &d, WPARAM which) { return which == ICON_BIG ? &d.bigIcon : &d.smallIcon; }

// What both DefWindowProc and DefDlgProc do with text and icons.
bool CommonDefault(HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT *result) {
    switch (msg) {
    case WM_SETTEXT:
        *result = SetWindowTextA(h, reinterpret_cast<LPCSTR>(lp));
        return true;
    case WM_GETTEXT:
        *result = GetWindowTextA(h, reinterpret_cast<LPSTR>(lp), static_cast<int>(wp));
        return true;
    case 0x000E:  // WM_GETTEXTLENGTH
        *result = GetWindowTextLengthA(h);
        return true;
    case WM_SETICON:
    case 0x007F: {  // WM_GETICON
        std::lock_guard lock(S().mu);
        Dialog *d = FindDialog(h);
        if (!d) return false;
        HICON *slot = IconSlot(*d, wp);
        *result = reinterpret_cast<LRESULT>(*slot);
        if (msg == WM_SETICON) *slot = reinterpret_cast<HICON>(lp);
        return true;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (BeginPaint(h, &ps)) EndPaint(h, &ps);
        *result = 0;
        return true;
    }
    default:
        return false;
    }
}

LRESULT DefDlgProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (CommonDefault(h, msg, wp, lp, &result)) return result;
    if (msg == WM_SYSCOMMAND && (wp & 0xFFF0) == SC_CLOSE) {
        SendToWindow(h, WM_CLOSE, 0, 0);
    } else if (msg == WM_CLOSE) {
        // As Windows: the close box is Cancel, unless Cancel is disabled.
        HWND cancel = nullptr;
        {
            std::lock_guard lock(S().mu);
            Dialog *d = FindDialog(h);
            if (!d) return 0;
            cancel = reinterpret_cast<HWND>(ControlParam(*d, IDCANCEL));
        }
        if (!cancel || IsWindowEnabled(cancel)) {
            SendToWindow(h, WM_COMMAND, Clicked(IDCANCEL), reinterpret_cast<LPARAM>(cancel));
        }
    }
    return 0;
}

LRESULT ControlMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (msg != WM_SETICON && msg != 0x007F && CommonDefault(h, msg, wp, lp, &result)) return result;
    return 0;
}

HWND CreateDialogCore(const host::DialogTemplate &t, const std::string &name, HWND parent, DLGPROC proc,
                      LPARAM param, bool modal) {
    auto [h, focus] = AddDialog(t, name, parent, proc, modal);
    SendToWindow(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param);
    {
        std::lock_guard lock(S().mu);
        Dialog *d = FindDialog(h);
        if (!d) return nullptr;  // destroyed during WM_INITDIALOG
        // Ended during WM_INITDIALOG: never shown.
        if (d->ended || !(modal || (d->style & WS_VISIBLE))) return h;
    }
    ShowWindow(h, SW_SHOWNORMAL);
    return h;
}

void Deliver(HWND h, const host::ui::Action &a) {
    if (a.kind == host::ui::ActionKind::Abandon) {
        EndDialog(h, IDCANCEL);
        return;
    }
    MSG m{};
    {
        std::lock_guard lock(S().mu);
        Dialog *d = FindDialog(h);
        if (!d) return;
        m = ActionMessage(*d, a);
    }
    SendToWindow(h, m.message, m.wParam, m.lParam);
}

// Whether the modal dialog is over; its result then.
bool ModalEnded(HWND h, INT_PTR *result, host::ui::DialogView *view) {
    std::lock_guard lock(S().mu);
    Dialog *d = FindDialog(h);
    if (!d) return true;  // destroyed by the program
    *result = d->result;
    if (d->ended) return true;
    *view = ViewOf(*d);
    return false;
}

INT_PTR RunModalLoop(HWND h) {
    DWORD thread = GetCurrentThreadId();
    INT_PTR result = 0;
    host::ui::DialogView view;
    while (!ModalEnded(h, &result, &view)) {
        MSG m;
        // Thread messages have no window to go to and are lost, as on Windows.
        if (TakeMessage(thread, &m) || PendingPaint(thread, nullptr, &m)) {
            if (m.hwnd) DispatchMessageA(&m);
            continue;
        }
        std::optional<host::ui::Action> a = host::ui::ActiveFrontend().WaitModal(view, kModalWaitMs);
        if (a) Deliver(h, *a);
    }
    return result;
}

INT_PTR DialogBoxCore(const host::DialogTemplate &t, const std::string &name, HWND parent, DLGPROC proc,
                      LPARAM param) {
    HWND h = CreateDialogCore(t, name, parent, proc, param, true);
    if (!h) return -1;
    // The owner takes no input while its modal dialog runs.
    bool disabledOwner = parent && IsWindowEnabled(parent);
    if (disabledOwner) EnableWindow(parent, FALSE);
    INT_PTR result = RunModalLoop(h);
    if (disabledOwner) EnableWindow(parent, TRUE);
    DestroyWindow(h);
    return result;
}

}  // namespace

namespace host::user {

MSG ActionMessage(const Dialog &d, const ui::Action &a) {
    MSG m{};
    m.hwnd = d.hwnd;
    switch (a.kind) {
    case ui::ActionKind::Button:
        m.message = WM_COMMAND;
        m.wParam = Clicked(static_cast<int>(a.id));
        m.lParam = ControlParam(d, static_cast<int>(a.id));
        break;
    case ui::ActionKind::Escape:
        m.message = WM_COMMAND;
        m.wParam = Clicked(IDCANCEL);
        m.lParam = ControlParam(d, IDCANCEL);
        break;
    case ui::ActionKind::Close:
        m.message = WM_SYSCOMMAND;
        m.wParam = SC_CLOSE;
        break;
    case ui::ActionKind::SysCommand:
        m.message = WM_SYSCOMMAND;
        m.wParam = a.id;
        break;
    case ui::ActionKind::Abandon:
        m.message = WM_NULL;
        break;
    }
    return m;
}

LRESULT SendToWindow(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    DLGPROC proc = nullptr;
    bool isDialog = false;
    {
        std::lock_guard lock(S().mu);
        if (Dialog *d = FindDialog(h)) {
            isDialog = true;
            proc = d->proc;
        } else if (!FindControl(h)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    if (!isDialog) return ControlMessage(h, msg, wp, lp);
    INT_PTR handled = FALSE;
    if (proc) {
        host::fault::ProgramScope program;  // the procedure's calls are the program's own
        handled = proc(h, msg, wp, lp);
    }
    return handled ? handled : DefDlgProc(h, msg, wp, lp);
}

}  // namespace host::user

namespace host {

HWND CreateDialogFromTemplate(const DialogTemplate &tpl, int dialogId, HWND parent, DLGPROC proc, LPARAM param,
                              bool modal) {
    return CreateDialogCore(tpl, std::to_string(dialogId), parent, proc, param, modal);
}

INT_PTR DialogBoxFromTemplate(const DialogTemplate &tpl, int dialogId, HWND parent, DLGPROC proc, LPARAM param) {
    return DialogBoxCore(tpl, std::to_string(dialogId), parent, proc, param);
}

}  // namespace host

namespace {

// Loads a dialog template of the program; false with the error set.
bool LoadTemplate(LPCSTR name, host::DialogTemplate *t) {
    SetLastError(0);
    if (host::LoadDialogTemplate(name, t)) return true;
    if (GetLastError() == 0) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
}

}  // namespace

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
    HOST_API(-1)
    host::DialogTemplate t;
    if (!LoadTemplate(lpTemplateName, &t)) return -1;
    return DialogBoxCore(t, TemplateName(lpTemplateName), hWndParent, lpDialogFunc, dwInitParam);
}

HWND WINAPI CreateDialogParamA(HINSTANCE, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
    HOST_API(nullptr)
    host::DialogTemplate t;
    if (!LoadTemplate(lpTemplateName, &t)) return nullptr;
    return CreateDialogCore(t, TemplateName(lpTemplateName), hWndParent, lpDialogFunc, dwInitParam, false);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    HOST_API(FALSE)
    bool hide = false;
    {
        std::lock_guard lock(S().mu);
        Dialog *d = FindDialog(hDlg);
        if (!d) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        d->ended = true;
        d->result = nResult;
        // A modal dialog disappears when its loop ends; a modeless one now.
        if (d->modal) d->visible = false;
        hide = !d->modal;
    }
    if (hide) ShowWindow(hDlg, SW_HIDE);
    return TRUE;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    HOST_API(FALSE)
    {
        std::lock_guard lock(S().mu);
        Dialog *owner = nullptr;
        if (Control *c = FindControl(hWnd, &owner)) {
            c->alive = false;
            S().controls.erase(hWnd);
            return TRUE;
        }
        Dialog *d = FindDialog(hWnd);
        if (!d) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        // As on Windows, only the thread that created a window destroys it.
        if (d->thread != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (d->destroying) return TRUE;
        d->destroying = true;
    }
    SendToWindow(hWnd, WM_DESTROY, 0, 0);
    std::lock_guard lock(S().mu);
    Dialog *d = FindDialog(hWnd);
    if (!d) return TRUE;
    host::ui::DialogView view = ViewOf(*d);
    std::set<HWND> gone{hWnd};
    for (const Control &c : d->controls) {
        S().controls.erase(c.hwnd);
        gone.insert(c.hwnd);
    }
    if (d->sysMenu) S().menus.erase(d->sysMenu);
    // Messages posted to a destroyed window are never delivered.
    auto q = S().queues.find(d->thread);
    if (q != S().queues.end()) std::erase_if(q->second, [&](const MSG &m) { return gone.count(m.hwnd) > 0; });
    S().dialogs.erase(hWnd);
    if (host::ui::FrontendStarted()) host::ui::ActiveFrontend().Closed(view);
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    host::fault::ApiScope hostApiScope_(__func__);
    return SendToWindow(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    host::fault::ApiScope hostApiScope_(__func__);
    LRESULT result = 0;
    if (CommonDefault(hWnd, Msg, wParam, lParam, &result)) return result;
    if (Msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        SendToWindow(hWnd, WM_CLOSE, 0, 0);
    } else if (Msg == WM_CLOSE) {
        DestroyWindow(hWnd);
    }
    return 0;
}
