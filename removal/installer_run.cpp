#include "removal/installer_run.h"

#include <string.h>

#include "app/globals.h"
#include "platform/win.h"

namespace {

const char kProgressValue[] = "progress";
const char kComplete[] = "complete";

const DWORD kProcessWaitSlice = 100;
const int kFlagAttempts = 180;
const DWORD kPauseBeforeRead = 100;
const DWORD kPauseAfterRead = 400;
const DWORD kPauseWithoutKey = 500;

// The folder of g_szSelfPath and the installer's name; FALSE when that
// would not fit, rather than start a cut name.
BOOL BuildInstallerPath(char *pszPath) {
    const char *pszSlash =
        reinterpret_cast<const char *>(_mbsrchr(reinterpret_cast<const unsigned char *>(g_szSelfPath), '\\'));
    size_t nDir = pszSlash ? static_cast<size_t>(pszSlash - g_szSelfPath) + 1 : 0;
    if (nDir + strlen(g_szInstaller) >= MAX_PATH) return FALSE;
    memcpy(pszPath, g_szSelfPath, nDir);
    strcpy(pszPath + nDir, g_szInstaller);
    return TRUE;
}

// Waits in slices until the process has ended: WAIT_OBJECT_0, or the
// failed wait's outcome.
DWORD AwaitProcess(HANDLE hProcess) {
    DWORD nWait;
    do {
        nWait = WaitForSingleObject(hProcess, kProcessWaitSlice);
    } while (nWait == WAIT_TIMEOUT);
    return nWait;
}

// One look at the flag. Data that does not end inside the buffer is no
// word at all.
bool FlagIsComplete(HKEY hKey) {
    char szValue[MAX_PATH];
    DWORD cbValue = MAX_PATH;
    LONG lResult = RegQueryValueExA(hKey, kProgressValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(szValue), &cbValue);
    if (lResult != ERROR_SUCCESS || memchr(szValue, '\0', cbValue) == nullptr) return false;
    return _mbsicmp(reinterpret_cast<const unsigned char *>(szValue),
                    reinterpret_cast<const unsigned char *>(kComplete)) == 0;
}

UPD_RESULT AwaitCompletionFlag() {
    for (int nAttempt = 0; nAttempt < kFlagAttempts; ++nAttempt) {
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
            Sleep(kPauseWithoutKey);
            continue;
        }
        Sleep(kPauseBeforeRead);
        bool bComplete = FlagIsComplete(hKey);
        RegCloseKey(hKey);
        if (bComplete) return UPD_OK;
        Sleep(kPauseAfterRead);
    }
    return IDS_INSTALL_UNSUCCESSFUL;
}

}  // namespace

UPD_RESULT RunNewInstaller() {
    char szInstaller[MAX_PATH];
    if (!BuildInstallerPath(szInstaller)) return IDS_INSTALL_NOT_POSSIBLE;
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(szInstaller, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return IDS_INSTALL_NOT_POSSIBLE;
    DWORD nWait = AwaitProcess(process.hProcess);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // The exit code is not looked at: the flag alone tells success.
    if (nWait != WAIT_OBJECT_0) return IDS_INSTALL_UNSUCCESSFUL;
    return AwaitCompletionFlag();
}
