// One attempt at a startup diskette: the prompt, then the worker under the
// wait dialog while this thread keeps its windows alive.
#include "diskette/diskette_dlg.h"

#include "app/update_app.h"
#include "diskette/diskette_thread.h"
#include "ui/dialog_cursor.h"

namespace {

const SIZE_T kWorkerStack = 1048576;
const DWORD kPumpSlice = 200;

void DrainMessageQueue() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Runs the worker to its end; its exit code is the attempt's result.
UPD_RESULT RunWorker(CDisketteWaitDlg &dlg) {
    DisketteParams params = {&dlg.m_bCancel};
    DWORD nThreadId = 0;
    HANDLE hThread = CreateThread(nullptr, kWorkerStack, DisketteThread, &params, 0, &nThreadId);
    if (!hThread) return IDS_THREAD_FAILED;
    dlg.ShowWindow(SW_SHOWNORMAL);
    do {
        DrainMessageQueue();
    } while (WaitForSingleObject(hThread, kPumpSlice) == WAIT_TIMEOUT);
    DWORD nExitCode = STILL_ACTIVE;
    if (!GetExitCodeThread(hThread, &nExitCode) || nExitCode == STILL_ACTIVE) {
        // The wait failed with the worker still running: it must not
        // outlive the flag and the block it reads.
        dlg.m_bCancel.store(1);
        WaitForSingleObject(hThread, INFINITE);
        if (!GetExitCodeThread(hThread, &nExitCode) || nExitCode == STILL_ACTIVE) nExitCode = IDS_THREAD_FAILED;
    }
    CloseHandle(hThread);
    return nExitCode;
}

}  // namespace

CDisketteDlg::CDisketteDlg(CWnd *pParent) : CDialog(IDD_DISKETTE, pParent) {}

CDisketteWaitDlg::CDisketteWaitDlg(CWnd *pParent) : CDialog(IDD_DISKETTE_WAIT, pParent) {
    Create(IDD_DISKETTE_WAIT, pParent);
    m_bCancel.store(0);
}

CDisketteWaitDlg::~CDisketteWaitDlg() = default;

BOOL CDisketteWaitDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDialogClassCursor(m_hWnd, IDC_APPSTARTING);
    return TRUE;
}

// The worker ends at its next check point; until then the dialog stays.
void CDisketteWaitDlg::OnCancel() { m_bCancel.store(1); }

BOOL CDisketteWaitDlg::DestroyWindow() {
    SetDialogClassCursor(m_hWnd, IDC_ARROW);
    return CDialog::DestroyWindow();
}

CDisketteRetryDlg::CDisketteRetryDlg(CWnd *pParent) : CDialog(IDD_DISKETTE_RETRY, pParent) {}

CDisketteRetryDlg::~CDisketteRetryDlg() = default;

void CDisketteRetryDlg::DoDataExchange(CDataExchange *pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_RETRY_TEXT, m_strMessage);
}

BOOL CDisketteRetryDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_strMessage = m_pszMessage;
    UpdateData(FALSE);
    return TRUE;
}

UPD_RESULT CUpdateApp::CreateStartupDiskette() {
    {
        CDisketteDlg dlgPrompt;
        if (dlgPrompt.DoModal() != IDOK) return IDS_USER_CANCELLED;
    }
    CDisketteWaitDlg dlgWait;
    UPD_RESULT nResult = RunWorker(dlgWait);
    dlgWait.DestroyWindow();
    return nResult;
}
