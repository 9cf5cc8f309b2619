#include "removal/phase_two_dlg.h"

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

// The class cursor is shared by every dialog of the program: all of them
// show the wait cursor until DestroyWindow puts the arrow back.
BOOL CPhaseTwoDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    HCURSOR hWait = LoadCursorA(nullptr, IDC_WAIT);
    if (hWait) SetClassLongA(m_hWnd, GCL_HCURSOR, static_cast<LONG>(reinterpret_cast<LONG_PTR>(hWait)));
    return TRUE;
}

BOOL CPhaseTwoDlg::DestroyWindow() {
    HCURSOR hArrow = LoadCursorA(nullptr, IDC_ARROW);
    if (hArrow) SetClassLongA(m_hWnd, GCL_HCURSOR, static_cast<LONG>(reinterpret_cast<LONG_PTR>(hArrow)));
    return CDialog::DestroyWindow();
}
