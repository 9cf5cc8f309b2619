// The update driver: reads the command line, finds the installer beside the
// program, then runs the first phase (welcome dialog, first-phase work,
// restart) or the second phase (worker, diskette stage, re-hide,
// completion, restart) as a fixed sequence of dialogs and operations.
#include "app/update_app.h"

#include <string.h>

#include "app/command_line.h"
#include "app/globals.h"
#include "app/restart.h"
#include "diskette/diskette_dlg.h"
#include "partition/service_partition.h"
#include "ui/messages.h"
#include "ui/success_dlg.h"
#include "ui/update_dlg.h"

CUpdateApp theApp;

BEGIN_MESSAGE_MAP(CUpdateApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CUpdateApp::CUpdateApp() = default;

namespace {

// Cuts `pszPath` after its last backslash and appends `pszName` and
// `pszSuffix`. FALSE, with the buffer untouched, when the result would not
// fit in MAX_PATH bytes: such a path cannot exist, and a cut one could
// name another file.
BOOL ReplaceFileName(char *pszPath, const char *pszName, const char *pszSuffix) {
    const char *pszSlash = reinterpret_cast<const char *>(
        _mbsrchr(reinterpret_cast<const unsigned char *>(pszPath), '\\'));
    size_t nDir = pszSlash ? static_cast<size_t>(pszSlash - pszPath) + 1 : 0;
    if (nDir + strlen(pszName) + strlen(pszSuffix) >= MAX_PATH) return FALSE;
    pszPath[nDir] = '\0';
    strcat(pszPath, pszName);
    strcat(pszPath, pszSuffix);
    return TRUE;
}

void ShowCompletion(int nNoteMode) {
    CSuccessDlg dlg;
    dlg.m_nNoteMode = nNoteMode;
    dlg.DoModal();
}

}  // namespace

// The installer must lie in the program's own folder; afterwards
// g_szSelfPath holds the program's path for the RunOnce command.
BOOL CUpdateApp::LocateInstallerAndSelf() {
    if (strlen(m_pszHelpFilePath) >= MAX_PATH) return FALSE;
    strcpy(g_szSelfPath, m_pszHelpFilePath);
    if (!ReplaceFileName(g_szSelfPath, g_szInstaller, "")) return FALSE;
    // An installation program is a file: "." or ".." name the folder itself.
    DWORD nAttributes = GetFileAttributesA(g_szSelfPath);
    if (nAttributes == INVALID_FILE_ATTRIBUTES || (nAttributes & FILE_ATTRIBUTE_DIRECTORY)) return FALSE;
    return ReplaceFileName(g_szSelfPath, m_pszExeName, ".EXE");
}

BOOL CUpdateApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();

    int nMode, nService, nTypec;
    UPD_RESULT nResult = ParseCommandLine(m_lpCmdLine, &nMode, &nService, &nTypec);
    if (nResult != UPD_OK) {
        ShowFailure(nResult, 0);
        return FALSE;
    }
    if (!LocateInstallerAndSelf()) {
        ShowFailure(IDS_INSTALLER_NOT_FOUND, 0);
        return FALSE;
    }
    if (nMode == MODE_UNHIDE) {
        RunFirstPhase();
    } else {
        RunSecondPhaseDriver(nService, nTypec);
    }
    return FALSE;
}

void CUpdateApp::RunFirstPhase() {
    CUpdateDlg dlg;
    UPD_RESULT nResult = static_cast<UPD_RESULT>(dlg.DoModal());
    if (nResult == IDCANCEL) {
        // The user left: nothing was changed.
    } else if (nResult == IDS_OLD_VERSION_ABSENT) {
        // Nothing of version 1.0 exists: install the new version right away.
        UPD_RESULT nInstall = RunSecondPhase(0, 0);
        if (nInstall == UPD_OK) {
            ShowCompletion(NOTE_NONE);
        } else {
            ShowFailure(nInstall, g_bRestart);
        }
    } else if (nResult != UPD_OK) {
        ShowFailure(nResult, g_bRestart);
    }
    if (g_bRestart) RestartSystem(g_nOsType);
}

void CUpdateApp::RunSecondPhaseDriver(int nService, int nTypec) {
    BOOL bRestart = TRUE;
    int nNoteMode = NOTE_RESTART;
    UPD_RESULT nPhaseResult = RunSecondPhase(nService, nTypec);
    if (nPhaseResult != UPD_OK) ShowFailure(nPhaseResult, 1);

    BOOL bDiskette = FALSE;
    if (nTypec && g_nOsType == OS_CLASS_NT4) bDiskette = RunDisketteStage();
    if (bDiskette) {
        // The partition stays visible: the diskette finishes the update.
        nNoteMode = NOTE_DISKETTE;
    } else {
        int nPartType = 0;
        UPD_RESULT nHide = SetServicePartitionHidden(g_nOsType, 1, &nPartType);
        if (nHide == IDS_NO_SERVICE_PARTITION) {
            bRestart = FALSE;
        } else if (nHide != UPD_OK) {
            ShowFailure(nHide, 1);
            RestartSystem(g_nOsType);
            return;
        }
    }
    if (nPhaseResult == UPD_OK) ShowCompletion(nNoteMode);
    if (bRestart) RestartSystem(g_nOsType);
}

// Attempts a startup diskette until one is made, the user cancels, or the
// user declines to try again. TRUE when a diskette was made.
BOOL CUpdateApp::RunDisketteStage() {
    for (;;) {
        UPD_RESULT nResult = CreateStartupDiskette();
        if (nResult == UPD_OK) return TRUE;
        if (nResult == IDS_USER_CANCELLED) return FALSE;
        char szMessage[kMessageBufferSize];
        LoadMessage(nResult, szMessage);
        CDisketteRetryDlg dlg;
        dlg.m_pszMessage = szMessage;
        if (dlg.DoModal() == IDCANCEL) return FALSE;
    }
}
