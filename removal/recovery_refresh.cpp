#include "removal/recovery_refresh.h"

#include <stdio.h>
#include <string.h>

#include "app/globals.h"
#include "fileops/file_ops.h"
#include "platform/win.h"

namespace {

const char kInstallPathValue[] = "InstallPath";

// Failed attempts of both stages together.
const int kAttempts = 15;
const DWORD kPauseAfterFailure = 1000;
const DWORD kPauseBeforeRead = 200;

// The install path, once; FALSE when the key does not open or the value
// cannot be read as a string that ends inside the buffer.
BOOL ReadInstallPath(char *pszPath) {
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSalvixKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return FALSE;
    Sleep(kPauseBeforeRead);
    DWORD cbPath = MAX_PATH;
    LONG lResult = RegQueryValueExA(hKey, kInstallPathValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(pszPath), &cbPath);
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS && memchr(pszPath, '\0', cbPath) != nullptr;
}

// Both programs from the source folder; 116 when either copy fails,
// including a source too long for "\DIAG".
UPD_RESULT CopyBoth(const char *pszInstallPath, const char *pszTarget) {
    UPD_RESULT nResult = CopyOneFile(pszInstallPath, pszTarget, kRestoreProgram, kRestoreProgram);
    if (nResult != UPD_OK) return nResult;
    char szDiag[MAX_PATH];
    strcpy(szDiag, pszInstallPath);
    if (!AppendWithinPath(szDiag, kDiagFolder)) return IDS_FILES_NOT_REPLACED;
    return CopyOneFile(szDiag, pszTarget, kDiagnosticsProgram, kDiagnosticsProgram);
}

}  // namespace

UPD_RESULT RefreshRecoveryFiles(char chDrive) {
    int nFailures = 0;
    char szInstallPath[MAX_PATH];
    while (!ReadInstallPath(szInstallPath)) {
        Sleep(kPauseAfterFailure);
        if (++nFailures >= kAttempts) return IDS_INSTALL_UNSUCCESSFUL;
    }
    char szTarget[MAX_PATH];
    sprintf(szTarget, "%c:\\RECOVERY", chDrive);
    for (;;) {
        UPD_RESULT nResult = CopyBoth(szInstallPath, szTarget);
        if (nResult == UPD_OK) return UPD_OK;
        Sleep(kPauseAfterFailure);
        if (++nFailures >= kAttempts) return nResult;
    }
}
