// The startup diskette's dialogs: the prompt, the wait dialog with its
// cancel flag, and the retry question.
#pragma once

#include "fileops/file_ops.h"
#include "platform/afx/afxwin.h"
#include "res/resource.h"

// Asks for a blank diskette in drive A: OK or Cancel.
class CDisketteDlg : public CDialog {
public:
    explicit CDisketteDlg(CWnd *pParent = nullptr);
};

// Shown while the worker builds the diskette; its Cancel only raises the
// flag, and the dialog stays until the worker has seen it.
class CDisketteWaitDlg : public CDialog {
public:
    // Creates the modeless window at once (visible by its template).
    explicit CDisketteWaitDlg(CWnd *pParent = nullptr);
    ~CDisketteWaitDlg() override;
    // Puts the arrow cursor back, then destroys the window.
    BOOL DestroyWindow() override;

    // 1 once the user has cancelled; read by the worker at each check.
    CancelFlag m_bCancel;

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
};

// Asks whether to try again after a failed attempt, showing its reason.
class CDisketteRetryDlg : public CDialog {
public:
    explicit CDisketteRetryDlg(CWnd *pParent = nullptr);
    ~CDisketteRetryDlg() override;

    // The reason to show; the caller owns the text.
    const char *m_pszMessage = nullptr;
    CString m_strMessage;

protected:
    void DoDataExchange(CDataExchange *pDX) override;
    BOOL OnInitDialog() override;
};
