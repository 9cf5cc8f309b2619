// What the new version's installer does, through Win32 calls alone, so that
// the same installation runs on a sandbox machine and under Windows.
#pragma once

#include <string>

#include "platform/win.h"

// Sets a REG_SZ value, creating its key.
bool SetString(HKEY root, const char *key, const char *name, const std::string &value);
// The program folder with its programs (those whose path ends in `omit`
// left out), its DOS files from the package beside the installer, and a
// Start-menu shortcut.
bool InstallFiles(const std::string &omit);
// Software\Keldan as 1.1 keeps it; Salvix InstallPath only when asked.
bool RegisterKeys(bool salvixInstallPath);
