// State of one run, written before any worker starts and read everywhere.
#pragma once

#include "platform/win.h"

// OS class: 0 Windows 9x, 1 NT 4 (NT, major version other than 5), 2 Windows 2000.
extern int g_nOsType;
// The installer's bare file name from the command line (one token, at most 99 bytes).
extern char g_szInstaller[100];
// The program's own full path (briefly the installer's path while it is looked for).
extern char g_szSelfPath[MAX_PATH];
// The service partition's type byte without the hidden bit; 0 when none was found.
extern int g_nPartType;
// Set when the first phase changed the system, so that a restart must follow.
extern BOOL g_bRestart;
