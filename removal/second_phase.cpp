// The second phase: RunSecondPhase starts the worker and keeps the UI
// thread's messages flowing under the progress dialog until it ends.
#include "removal/second_phase.h"

#include <string.h>

#include "app/globals.h"
#include "app/update_app.h"
#include "fileops/file_ops.h"
#include "partition/service_partition.h"
#include "removal/installer_run.h"
#include "removal/phase_two_dlg.h"
#include "removal/recovery_refresh.h"
#include "removal/registry_cleanup.h"

namespace {

const SIZE_T kWorkerStack = 1048576;
const DWORD kPumpSlice = 200;
const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kStartMenuFolder[] = "\\ZAV backup and restore";

void PostStep(const SecondPhaseParams &params, int nStep) {
    PostThreadMessageA(params.nUiThreadId, WM_UPDATE_STEP, 0, nStep);  // the result is not looked at
}

// The installation folder names a folder below a drive's root: "C:\ZAV".
// A root ("C:", "C:\"), a relative path or an empty value would empty a
// whole drive or some unknown folder, so it counts as nothing to delete.
// "." and ".." components could lead back up to the root.
bool IsFolderBelowARoot(const char *pszFolder) {
    size_t n = strlen(pszFolder);
    if (n <= 3 || pszFolder[1] != ':' || pszFolder[2] != '\\' || strspn(pszFolder + 3, "\\") == n - 3) return false;
    for (const char *p = pszFolder + 2; p; p = strchr(p + 1, '\\')) {
        size_t nPart = strcspn(p + 1, "\\");
        if ((nPart == 1 && p[1] == '.') || (nPart == 2 && p[1] == '.' && p[2] == '.')) return false;
    }
    return true;
}

// A Start-menu programs folder from the registry, with the product's
// folder appended: empty when the value cannot be read, or when the name
// would not fit its buffer.
bool StartMenuFolder(HKEY hRoot, const char *pszValue, char *pszFolder) {
    if (ReadRegistryString(hRoot, kShellFolders, pszValue, pszFolder) != ERROR_SUCCESS) return false;
    if (strlen(pszFolder) + strlen(kStartMenuFolder) >= MAX_PATH) return false;
    strcat(pszFolder, kStartMenuFolder);
    return true;
}

UPD_RESULT RunWorker(const SecondPhaseParams &params) {
    char szFolder[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, kInfoKey, "InstallPath", szFolder);  // missing: nothing to delete
    bool bPartitionWork = params.nService && !(g_nOsType == OS_CLASS_NT4 && params.nTypec);
    char chDrive = 0;
    UPD_RESULT nResult;
    if (bPartitionWork && (nResult = FindServiceDrive(&chDrive)) != UPD_OK) return nResult;
    if (IsFolderBelowARoot(szFolder) && (nResult = DeleteDirectoryTree(szFolder, nullptr)) != UPD_OK) return nResult;
    PostStep(params, 1);

    if (IsNtClass(g_nOsType) && StartMenuFolder(HKEY_LOCAL_MACHINE, "Common programs", szFolder) &&
        (nResult = DeleteDirectoryTree(szFolder, nullptr)) != UPD_OK)
        return nResult;
    if (StartMenuFolder(HKEY_CURRENT_USER, "programs", szFolder) &&
        (nResult = DeleteDirectoryTree(szFolder, nullptr)) != UPD_OK)
        return nResult;
    PostStep(params, 2);

    if (DeleteRegistryKeys("Software", g_apszSoftwareKeys) == CLEANUP_FAILED) return IDS_MAKER_KEY_NOT_DELETED;
    PostStep(params, 3);

    if ((nResult = RunNewInstaller()) != UPD_OK) return nResult;
    PostStep(params, 4);
    if (bPartitionWork && (nResult = RefreshRecoveryFiles(chDrive)) != UPD_OK) return nResult;
    PostStep(params, 5);
    return UPD_OK;
}

// Greys the label of each finished step; every message is then handled as usual.
void PumpMessages(CPhaseTwoDlg &dlg) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_UPDATE_STEP && msg.lParam >= 1 && msg.lParam <= 6) {
            CWnd *pLabel = dlg.GetDlgItem(1000 + static_cast<int>(msg.lParam));
            if (pLabel) pLabel->EnableWindow(FALSE);
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

DWORD WINAPI SecondPhaseThread(LPVOID pParams) {
    ExitThread(RunWorker(*static_cast<const SecondPhaseParams *>(pParams)));
}

UPD_RESULT CUpdateApp::RunSecondPhase(int nService, int nTypec) {
    SecondPhaseParams params = {nService, GetCurrentThreadId(), nTypec};
    DWORD nThreadId = 0;
    HANDLE hThread = CreateThread(nullptr, kWorkerStack, SecondPhaseThread, &params, 0, &nThreadId);
    if (!hThread) return IDS_THREAD_FAILED;
    CPhaseTwoDlg dlg;
    do {
        PumpMessages(dlg);
    } while (WaitForSingleObject(hThread, kPumpSlice) == WAIT_TIMEOUT);
    // The last step is posted just before the worker ends: shown too.
    PumpMessages(dlg);
    DWORD nExitCode = STILL_ACTIVE;
    if (!GetExitCodeThread(hThread, &nExitCode) || nExitCode == STILL_ACTIVE) {
        // The wait failed with the worker still at work: the phase must not
        // go on (and its parameters go) before the worker has ended.
        WaitForSingleObject(hThread, INFINITE);
        PumpMessages(dlg);  // the steps it finished meanwhile
        if (!GetExitCodeThread(hThread, &nExitCode) || nExitCode == STILL_ACTIVE) nExitCode = IDS_THREAD_FAILED;
    }
    if (nExitCode != UPD_OK) ShowFailure(nExitCode, 0);
    CloseHandle(hThread);
    dlg.DestroyWindow();
    return nExitCode;
}
