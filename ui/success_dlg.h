// The completion dialog, with no note, the restart note or the note to
// restart from the startup diskette.
#pragma once

#include "platform/afx/afxwin.h"
#include "res/resource.h"

// Note modes of CSuccessDlg; any other value acts as NOTE_RESTART.
enum {
    NOTE_NONE = 0,
    NOTE_RESTART = 1,
    NOTE_DISKETTE = 2,
};

class CSuccessDlg : public CDialog {
public:
    explicit CSuccessDlg(CWnd *pParent = nullptr);

    CStatic m_wndNote;
    int m_nNoteMode = NOTE_RESTART;

protected:
    void DoDataExchange(CDataExchange *pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};
