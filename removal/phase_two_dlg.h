// The second phase's progress dialog: one label per step, greyed as the
// step ends; the wait cursor while it exists.
#pragma once

#include "platform/afx/afxwin.h"
#include "res/resource.h"

class CPhaseTwoDlg : public CDialog {
public:
    // Creates the modeless window at once (visible by its template).
    explicit CPhaseTwoDlg(CWnd *pParent = nullptr);
    ~CPhaseTwoDlg() override;
    // Puts the arrow cursor back, then destroys the window.
    BOOL DestroyWindow() override;

protected:
    void DoDataExchange(CDataExchange *pDX) override;
    BOOL OnInitDialog() override;

    // In the order of control IDs 1006 down to 1001.
    CStatic m_wndDone, m_wndStep5, m_wndStep4, m_wndStep3, m_wndStep2, m_wndStep1;

    DECLARE_MESSAGE_MAP()
};
