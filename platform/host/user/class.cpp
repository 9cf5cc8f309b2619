// Window class settings (the dialog class cursor), icons, cursors, system
// menus and painting.
#include "platform/host/kernel/faults.h"
#include "platform/host/text/codepage.h"
#include "platform/host/user/internal.h"

using namespace host::user;

namespace {

constexpr DWORD kErrorInvalidIndex = 1413;
constexpr DWORD kErrorInvalidIconHandle = 1402;
constexpr int kFirstSystemIcon = 32512, kLastSystemIcon = 32518;  // IDI_APPLICATION .. IDI_SHIELD
constexpr const char *kDialogClass = "#32770";

bool IsSystemCursor(uintptr_t id) {
    return (id >= 32512 && id <= 32516) || (id >= 32640 && id <= 32651 && id != 32647);
}

ClassData &ClassNamed(const std::string &name) {
    auto [it, added] = S().classes.try_emplace(name);
    if (added) it->second.cursor = static_cast<LONG>(kSystemCursorBase + 32512);
    return it->second;
}

// The class of a window; null for an invalid one.
ClassData *ClassOf(HWND h, bool *isDialogClass) {
    if (FindDialog(h)) {
        *isDialogClass = true;
        return &ClassNamed(kDialogClass);
    }
    *isDialogClass = false;
    if (Control *c = FindControl(h)) return &ClassNamed(c->className);
    return nullptr;
}

// A handle for a resource of the program's module, or null with the error
// FindResourceA left.
HICON ProgramResourceHandle(HINSTANCE inst, LPCSTR name, LPCSTR type, uintptr_t base, const char *kind) {
    SetLastError(0);
    if (!FindResourceA(inst, name, type)) {
        if (GetLastError() == 0) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (IS_INTRESOURCE(name)) return reinterpret_cast<HICON>(base + reinterpret_cast<uintptr_t>(name));
    std::lock_guard lock(S().mu);
    auto &named = S().namedIcons;
    auto [it, added] = named.try_emplace(std::string(kind) + ":" + name, kNamedResourceBase + named.size());
    return reinterpret_cast<HICON>(it->second);
}

void RefreshMenu(const Dialog &d) {
    if (d.visible) FrontendFor(d).Refresh(ViewOf(d));
}

}  // namespace

namespace host::user {

int CursorIdOf(LONG value) {
    auto v = static_cast<uintptr_t>(static_cast<DWORD>(value));
    return (v & ~uintptr_t{0xFFFF}) == kSystemCursorBase ? static_cast<int>(v & 0xFFFF) : 0;
}

int DialogClassCursorId() { return CursorIdOf(ClassNamed(kDialogClass).cursor); }

void DefaultSystemMenu(Dialog &d) {
    if (!d.sysMenu) {
        d.sysMenu = reinterpret_cast<HMENU>(NewHandle());
        S().menus[d.sysMenu] = d.hwnd;
    }
    d.menu = {MenuItem{MF_STRING, SC_MOVE, "&Move", true}, MenuItem{MF_STRING, SC_CLOSE, "&Close", true}};
}

}  // namespace host::user

namespace {

// The class value `nIndex` of a window's class, or null with the error set.
LONG *ClassSlot(HWND hWnd, int nIndex, bool *dialogClass) {
    ClassData *cls = ClassOf(hWnd, dialogClass);
    if (!cls) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    LONG *slot = nIndex == GCL_HCURSOR ? &cls->cursor : nIndex == GCL_HICON ? &cls->icon : nullptr;
    if (!slot) SetLastError(kErrorInvalidIndex);
    return slot;
}

}  // namespace

DWORD WINAPI SetClassLongA(HWND hWnd, int nIndex, LONG dwNewLong) {
    HOST_API(0)
    std::lock_guard lock(S().mu);
    bool dialogClass = false;
    LONG *slot = ClassSlot(hWnd, nIndex, &dialogClass);
    if (!slot) return 0;
    LONG previous = *slot;
    *slot = dwNewLong;
    // Every dialog shares the class, so the frontend shows one cursor.
    if (nIndex == GCL_HCURSOR && dialogClass && previous != dwNewLong && host::ui::FrontendStarted()) {
        host::ui::ActiveFrontend().CursorChanged(CursorIdOf(dwNewLong));
    }
    return static_cast<DWORD>(previous);
}

DWORD WINAPI GetClassLongA(HWND hWnd, int nIndex) {
    HOST_API(0)
    std::lock_guard lock(S().mu);
    bool dialogClass = false;
    LONG *slot = ClassSlot(hWnd, nIndex, &dialogClass);
    return slot ? static_cast<DWORD>(*slot) : 0;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    HOST_API(nullptr)
    if (hInstance) return ProgramResourceHandle(hInstance, lpCursorName, MAKEINTRESOURCEA(12), kProgramCursorBase, "cursor");
    auto id = reinterpret_cast<uintptr_t>(lpCursorName);
    if (!IS_INTRESOURCE(lpCursorName) || !IsSystemCursor(id)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HCURSOR>(kSystemCursorBase + id);
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
    HOST_API(nullptr)
    if (hInstance) return ProgramResourceHandle(hInstance, lpIconName, RT_GROUP_ICON, kProgramIconBase, "icon");
    auto id = reinterpret_cast<uintptr_t>(lpIconName);
    if (!IS_INTRESOURCE(lpIconName) || id < kFirstSystemIcon || id > kLastSystemIcon) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HICON>(kSystemIconBase + id);
}

HMENU WINAPI GetSystemMenu(HWND hWnd, BOOL bRevert) {
    HOST_API(nullptr)
    std::lock_guard lock(S().mu);
    Dialog *d = FindDialog(hWnd);
    if (!d) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (!d->sysMenu) return nullptr;
    if (bRevert) {
        DefaultSystemMenu(*d);
        RefreshMenu(*d);
        return nullptr;
    }
    return d->sysMenu;
}

BOOL WINAPI AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem) {
    HOST_API(FALSE)
    std::lock_guard lock(S().mu);
    auto it = S().menus.find(hMenu);
    Dialog *d = it == S().menus.end() ? nullptr : FindDialog(it->second);
    if (!d) {
        SetLastError(kErrorInvalidMenuHandle);
        return FALSE;
    }
    // Pop-ups, bitmaps and owner-drawn items cannot be shown by a frontend.
    if (uFlags & (0x10 | 0x4 | 0x100)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MenuItem item{uFlags, static_cast<UINT>(uIDNewItem), {}, false};
    if (!(uFlags & MF_SEPARATOR) && lpNewItem) item.text = host::AnsiToUtf8(lpNewItem);
    d->menu.push_back(std::move(item));
    RefreshMenu(*d);
    return TRUE;
}

int WINAPI GetMenuItemCount(HMENU hMenu) {
    HOST_API(-1)
    std::lock_guard lock(S().mu);
    auto it = S().menus.find(hMenu);
    Dialog *d = it == S().menus.end() ? nullptr : FindDialog(it->second);
    if (!d) {
        SetLastError(kErrorInvalidMenuHandle);
        return -1;
    }
    return static_cast<int>(d->menu.size());
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    HOST_API(nullptr)
    if (!lpPaint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    RECT client{};
    if (!GetClientRect(hWnd, &client)) return nullptr;
    std::lock_guard lock(S().mu);
    if (Dialog *d = FindDialog(hWnd)) d->invalid = false;
    *lpPaint = PAINTSTRUCT{};
    // One DC per window: the DC's value is the window's.
    lpPaint->hdc = reinterpret_cast<HDC>(hWnd);
    lpPaint->rcPaint = client;
    return lpPaint->hdc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT *) {
    host::fault::ApiScope hostApiScope_(__func__);
    return IsWindow(hWnd);
}

BOOL WINAPI DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
    HOST_API(FALSE)
    std::lock_guard lock(S().mu);
    Dialog *d = FindDialog(reinterpret_cast<HWND>(hDC));
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!hIcon) {
        SetLastError(kErrorInvalidIconHandle);
        return FALSE;
    }
    d->drewIcon = true;
    d->iconAt = POINT{X, Y};
    d->iconDrawn = hIcon;
    return TRUE;
}

int WINAPI GetSystemMetrics(int nIndex) {
    HOST_API(0)
    switch (nIndex) {
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    case 49:  // SM_CXSMICON
    case 50:  // SM_CYSMICON
        return 16;
    case 0:  // SM_CXSCREEN
        return 1024;
    case 1:  // SM_CYSCREEN
        return 768;
    default:
        return 0;
    }
}

namespace host {

bool LastDrawIcon(HWND hwnd, POINT *at, HICON *icon) {
    std::lock_guard lock(user::S().mu);
    user::Dialog *d = user::FindDialog(hwnd);
    if (!d || !d->drewIcon) return false;
    if (at) *at = d->iconAt;
    if (icon) *icon = d->iconDrawn;
    return true;
}

void ResetFrontendForTesting() { ui::SetFrontendForTesting(nullptr); }

void ResetWindowsForTesting() {
    std::lock_guard lock(user::S().mu);
    user::State &s = user::S();
    s.dialogs.clear();
    s.controls.clear();
    s.menus.clear();
    s.queues.clear();
    s.classes.clear();
    s.namedIcons.clear();
}

}  // namespace host
