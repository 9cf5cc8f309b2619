// The seam between the host's window manager and whatever shows dialogs to
// the user. The window manager hands frontends snapshots of dialogs (texts in
// UTF-8) and asks them for user actions; frontends never call back into the
// window table, so they may be called with the table locked.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/win_types.h"

namespace host::ui {

struct ControlView {
    HWND hwnd = nullptr;
    int id = -1;
    std::string className;  // upper case: "BUTTON", "STATIC", ...
    DWORD style = 0;
    std::string text;  // UTF-8
    std::string iconName;  // an SS_ICON static's resource, e.g. "128"
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    bool enabled = true;
    bool visible = true;
};

struct MenuItemView {
    UINT id = 0;
    std::string text;  // UTF-8, '&' mnemonics kept
    bool separator = false;
    bool builtin = false;  // the default Move / Close items
    bool grayed = false;
};

struct DialogView {
    HWND hwnd = nullptr;
    std::string name;  // template name, e.g. "131"
    bool modal = false;
    std::string caption;  // UTF-8
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::vector<ControlView> controls;  // template order
    bool hasSysMenu = false;
    std::vector<MenuItemView> menu;  // system menu, defaults first
    bool iconic = false;
};

enum class ControlKind { Text, Icon, Button, Decoration, Other };
ControlKind KindOf(const ControlView &c);
bool IsDefaultButton(const ControlView &c);
// A push button the user can press: visible and enabled.
const ControlView *PressableButton(const DialogView &d, int id);
// The id of the last string item the program appended to the system menu.
std::optional<UINT> LastProgramMenuItem(const DialogView &d);

// What the user did to a dialog.
enum class ActionKind {
    Button,      // pressed button `id`
    Escape,      // Esc: WM_COMMAND IDCANCEL
    Close,       // close box: WM_SYSCOMMAND SC_CLOSE
    SysCommand,  // system menu item `id`
    Abandon,     // the frontend gives up on a dialog that never ends
};
struct Action {
    HWND dialog = nullptr;
    ActionKind kind = ActionKind::Escape;
    UINT id = 0;
};

enum class Change { Text, Enabled, Disabled, Shown, Hidden };
enum class DialogChange { Caption, Minimized, Restored, Hidden };

class Frontend {
public:
    virtual ~Frontend() = default;
    // The dialog became visible (again).
    virtual void Show(const DialogView &d) = 0;
    // Control `index` of a shown dialog changed; `d` is the new state.
    virtual void ControlChanged(const DialogView &d, size_t index, Change what) = 0;
    virtual void DialogChanged(const DialogView &d, DialogChange what) = 0;
    // A silent update of a shown dialog (e.g. its system menu grew).
    virtual void Refresh(const DialogView &d) = 0;
    // The dialog was destroyed.
    virtual void Closed(const DialogView &d) = 0;
    // The dialog class cursor: a system cursor ID such as 32514 (IDC_WAIT),
    // or 0 for a cursor of the program's own.
    virtual void CursorChanged(int cursorId) = 0;
    // Waits up to `timeoutMs` for an action on the modal dialog `d` (shown
    // before). Called without the window table locked.
    virtual std::optional<Action> WaitModal(const DialogView &d, int timeoutMs) = 0;
    // Actions on the given visible modeless dialogs, without blocking.
    virtual std::vector<Action> PollModeless(const std::vector<HWND> &dialogs) = 0;
    // Restores the terminal; the frontend shows nothing afterwards.
    virtual void End() {}
};

// --- Choosing a frontend.
struct FrontendChoice {
    std::string name;  // "dialog", "text" or "noninteractive"
    std::vector<std::string> warnings;  // one line each, for standard error
};
// `requested` is ZAV_FRONTEND (empty when unset).
FrontendChoice ChooseFrontend(std::string_view requested, bool stdinIsTty, bool stdoutIsTty, bool termKnown);

// The process's frontend, started at the first call.
Frontend &ActiveFrontend();
bool FrontendStarted();
// Ends the frontend (at exit).
void EndFrontend();
// Replaces the process's frontend (tests); null returns to lazy selection.
void SetFrontendForTesting(std::unique_ptr<Frontend> frontend);

// --- The concrete frontends.
std::unique_ptr<Frontend> MakeNoninteractiveFrontend(std::string_view answers, FILE *out, FILE *err);
std::unique_ptr<Frontend> MakeTextFrontend(int inFd, FILE *out, FILE *err);
// Null when the terminal cannot be started; `why` then says why.
std::unique_ptr<Frontend> MakeDialogFrontend(std::string *why);

}  // namespace host::ui
