// The host's window table: what user*.cpp share, and the entry points tests
// and the resource loader use directly. Host-only.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/text/dialog_template.h"
#include "platform/host/frontends/frontend.h"
#include "platform/host/win_kernel.h"
#include "platform/host/win_user.h"

namespace host {

// Creates a dialog from a parsed template: hidden, WM_INITDIALOG sent, then
// shown (always when modal, else when WS_VISIBLE). Null when the dialog was
// destroyed during WM_INITDIALOG.
HWND CreateDialogFromTemplate(const DialogTemplate &tpl, int dialogId, HWND parent, DLGPROC proc, LPARAM param,
                              bool modal);
// Runs a modal dialog from a parsed template until EndDialog; its result.
INT_PTR DialogBoxFromTemplate(const DialogTemplate &tpl, int dialogId, HWND parent, DLGPROC proc, LPARAM param);
// The last DrawIcon into the window's paint DC; false when there was none.
bool LastDrawIcon(HWND hwnd, POINT *at, HICON *icon);
// Forgets every window, queue and class setting (tests).
void ResetWindowsForTesting();
// Drops the frontend so that the next dialog chooses one again from
// ZAV_FRONTEND and ZAV_ANSWERS (tests).
void ResetFrontendForTesting();

namespace user {

constexpr DWORD kErrorControlIdNotFound = 1421;
constexpr DWORD kErrorInvalidMenuHandle = 1401;

struct Control {
    HWND hwnd = nullptr;
    int id = -1;
    std::string className;  // upper case
    DWORD style = 0;
    std::string text;  // UTF-8
    std::string iconName;
    short x = 0, y = 0, cx = 0, cy = 0;
    bool enabled = true;
    bool visible = true;
    bool alive = true;
};

struct MenuItem {
    UINT flags = 0;
    UINT id = 0;
    std::string text;  // UTF-8
    bool builtin = false;
};

struct Dialog {
    HWND hwnd = nullptr;
    std::string name;
    bool modal = false;
    DWORD thread = 0;
    DLGPROC proc = nullptr;
    HWND parent = nullptr;
    std::string caption;  // UTF-8
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::vector<Control> controls;
    HMENU sysMenu = nullptr;
    std::vector<MenuItem> menu;
    HICON bigIcon = nullptr, smallIcon = nullptr;
    bool visible = false, enabled = true, iconic = false;
    bool invalid = false;  // needs WM_PAINT
    bool ended = false;
    bool destroying = false;
    INT_PTR result = 0;
    bool drewIcon = false;
    POINT iconAt{};
    HICON iconDrawn = nullptr;
};

struct ClassData {
    LONG cursor = 0;
    LONG icon = 0;
};

struct State {
    std::mutex mu;
    uintptr_t nextHandle = 0x1000;
    std::map<HWND, Dialog> dialogs;
    std::map<HWND, std::pair<HWND, size_t>> controls;  // control -> (dialog, index)
    std::map<HMENU, HWND> menus;
    std::map<DWORD, std::deque<MSG>> queues;  // per thread
    std::map<std::string, ClassData> classes;
    std::map<std::string, uintptr_t> namedIcons;
};

// The table; lock S().mu around every use of it.
State &S();

// All with S().mu held.
Dialog *FindDialog(HWND h);
Control *FindControl(HWND h, Dialog **owner = nullptr);
HWND NewHandle();
ui::DialogView ViewOf(const Dialog &d);
void DefaultSystemMenu(Dialog &d);
void EnsureQueue(DWORD thread);
bool PostLocked(DWORD thread, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
// The message a user action becomes.
MSG ActionMessage(const Dialog &d, const ui::Action &a);
// The frontend, started at the first dialog shown.
ui::Frontend &FrontendFor(const Dialog &d);
// The system cursor ID of a cursor handle, 0 for the program's own.
int CursorIdOf(LONG cursor);
int DialogClassCursorId();

// Without the lock: a message to a dialog's DLGPROC with default processing
// when it returns FALSE, or to a control.
LRESULT SendToWindow(HWND h, UINT msg, WPARAM wp, LPARAM lp);
// Removes the first queued message of `thread`; false when there is none.
bool TakeMessage(DWORD thread, MSG *out);
// A WM_PAINT for a visible window of `thread` that needs painting.
bool PendingPaint(DWORD thread, HWND filter, MSG *out);

// Cursor and icon handles are small numbers that survive a 32-bit LONG.
constexpr uintptr_t kSystemCursorBase = 0x10000;
constexpr uintptr_t kSystemIconBase = 0x20000;
constexpr uintptr_t kProgramIconBase = 0x30000;
constexpr uintptr_t kNamedResourceBase = 0x40000;
constexpr uintptr_t kProgramCursorBase = 0x50000;

}  // namespace user
}  // namespace host
