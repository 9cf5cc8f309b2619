// A throw-away sandbox machine for one test: its folder, machine.ini, a C:
// drive and registry helpers. ZAV_MACHINE points at it while it lives.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/win.h"

namespace test {

class TestMachine {
public:
    TestMachine();
    ~TestMachine();
    TestMachine(const TestMachine &) = delete;
    TestMachine &operator=(const TestMachine &) = delete;

    // (Re)creates the machine empty: `os` is 95, 98, me, nt4 or 2000;
    // `extraMachineLines` go into machine.ini's [machine] section.
    void Create(const std::string &os, const std::string &extraMachineLines = "");

    // (Re)creates the machine with `zav-machine new` and the given options.
    void CreateWithTool(const std::string &options);

    std::filesystem::path Dir() const { return dir_; }
    std::filesystem::path DriveC() const { return dir_ / "drives" / "C"; }
    // Adds drive A with a diskette of `kind` (host::diskette::Make) in
    // floppy.img; returns the image's path.
    std::filesystem::path InsertDiskette(const std::string &kind);
    // Writes a file at a Windows path of drive C: ("C:\\UPDATE\\SETUP.EXE").
    void WriteFile(const std::string &windowsPath, const std::string &content = "x");

    void SetString(HKEY root, const std::string &key, const std::string &name, const std::string &value);
    void SetBinary(HKEY root, const std::string &key, const std::string &name, DWORD type, const std::string &data);
    // True when a restart request was recorded; its flags in *flags.
    bool RestartRecorded(unsigned *flags = nullptr) const;

private:
    std::filesystem::path dir_;
};

// The whole content of a host file; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path &file);

// A REGEDIT4 file as a set of "[KEY]" and "[KEY]\"name\"=data" entries,
// continued hex data joined.
std::set<std::string> RegistryEntries(const std::filesystem::path &file);

// Runs a command with the given environment additions; returns its exit
// status and standard output.
struct RunResult {
    int status;
    std::string out;
};
RunResult Run(const std::string &command);

}  // namespace test
