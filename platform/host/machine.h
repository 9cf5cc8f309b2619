// The sandbox machine the host program runs on: a folder named by
// ZAV_MACHINE that stands for one PC. Host-only; logic code never sees it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace host {

// The machine folder, or empty when ZAV_MACHINE is unset.
std::filesystem::path MachineDir();

// A value of machine.ini ("[section]" then "key=value" lines), if present.
std::optional<std::string> MachineSetting(const std::string &section, const std::string &key);

// True when the machine runs an NT-family system (platform ID 2).
bool MachineIsNt();

// The folder of drive `letter` ([drive X] path=), or empty when the machine
// has no such folder drive.
std::filesystem::path DriveFolder(char letter);

// The machine file that stands for a Windows path such as "C:\UPDATE\X.EXE":
// the drive's folder, then each component matched without regard to case
// (the last one may not exist yet and keeps its case). Empty when the path
// has no known drive, is relative, or is 260 bytes or longer.
std::filesystem::path HostPathFor(const std::string &windowsPath);

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
