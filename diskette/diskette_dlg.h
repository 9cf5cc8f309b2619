// The startup diskette's dialogs.
#pragma once

#include "platform/afx/afxwin.h"
#include "res/resource.h"

// Asks whether to try again after a failed attempt, showing its reason.
class CDisketteRetryDlg : public CDialog {
public:
    explicit CDisketteRetryDlg(CWnd *pParent = nullptr);

    // The reason to show; the caller owns the text.
    const char *m_pszMessage = nullptr;
    CString m_strMessage;

protected:
    void DoDataExchange(CDataExchange *pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};
