// The application object, the program entry and string loading.
#include <vector>

#include "platform/afx/afxwin.h"

namespace {
CWinApp *g_pApp = nullptr;
}

CWinApp::CWinApp(LPCSTR lpszAppName) {
    if (lpszAppName) m_appName = lpszAppName;
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }

void CWinApp::InitModule(LPCSTR lpCmdLine) {
    m_hInstance = ::GetModuleHandleA(nullptr);
    m_cmdLine = lpCmdLine ? lpCmdLine : "";
    m_lpCmdLine = m_cmdLine.c_str();
    char path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH - 1);
    std::string module(path, length);
    size_t slash = module.find_last_of('\\');
    std::string file = slash == std::string::npos ? module : module.substr(slash + 1);
    size_t dot = file.find_last_of('.');
    m_exeName = dot == std::string::npos ? file : file.substr(0, dot);
    // The help file sits beside the module with its extension changed.
    size_t ext = module.find_last_of('.');
    m_helpPath = (ext != std::string::npos && (slash == std::string::npos || ext > slash) ? module.substr(0, ext)
                                                                                           : module) + ".HLP";
    if (m_appName.empty()) m_appName = m_exeName;
    m_pszExeName = m_exeName.c_str();
    m_pszHelpFilePath = m_helpPath.c_str();
    m_pszAppName = m_appName.c_str();
}

CWinApp *AfxGetApp() { return g_pApp; }
HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleA(nullptr); }
HINSTANCE AfxGetResourceHandle() { return ::GetModuleHandleA(nullptr); }
HINSTANCE AfxFindResourceHandle(LPCSTR, LPCSTR) { return AfxGetResourceHandle(); }
void AfxEnableControlContainer() {}

int AfxWinMain(LPCSTR lpCmdLine) {
    CWinApp *app = AfxGetApp();
    if (!app) return -1;
    app->InitModule(lpCmdLine);
    // The user interface thread has its message queue before a worker can
    // post to it, as the framework's start-up gives it on Windows.
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    app->InitInstance();  // the program runs inside it; there is no main window to serve afterwards
    return app->ExitInstance();
}

BOOL CString::LoadString(UINT id) {
    std::vector<char> buffer(256);
    for (;;) {
        int length = ::LoadStringA(AfxGetResourceHandle(), id, buffer.data(), static_cast<int>(buffer.size()));
        // The loader never splits a character, so a text that filled the
        // buffer to within one character's bytes may have been cut.
        if (length + 4 < static_cast<int>(buffer.size()) || buffer.size() >= 65536) {
            m_str.assign(buffer.data(), static_cast<size_t>(length));
            return length > 0;
        }
        buffer.resize(buffer.size() * 2);
    }
}
