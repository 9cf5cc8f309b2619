// The application object: the single entry into the program's logic.
#pragma once

#include "platform/afx/afxwin.h"
#include "ui/result_codes.h"

class CUpdateApp : public CWinApp {
public:
    CUpdateApp();

    // Runs one whole phase; returns FALSE always, so the program ends here.
    BOOL InitInstance() override;

    // Shows the failure dialog for a result code, with or without the note
    // that the system will restart.
    void ShowFailure(UPD_RESULT nCode, int bShowRestartNote);
    // Runs the second phase's worker under its progress dialog.
    virtual UPD_RESULT RunSecondPhase(int nService, int nTypec);
    // Makes one attempt at a startup diskette in drive A.
    virtual UPD_RESULT CreateStartupDiskette();

private:
    BOOL LocateInstallerAndSelf();
    void RunFirstPhase();
    void RunSecondPhaseDriver(int nService, int nTypec);
    BOOL RunDisketteStage();

    DECLARE_MESSAGE_MAP()
};

extern CUpdateApp theApp;
