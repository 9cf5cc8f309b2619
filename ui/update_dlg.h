// The welcome dialog of the first phase. Its OK handler is the first
// phase's work itself.
#pragma once

#include "platform/afx/afxwin.h"
#include "res/resource.h"

class CUpdateDlg : public CDialog {
public:
    explicit CUpdateDlg(CWnd *pParent = nullptr);

protected:
    HICON m_hAppIcon;

    void DoDataExchange(CDataExchange *pDX) override;
    BOOL OnInitDialog() override;
    // Unhides the service partition, removes the old registration and
    // schedules the second phase; ends the dialog with the result code.
    void OnOK() override;

    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();

    DECLARE_MESSAGE_MAP()
};
