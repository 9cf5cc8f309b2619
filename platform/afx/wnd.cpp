// Windows, message routing, menus, painting and dialog data exchange.
#include <map>
#include <memory>
#include <mutex>

#include "platform/afx/afxwin.h"

namespace {

std::recursive_mutex g_mapMutex;

std::map<HWND, CWnd *> &PermanentMap() {
    static std::map<HWND, CWnd *> map;
    return map;
}

// Objects made by FromHandle for windows the program never attached; they
// stay until the program ends, as MFC's temporary objects do until idle time.
struct TemporaryWindows {
    std::map<HWND, std::unique_ptr<CWnd>> windows;
    ~TemporaryWindows() {
        for (auto &entry : windows) entry.second->Detach();
    }
};

TemporaryWindows &Temporaries() {
    static TemporaryWindows temporaries;
    return temporaries;
}

}  // namespace

// --- CCmdTarget

const AFX_MSGMAP *PASCAL CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP *CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY *CCmdTarget::FindMessageEntry(UINT message, WPARAM wParam) const {
    UINT code = HIWORD(wParam), id = LOWORD(wParam);
    for (const AFX_MSGMAP *map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY *e = map->lpEntries; e->nMessage != 0; ++e) {
            if (e->nMessage != message) continue;
            if (message != WM_COMMAND) return e;
            if (e->nCode == code && id >= e->nID && id <= e->nLastID) return e;
        }
    }
    return nullptr;
}

// --- CWnd

CWnd::~CWnd() { Detach(); }

CWnd *PASCAL CWnd::FromHandlePermanent(HWND hWnd) {
    std::lock_guard<std::recursive_mutex> lock(g_mapMutex);
    auto it = PermanentMap().find(hWnd);
    return it == PermanentMap().end() ? nullptr : it->second;
}

CWnd *PASCAL CWnd::FromHandle(HWND hWnd) {
    if (!hWnd) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(g_mapMutex);
    if (CWnd *permanent = FromHandlePermanent(hWnd)) return permanent;
    auto &slot = Temporaries().windows[hWnd];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = hWnd;
    }
    return slot.get();
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd) return FALSE;
    std::lock_guard<std::recursive_mutex> lock(g_mapMutex);
    m_hWnd = hWnd;
    PermanentMap()[hWnd] = this;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (!hWnd) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(g_mapMutex);
    auto it = PermanentMap().find(hWnd);
    if (it != PermanentMap().end() && it->second == this) PermanentMap().erase(it);
    m_hWnd = nullptr;
    return hWnd;
}

void CWnd::SetWindowText(LPCSTR text) { ::SetWindowTextA(m_hWnd, text); }

void CWnd::GetWindowText(CString &rString) const {
    int length = ::GetWindowTextLengthA(m_hWnd);
    std::string buffer(static_cast<size_t>(length) + 1, '\0');
    ::GetWindowTextA(m_hWnd, buffer.data(), length + 1);
    rString = buffer.c_str();
}

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
void CWnd::GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
CWnd *CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}
CMenu *CWnd::GetSystemMenu(BOOL bRevert) const { return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert)); }
HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon, reinterpret_cast<LPARAM>(hIcon)));
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    BOOL result = ::DestroyWindow(m_hWnd);
    Detach();
    return result;
}

void CWnd::DoDataExchange(CDataExchange *) {}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const AFX_MSGMAP_ENTRY *entry = FindMessageEntry(message, wParam);
    return entry ? entry->pfn(this, wParam, lParam) : Default();
}

LRESULT CWnd::RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL *pHandled) {
    BOOL outer = m_bDefault;  // a handler may route a nested message to us
    m_bDefault = FALSE;
    LRESULT result = WindowProc(message, wParam, lParam);
    *pHandled = !m_bDefault;
    m_bDefault = outer;
    return result;
}

LRESULT CWnd::Default() {
    m_bDefault = TRUE;
    return 0;
}

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() {
    Default();
    return nullptr;
}

// --- CMenu

CMenu *PASCAL CMenu::FromHandle(HMENU hMenu) {
    if (!hMenu) return nullptr;
    static std::map<HMENU, std::unique_ptr<CMenu>> menus;
    std::lock_guard<std::recursive_mutex> lock(g_mapMutex);
    auto &slot = menus[hMenu];
    if (!slot) {
        slot = std::make_unique<CMenu>();
        slot->m_hMenu = hMenu;
    }
    return slot.get();
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCSTR lpszNewItem) {
    return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
}

// --- CPaintDC

CPaintDC::CPaintDC(CWnd *pWnd) : m_hWnd(pWnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

// --- Dialog data exchange

void DDX_Control(CDataExchange *pDX, int nIDC, CWnd &rControl) {
    if (rControl.m_hWnd == nullptr) rControl.Attach(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC));
}

void DDX_Text(CDataExchange *pDX, int nIDC, CString &value) {
    HWND control = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (!control) return;  // no such control: nothing to exchange, the value stays
    if (pDX->m_bSaveAndValidate) {
        CWnd::FromHandle(control)->GetWindowText(value);
    } else {
        ::SetWindowTextA(control, value);
    }
}
