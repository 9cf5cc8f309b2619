// The diskette builder: the worker thread that turns the diskette in drive
// A into a DOS startup diskette.
#pragma once

#include "fileops/file_ops.h"
#include "platform/win.h"

// What the worker is started on; it only reads it.
struct DisketteParams {
    const CancelFlag *pCancel;  // the wait dialog's m_bCancel
};

// The files copied after the boot sector, in order; ends with a null entry.
extern const char *const g_apszDisketteFiles[];

// Empties the diskette, writes its boot sector and clears its root
// directory, then copies the DOS files, the batch file (as AUTOEXEC.BAT),
// KCP.EXE and the recovery programs; polls the cancel flag between steps.
// Ends with ExitThread and a result code.
DWORD WINAPI DisketteThread(LPVOID pParams);
