#include "ui/failure_dlg.h"

#include "app/update_app.h"
#include "ui/messages.h"

CFailureDlg::CFailureDlg(CWnd *pParent) : CDialog(IDD_FAILURE, pParent) {}

BEGIN_MESSAGE_MAP(CFailureDlg, CDialog)
END_MESSAGE_MAP()

void CFailureDlg::DoDataExchange(CDataExchange *pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_RESTART_NOTE, m_wndRestartNote);
    DDX_Control(pDX, IDC_FAILURE_TEXT, m_wndMessage);
}

BOOL CFailureDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_wndMessage.SetWindowText(m_pszMessage);
    if (m_bShowRestartNote == 0) m_wndRestartNote.ShowWindow(SW_HIDE);
    return TRUE;
}

void CUpdateApp::ShowFailure(UPD_RESULT nCode, int bShowRestartNote) {
    CFailureDlg dlg;
    char szMessage[kMessageBufferSize];
    LoadMessage(nCode, szMessage);
    dlg.m_bShowRestartNote = bShowRestartNote;
    dlg.m_pszMessage = szMessage;
    dlg.DoModal();
}
