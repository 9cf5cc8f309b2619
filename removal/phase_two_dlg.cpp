#include "removal/phase_two_dlg.h"

#include "ui/dialog_cursor.h"

CPhaseTwoDlg::CPhaseTwoDlg(CWnd *pParent) : CDialog(IDD_PHASE_TWO, pParent) { Create(IDD_PHASE_TWO, pParent); }

CPhaseTwoDlg::~CPhaseTwoDlg() = default;

BEGIN_MESSAGE_MAP(CPhaseTwoDlg, CDialog)
END_MESSAGE_MAP()

void CPhaseTwoDlg::DoDataExchange(CDataExchange *pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STEP_DONE, m_wndDone);
    DDX_Control(pDX, IDC_STEP_5, m_wndStep5);
    DDX_Control(pDX, IDC_STEP_4, m_wndStep4);
    DDX_Control(pDX, IDC_STEP_3, m_wndStep3);
    DDX_Control(pDX, IDC_STEP_2, m_wndStep2);
    DDX_Control(pDX, IDC_STEP_1, m_wndStep1);
}

// Every dialog shows the wait cursor until DestroyWindow puts the arrow back.
BOOL CPhaseTwoDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDialogClassCursor(m_hWnd, IDC_WAIT);
    return TRUE;
}

BOOL CPhaseTwoDlg::DestroyWindow() {
    SetDialogClassCursor(m_hWnd, IDC_ARROW);
    return CDialog::DestroyWindow();
}
