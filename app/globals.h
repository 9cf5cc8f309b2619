// State of one run, written before any worker starts and read everywhere.
#pragma once

#include <stddef.h>

#include "platform/win.h"

// OS classes, the values of g_nOsType.
enum {
    OS_CLASS_9X = 0,    // Windows 95, 98, Me (platform ID 1)
    OS_CLASS_NT4 = 1,   // NT family with a major version other than 5
    OS_CLASS_2000 = 2,  // NT family version 5
};

inline bool IsNtClass(int nOsType) { return nOsType == OS_CLASS_NT4 || nOsType == OS_CLASS_2000; }

// Where the installed product keeps its state, under HKEY_LOCAL_MACHINE.
inline constexpr char kInfoKey[] = "Software\\Keldan\\Info";
inline constexpr char kSalvixKey[] = "Software\\Keldan\\Salvix";
inline constexpr char kInstallKey[] = "Software\\Keldan\\Install";
// The recovery programs of the installed product, as the service partition
// and the startup diskette carry them.
inline constexpr char kRestoreProgram[] = "SLX_REST.EXE";
inline constexpr char kDiagFolder[] = "\\DIAG";
inline constexpr char kDiagnosticsProgram[] = "VDG_INIT.EXE";

// One command-line token, and so the installer's name, holds at most 99 bytes.
const size_t kInstallerNameSize = 100;

extern int g_nOsType;
// The installer's bare file name from the command line.
extern char g_szInstaller[kInstallerNameSize];
// The program's own full path (briefly the installer's path while it is looked for).
extern char g_szSelfPath[MAX_PATH];
// The service partition's type byte without the hidden bit; 0 when none was found.
extern int g_nPartType;
// Set when the first phase changed the system, so that a restart must follow.
extern BOOL g_bRestart;
