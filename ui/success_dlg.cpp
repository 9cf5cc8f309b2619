#include "ui/success_dlg.h"

#include "ui/messages.h"

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
        char szNote[kMessageBufferSize];
        LoadMessage(IDS_RESTART_FROM_FLOPPY, szNote);
        m_wndNote.SetWindowText(szNote);
    }
    return TRUE;
}
