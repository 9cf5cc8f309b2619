// Dialogs: modal runs through DialogBoxParamA, modeless windows through
// CreateDialogParamA, both routed into message maps by one dialog procedure.
#include "platform/afx/afxwin.h"

namespace {

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd *wnd = CWnd::FromHandlePermanent(hWnd);
    if (message == WM_INITDIALOG && !wnd) {
        wnd = reinterpret_cast<CDialog *>(lParam);
        wnd->Attach(hWnd);
    }
    if (!wnd) return FALSE;
    BOOL handled = FALSE;
    LRESULT result = wnd->RouteMessage(message, wParam, lParam, &handled);
    // These two hand their result back directly; all others report whether
    // the message was handled, so that the dialog manager does the rest.
    if (message == WM_INITDIALOG || message == WM_QUERYDRAGICON) return handled ? result : FALSE;
    return handled;
}

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd *pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEA(nIDTemplate)), m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::CDialog() = default;

INT_PTR CDialog::DoModal() {
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    INT_PTR result = ::DialogBoxParamA(AfxGetResourceHandle(), m_lpszTemplateName, parent, AfxDlgProc,
                                       reinterpret_cast<LPARAM>(this));
    Detach();
    return result;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd *pParentWnd) {
    m_lpszTemplateName = MAKEINTRESOURCEA(nIDTemplate);
    m_nIDHelp = nIDTemplate;
    m_pParentWnd = pParentWnd;
    HWND parent = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    HWND hWnd = ::CreateDialogParamA(AfxGetResourceHandle(), m_lpszTemplateName, parent, AfxDlgProc,
                                     reinterpret_cast<LPARAM>(this));
    return hWnd != nullptr;
}

void CDialog::EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}
