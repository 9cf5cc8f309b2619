// A small application framework in the shape of MFC 4.2, written over the
// Win32 API of platform/win.h so that the same sources serve the host and a
// Windows build: application object, windows, dialogs with message maps and
// dialog data exchange, and a growable ANSI string.
#pragma once

#include <string>

#include "platform/win.h"

#define afx_msg
#ifndef PASCAL
#define PASCAL
#endif

class CCmdTarget;
class CWnd;

// --- Message maps: each entry carries a thunk that calls the handler on the
// right class with the arguments unpacked, so no member pointer is ever cast
// to a foreign type.
typedef LRESULT (*AFX_THUNK)(CCmdTarget *target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // 0 ends the table
    UINT nCode;     // notification code of WM_COMMAND
    UINT nID;       // first control ID of WM_COMMAND
    UINT nLastID;   // last control ID of WM_COMMAND
    AFX_THUNK pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP *(PASCAL *pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY *lpEntries;
};

#define DECLARE_MESSAGE_MAP()                          \
protected:                                             \
    static const AFX_MSGMAP *PASCAL GetThisMessageMap(); \
    const AFX_MSGMAP *GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                 \
    const AFX_MSGMAP *theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP *PASCAL theClass::GetThisMessageMap() {                   \
        using ThisClass [[maybe_unused]] = theClass;                           \
        typedef baseClass TheBaseClass;                                        \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                            \
    {0, 0, 0, 0, nullptr}                                                            \
    }                                                                                \
    ;                                                                                \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
    return &messageMap;                                                              \
    }

#define ON_COMMAND(id, memberFxn)                                                                         \
    {WM_COMMAND, 0, (UINT)(id), (UINT)(id), [](CCmdTarget *t, WPARAM, LPARAM) -> LRESULT {                \
         static_cast<ThisClass *>(t)->memberFxn();                                                        \
         return 0;                                                                                        \
     }},
#define ON_BN_CLICKED(id, memberFxn)                                                                      \
    {WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id), [](CCmdTarget *t, WPARAM, LPARAM) -> LRESULT {       \
         static_cast<ThisClass *>(t)->memberFxn();                                                        \
         return 0;                                                                                        \
     }},
#define ON_WM_SYSCOMMAND()                                                                                \
    {WM_SYSCOMMAND, 0, 0, 0, [](CCmdTarget *t, WPARAM w, LPARAM l) -> LRESULT {                           \
         static_cast<ThisClass *>(t)->OnSysCommand((UINT)w, l);                                           \
         return 0;                                                                                        \
     }},
#define ON_WM_PAINT()                                                                                     \
    {WM_PAINT, 0, 0, 0, [](CCmdTarget *t, WPARAM, LPARAM) -> LRESULT {                                    \
         static_cast<ThisClass *>(t)->OnPaint();                                                          \
         return 0;                                                                                        \
     }},
#define ON_WM_QUERYDRAGICON()                                                                             \
    {WM_QUERYDRAGICON, 0, 0, 0, [](CCmdTarget *t, WPARAM, LPARAM) -> LRESULT {                            \
         return (LRESULT) static_cast<ThisClass *>(t)->OnQueryDragIcon();                                 \
     }},

#define ID_HELP 0xE146

// --- A growable ANSI string.
class CString {
public:
    CString() = default;
    CString(LPCSTR text) : m_str(text ? text : "") {}
    CString &operator=(LPCSTR text) {
        m_str = text ? text : "";
        return *this;
    }
    operator LPCSTR() const { return m_str.c_str(); }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    // Loads string resource `id` of the program; FALSE when it has no text.
    BOOL LoadString(UINT id);
    CString &operator+=(LPCSTR text) {
        m_str += text ? text : "";
        return *this;
    }
    bool operator==(LPCSTR text) const { return m_str == (text ? text : ""); }

private:
    std::string m_str;
};

// --- Command targets and windows.
class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;

protected:
    static const AFX_MSGMAP *PASCAL GetThisMessageMap();
    virtual const AFX_MSGMAP *GetMessageMap() const;
    // Finds the handler for a message in this class's map chain.
    const AFX_MSGMAP_ENTRY *FindMessageEntry(UINT message, WPARAM wParam) const;
    friend class CWnd;
};

class CMenu {
public:
    HMENU m_hMenu = nullptr;
    static CMenu *PASCAL FromHandle(HMENU hMenu);
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr);
};

class CDataExchange {
public:
    CDataExchange(CWnd *pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd *m_pDlgWnd;
};

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd &) = delete;
    CWnd &operator=(const CWnd &) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The permanent object attached to a window, else a temporary one.
    static CWnd *PASCAL FromHandle(HWND hWnd);
    static CWnd *PASCAL FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWnd);
    HWND Detach();

    void SetWindowText(LPCSTR lpszString);
    void GetWindowText(CString &rString) const;
    BOOL ShowWindow(int nCmdShow);
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT lpRect) const;
    CWnd *GetDlgItem(int nID) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    CMenu *GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    virtual BOOL DestroyWindow();

    // Routes one message through the message maps; used by the dialog procedure.
    LRESULT RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL *pHandled);

protected:
    virtual void DoDataExchange(CDataExchange *pDX);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Leaves the current message to the system's default processing.
    LRESULT Default();

    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();

private:
    BOOL m_bDefault = FALSE;
};

class CStatic : public CWnd {};
class CButton : public CWnd {};

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    operator LPRECT() { return this; }
};

class CPaintDC {
public:
    explicit CPaintDC(CWnd *pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC &) = delete;
    CPaintDC &operator=(const CPaintDC &) = delete;
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }

    HDC m_hDC;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd *pParentWnd = nullptr);
    CDialog();

    virtual INT_PTR DoModal();
    // Creates the modeless window; TRUE when it exists.
    BOOL Create(UINT nIDTemplate, CWnd *pParentWnd = nullptr);
    void EndDialog(int nResult);
    virtual BOOL OnInitDialog();

protected:
    virtual void OnOK();
    virtual void OnCancel();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    LPCSTR m_lpszTemplateName = nullptr;
    UINT m_nIDHelp = 0;
    CWnd *m_pParentWnd = nullptr;

    DECLARE_MESSAGE_MAP()
};

void DDX_Control(CDataExchange *pDX, int nIDC, CWnd &rControl);
void DDX_Text(CDataExchange *pDX, int nIDC, CString &value);

// --- The application object.
class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    BOOL Enable3dControls() { return TRUE; }
    afx_msg void OnHelp() {}

    LPCSTR m_pszAppName = nullptr;
    LPCSTR m_pszExeName = nullptr;
    LPCSTR m_pszHelpFilePath = nullptr;
    LPCSTR m_lpCmdLine = nullptr;
    HINSTANCE m_hInstance = nullptr;

    // Fills the module's names and the command line, as the framework does
    // before InitInstance.
    void InitModule(LPCSTR lpCmdLine);

private:
    std::string m_exeName, m_helpPath, m_appName, m_cmdLine;
};

CWinApp *AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType);
void AfxEnableControlContainer();
// The framework's program entry: initialises the application and runs it.
int AfxWinMain(LPCSTR lpCmdLine);
