// The failure dialog: one result code's message under a fixed heading, with
// an optional note that the system will restart.
#pragma once

#include "platform/afx/afxwin.h"
#include "res/resource.h"

class CFailureDlg : public CDialog {
public:
    explicit CFailureDlg(CWnd *pParent = nullptr);

    CStatic m_wndRestartNote;
    CStatic m_wndMessage;
    // The message to show; the caller owns it and keeps it for the whole run.
    const char *m_pszMessage = nullptr;
    // 0 hides the restart note.
    int m_bShowRestartNote = 0;

protected:
    void DoDataExchange(CDataExchange *pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};
