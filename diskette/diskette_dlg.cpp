#include "diskette/diskette_dlg.h"

#include "app/update_app.h"

CDisketteRetryDlg::CDisketteRetryDlg(CWnd *pParent) : CDialog(IDD_DISKETTE_RETRY, pParent) {}

BEGIN_MESSAGE_MAP(CDisketteRetryDlg, CDialog)
END_MESSAGE_MAP()

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

// Placeholder until the diskette builder lands: acts as if the user
// declined the prompt.
UPD_RESULT CUpdateApp::CreateStartupDiskette() { return IDS_USER_CANCELLED; }
