// The About box opened from the welcome dialog's system menu.
#pragma once

#include "platform/afx/afxwin.h"
#include "res/resource.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    void DoDataExchange(CDataExchange *pDX) override;

    DECLARE_MESSAGE_MAP()
};
