// The sandbox machine the host program runs on: a folder named by
// ZAV_MACHINE that stands for one PC. Host-only; logic code never sees it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/host/win_kernel.h"

namespace host {

// The machine folder, or empty when ZAV_MACHINE is unset.
std::filesystem::path MachineDir();

// A value of machine.ini ("[section]" then "key=value" lines), if present.
std::optional<std::string> MachineSetting(const std::string &section, const std::string &key);

// The systems a machine can run, as GetVersionExA reports them.
struct OsVersion {
    const char *name;  // machine.ini's os=
    unsigned long platformId, major, minor, build;
};
inline constexpr OsVersion kSystems[] = {
    {"95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950},  {"98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998},
    {"me", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000}, {"nt4", VER_PLATFORM_WIN32_NT, 4, 0, 1381},
    {"2000", VER_PLATFORM_WIN32_NT, 5, 0, 2195},
};

// The machine's system ([machine] os=, any case; 2000 when not given), or
// null for a value that names none.
const OsVersion *MachineOs();

// Empty when machine.ini can be run; else a one-line error that names the
// file and what is wrong in it.
std::string CheckMachine();

// True when the machine runs an NT-family system (platform ID 2).
bool MachineIsNt();

// The folder of drive `letter` ([drive X] path=), or empty when the machine
// has no such folder drive.
std::filesystem::path DriveFolder(char letter);

// The machine file that stands for a Windows path such as "C:\UPDATE\X.EXE":
// the drive's folder, then each component matched without regard to case
// (the last one may not exist yet and keeps its case). Empty when the path
// has no known drive, is relative, is 260 bytes or longer, or leads out of
// the drive's folder through a symbolic link.
std::filesystem::path HostPathFor(const std::string &windowsPath);

// True when `file`, its symbolic links followed, is `dir` or lies in it.
bool LiesInside(const std::filesystem::path &file, const std::filesystem::path &dir);
// The Windows path of a host file that lies inside one of the machine's
// folder drives, or empty when it lies outside them.
std::string WindowsPathFor(const std::filesystem::path &hostPath);

// The running program's path as the machine sees it: its Windows path when
// the binary lies inside a folder drive, else the machine's install path
// ([machine] program=, default C:\UPDATE\UPDATE.EXE).
std::string ModuleWindowsPath();

// Forgets cached machine settings (tests that rewrite machine.ini).
void ReloadMachine();

}  // namespace host
