// The second phase's worker: old folders, Start-menu folders and the
// maker's registry tree removed, the new installer run, the recovery
// programs refreshed; each finished step posted to the UI thread.
#pragma once

#include "platform/win.h"
#include "ui/result_codes.h"

// Thread message: wParam 0, lParam the step just finished (1 to 5).
#define WM_UPDATE_STEP 2023

// What the worker is started on; it only reads it.
struct SecondPhaseParams {
    int nService;        // 0: "noservice"
    DWORD nUiThreadId;   // where the steps are posted
    int nTypec;          // 1: "typec"
};

// The worker's thread procedure; ends with ExitThread and a result code.
DWORD WINAPI SecondPhaseThread(LPVOID pParams);
