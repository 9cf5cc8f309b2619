#include "ui/success_dlg.h"

CSuccessDlg::CSuccessDlg(CWnd *pParent) : CDialog(IDD_SUCCESS, pParent) {}

BEGIN_MESSAGE_MAP(CSuccessDlg, CDialog)
END_MESSAGE_MAP()

void CSuccessDlg::DoDataExchange(CDataExchange *pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_COMPLETION_NOTE, m_wndNote);
}

BOOL CSuccessDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (m_nNoteMode == NOTE_NONE) {
        m_wndNote.ShowWindow(SW_HIDE);
    } else if (m_nNoteMode == NOTE_DISKETTE) {
        char szNote[1000];
        szNote[0] = '\0';
        LoadStringA(nullptr, IDS_RESTART_FROM_FLOPPY, szNote, 999);
        m_wndNote.SetWindowText(szNote);
    }
    return TRUE;
}
