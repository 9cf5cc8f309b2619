// zav-machine: makes sandbox machines and runs Windows command lines in them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zm {

typedef std::vector<std::string> Args;

int CmdNew(const Args &args);
int CmdRun(const Args &args);
int CmdShow(const Args &args);

// Prints "zav-machine: <message>" to standard error and returns 2.
int Fail(const std::string &message);

// Points this process at the machine in `dir` (absolute ZAV_MACHINE).
bool UseMachine(const std::string &dir);

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

}  // namespace zm
