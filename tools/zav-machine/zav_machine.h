// zav-machine: makes sandbox machines and runs Windows command lines in them.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace zm {

typedef std::vector<std::string> Args;

int CmdNew(const Args &args);
int CmdRun(const Args &args);
int CmdShow(const Args &args);
int CmdBoot(const Args &args);

// Prints "zav-machine: <message>" to standard error and returns 2.
int Fail(const std::string &message);

// Points this process at the machine in `dir` (absolute ZAV_MACHINE);
// empty, or why the folder is no machine that can run.
std::string UseMachine(const std::string &dir);

// The first hard disk of a new machine (disk.cpp).
struct DiskOptions {
    std::string service = "none";  // none, fat16, fat16-lba, fat32, fat32-lba
    bool hidden = false;
    int entry = 1;    // partition table entry of the service partition
    long diskMb = 0;  // 0: a size that fits the file system
};

// Takes args[*i] (and its value) when it is a disk option; *error is set
// when it is one but malformed.
bool ParseDiskOption(const Args &args, size_t *i, DiskOptions *options, std::string *error);
bool CheckDiskOptions(const DiskOptions &options, std::string *error);
// Makes dir/disk.img; *iniText receives the machine.ini sections for it.
bool BuildDisk(const std::filesystem::path &dir, const DiskOptions &options, std::string *iniText,
               std::string *error);

// Version 1.0 of the product on a new machine (old_version.cpp).
struct OldVersionOptions {
    bool install = false;         // --old-version (or --build)
    std::set<std::string> without;  // pieces left out
    std::string build = "4000";   // Keldan\Info BuildNumber
    bool buildGiven = false;
};

// Takes args[*i] (and its value) when it is an old-version option; *error
// is set when it is one but malformed.
bool ParseOldVersionOption(const Args &args, size_t *i, OldVersionOptions *options, std::string *error);
bool CheckOldVersionOptions(const OldVersionOptions &options, std::string *error);
// In the machine UseMachine() chose: the registry keys and folders Windows
// itself has, then version 1.0's entries and files as the options ask
// (its installer stand-in excepted).
bool InstallWindows(const std::string &os, const OldVersionOptions &options, std::string *error);

// Drive A's diskette, as `show` prints it (diskette.cpp).
void ShowDiskettes();
// Whether the diskette in `letter` is a DOS startup diskette: a boot sector
// and IO.SYS in its root.
bool StartupDisketteIn(char letter);

}  // namespace zm
