// zav-machine new --old-version, checked through the registry API and the
// machine's files, and zav-machine boot: the restart request, drive letters
// for the disk's partitions, and RunOnce as Windows runs it.
#include <gtest/gtest.h>

#include <random>

#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "platform/host/machine/machine.h"
#include "platform/win.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(ZAV_BUILD_DIR) + "/zav-machine";

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A string value through the registry API; "<missing>" when there is none
// and "<key>" for a key asked for without a value name.
std::string Reg(HKEY root, const std::string &key, const char *name) {
    HKEY hKey;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return "<missing>";
    char data[MAX_PATH] = "";
    DWORD size = sizeof data;
    LONG r = name ? RegQueryValueExA(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE *>(data), &size) : 0;
    RegCloseKey(hKey);
    return r != ERROR_SUCCESS ? "<missing>" : name ? data : "<key>";
}

class ZavMachineBootTest : public ::testing::Test {
protected:
    test::RunResult Tool(const std::string &args) { return test::Run(kTool + " " + args + " 2>&1"); }
    bool Exists(const std::string &windowsPath) { return fs::exists(host::HostPathFor(windowsPath)); }
    test::TestMachine machine_;  // a temporary folder, remade by the cases that need a machine
};

// --- new --old-version ------------------------------------------------------

const char kWin[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const char kServices[] = "SYSTEM\\CurrentControlSet\\Services\\";

// One observable item of each piece (the first-phase test checks every
// entry the update removes; the second phase and the diskette builder
// follow 1.0's values to its files).
struct Probe { const char *piece; std::string key; const char *name; };  // in HKLM; name nullptr: the key itself
const Probe kProbes[] = {
    {"windows", std::string(kWin) + "Run", "SystemTray"},
    {"windows", std::string(kWin) + "RunOnce", nullptr},  // the update opens, never creates it
    {"windows-9x", std::string(kWin) + "RunServices", nullptr},
    {"windows-nt", std::string(kWin) + "Explorer\\Shell Folders", "Common programs"},
    {"run", std::string(kWin) + "Run", "Kicon"},
    {"runservices", std::string(kWin) + "RunServices", "kdgwsvc"},
    {"services", std::string(kServices) + "kdntflt\\Parameters\\Volumes", nullptr},
    {"uninstall", std::string(kWin) + "Uninstall\\ZAV backup and restore program", nullptr},
    {"keldan", "Software\\Keldan\\Install\\Components", nullptr},
};

TEST_F(ZavMachineBootTest, OldVersionPiecesPerSystem) {
    // present: the pieces whose probes must answer, all others must not; files: the same for files;
    // build: the BuildNumber written, nullptr: none.
    struct Case { const char *options; std::set<std::string> present, files; const char *build; };
    // Each piece is left out in one case and, where its system has it, present in the other (with
    // everything present, the first-phase and whole-update tests find all of it).
    const Case cases[] = {
        {"--os me --old-version --without runservices --without start-menu --without keldan --without program-files",
         {"windows", "windows-9x", "run", "uninstall"}, {"installer"}, nullptr},
        // --build alone installs version 1.0 with that build number.
        {"--os nt4 --build 4077 --without run --without installer --without uninstall --without services",
         {"windows", "windows-nt", "keldan"}, {"program-files", "start-menu"}, "4077"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        machine_.CreateWithTool(c.options);
        for (const Probe &p : kProbes) {
            SCOPED_TRACE(p.key + (p.name ? std::string(" ") + p.name : ""));
            EXPECT_EQ(Reg(HKEY_LOCAL_MACHINE, p.key, p.name) != "<missing>", c.present.count(p.piece) > 0);
        }
        if (c.build) { EXPECT_EQ(Reg(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "BuildNumber"), c.build); }
        std::string programs = Reg(HKEY_CURRENT_USER, std::string(kWin) + "Explorer\\Shell Folders", "Programs");
        EXPECT_TRUE(Exists(programs)) << programs;  // the Start menu itself is Windows'
        EXPECT_EQ(Exists(programs + "\\ZAV backup and restore\\ZAV backup and restore.lnk"),
                  c.files.count("start-menu") > 0);
        EXPECT_EQ(Exists("C:\\Program Files\\ZAV backup and restore\\KBACKUP.EXE"), c.files.count("program-files") > 0);
        EXPECT_EQ(Exists("C:\\UPDATE\\SETUP.EXE"), c.files.count("installer") > 0);
    }
}

TEST_F(ZavMachineBootTest, BadOptionsMakeNothing) {
    // No such piece, nothing to leave out of, bad numbers, nowhere to keep the number.
    // Mended: an installer name is a bare file name, and never one of new's own files.
    // No such disk kind, too small for FAT32, nothing to hide, no such entry, no disk.
    for (const char *options : {"--old-version --without registry", "--without run", "--build 40x7", "--build",
                                "--build 2147483648", "--build 4001 --without keldan", "--installer SUB/DIR/X.EXE",
                                "--installer ..", "--installer C:X.EXE", "--installer update.exe", "--service fat12",
                                "--service fat32 --disk-mb 20", "--hidden", "--service fat16 --service-entry 4",
                                "--service fat16 --disk-mb 0"}) {
        SCOPED_TRACE(options);
        EXPECT_EQ(Tool("new " + (machine_.Dir() / "bad").string() + " " + options).status, 2);
        EXPECT_FALSE(fs::exists(machine_.Dir() / "bad"));
    }
    // Nor is a machine made in a folder that holds something already.
    fs::create_directory(machine_.Dir() / "bad");
    std::ofstream(machine_.Dir() / "bad" / "keep.txt") << "mine";
    EXPECT_EQ(Tool("new " + (machine_.Dir() / "bad").string()).status, 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(machine_.Dir() / "bad"), {}), 1);
    EXPECT_EQ(test::ReadBytes(machine_.Dir() / "bad" / "keep.txt"), "mine");
}

// --- boot: partitions -----------------------------------------------------

TEST_F(ZavMachineBootTest, PartitionsGetLettersAfterTheOwnDrives) {
    // types: as sfdisk takes them, "" for an empty entry; formatted: bit n, entry n holds a FAT volume labelled
    // PARTn; sections: the machine's drives besides C: and partition drives of an earlier start; partitionDrives:
    // the letter and entry of each partition drive afterwards. (NT 4 and FAT32: the first-phase test.)
    struct Case { const char *why, *os, *types[4]; unsigned formatted; std::string sections;
                  std::vector<std::string> out; std::string partitionDrives; };
    const Case cases[] = {
        {"table order; hidden and foreign entries get no letter, a FAT type without a volume does", "2000",
         {"6", "1c", "83", "e"}, 0xA, "",
         {"mounted D: = partition 0 (type 06, no volume: error 1005)", "partition 1 (type 1c) not mounted: hidden",
          "partition 2 (type 83) not mounted: not FAT", "mounted E: = partition 3 (type 0e, label PART3)"},
         "D0 E3 "},
        {"own drives keep their letters; the last start's partition drives go", "98", {"", "b", "c", "1"}, 0xE,
         "[drive A]\nimage=a.img\n[drive D]\npath=cd\nkind=cdrom\n[drive F]\npath=net\nkind=remote\n"
         "[drive E]\nimage=disk.img\npartition=0\n[Drive Z]\nimage=disk.img\nPartition = 2\n",
         {"mounted E: = partition 1 (type 0b, label PART1)", "mounted G: = partition 2 (type 0c, label PART2)",
          "mounted H: = partition 3 (type 01, label PART3)"},
         "E1 G2 H3 "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        machine_.Create(c.os, "");
        std::string image = (machine_.Dir() / "disk.img").string(), table = "label: dos\nunit: sectors\n", format;
        for (int i = 0; i < 4; ++i) {
            std::string start = std::to_string(2048 + 16384 * i);
            if (*c.types[i]) table += image + std::to_string(i + 1) + " : start=" + start + ", size=16384, type=" +
                                      c.types[i] + "\n";
            if (c.formatted >> i & 1) {
                format += " && mkfs.fat -n PART" + std::to_string(i) + " --offset " + start + " " + image + " 8192";
            }
        }
        ASSERT_EQ(test::Run("(truncate -s 34M " + image + " && echo '" + table + "' | sfdisk -q " + image + format +
                            ") >/dev/null 2>&1").status, 0);
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[disk0]\nimage=disk.img\n" << c.sections;
        auto r = Tool("boot " + machine_.Dir().string());
        ASSERT_EQ(r.status, 0) << r.out;
        std::vector<std::string> out = Lines(r.out);
        EXPECT_EQ(std::vector<std::string>(out.begin() + 1, out.end() - 1), c.out) << r.out;
        host::ReloadMachine();
        std::string drives;
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (auto p = host::MachineSetting(std::string("drive ") + letter, "partition")) drives += letter + *p + " ";
        }
        EXPECT_EQ(drives, c.partitionDrives);
        EXPECT_EQ(host::MachineSetting("drive a", "image").value_or("-"), c.sections.empty() ? "-" : "a.img");
        // A second start finds the same: the file does not grow or change.
        std::string ini = test::ReadBytes(machine_.Dir() / "machine.ini");
        EXPECT_EQ(Tool("boot " + machine_.Dir().string()).out, r.out);
        EXPECT_EQ(test::ReadBytes(machine_.Dir() / "machine.ini"), ini);
    }
}

// --- boot: the restart request and RunOnce -----------------------------------

// Logs its program name, its command line and whether the RunOnce value
// named by the command line's first word was still in the registry when it
// ran. A small registry is rewritten whole on every change, so registry.reg
// is current.
const char kLoggingProgram[] =
    "#!/bin/sh\n"
    "name=${1%% *}\n"
    "if grep -q \"^\\\"$name\\\"=\" \"$ZAV_MACHINE/registry.reg\"; then state=present; else state=gone; fi\n"
    "echo \"$(basename \"$0\") [$*] $state\" >> \"$ZAV_MACHINE/ran.log\"\n"
    "case \"$*\" in *restart*) echo flags=6 > \"$ZAV_MACHINE/restart\";; esac\n"
    "case \"$*\" in *fail*) exit 3;; esac\n"
    "exit 0\n";

TEST_F(ZavMachineBootTest, RestartRequestIsConsumedThenRunOnceValuesRunInOrderAfterTheirDeletion) {
    struct Value { const char *name, *command, *outcome; };  // command nullptr: a REG_DWORD value
    // programExe: C:\Program.exe exists; ran: what the programs logged; restartAfter: also one before the start.
    struct Case { const char *why; std::vector<Value> values; bool programExe; std::vector<std::string> ran;
                  bool restartAfter; };
    const Case cases[] = {
        // In the order stored; a restart asked for by a command stays asked for, even one that fails.
        {"a path with spaces, quoted or not; a missing program is skipped and its value stays deleted",
         {{"Second", "C:\\Program Files\\UPD\\TOOL.EXE Second  two", "exit status 0"},
          {"First", "\"C:\\Program Files\\UPD\\TOOL.EXE\" First hide SETUP.EXE", "exit status 0"},
          {"Later", "C:\\UPD\\TOOL Later fail restart", "exit status 3"},  // and the rest still run
          {"Broken", "C:\\NOWHERE\\X.EXE Broken", "no program found, skipped"},
          {"Number", nullptr, "not a command (type 4), removed"}},
         false, {"TOOL.EXE [Second  two] gone", "TOOL.EXE [First hide SETUP.EXE] gone",
                 "TOOL.EXE [Later fail restart] gone"}, true},
        {"C:\\Program.exe takes over the unquoted path only",
         {{"Quoted", "\"C:\\Program Files\\UPD\\TOOL.EXE\" Quoted", "exit status 0"},
          {"Plain", "C:\\Program Files\\UPD\\TOOL.EXE Plain", "exit status 0"}},
         true, {"TOOL.EXE [Quoted] gone", "Program.exe [Files\\UPD\\TOOL.EXE Plain] gone"}, false},
    };
    const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        machine_.Create("2000");
        for (const char *path : {"C:\\Program Files\\UPD\\TOOL.EXE", "C:\\UPD\\TOOL.EXE", "C:\\Program.exe"}) {
            if (std::string(path) == "C:\\Program.exe" && !c.programExe) continue;
            machine_.WriteFile(path, kLoggingProgram);
            fs::permissions(host::HostPathFor(path), fs::perms::owner_all);
        }
        std::vector<std::string> expected{c.restartAfter ? "restart request cleared (flags=2)" : "cold boot"};
        for (const Value &v : c.values) {
            if (v.command) machine_.SetString(HKEY_LOCAL_MACHINE, kRunOnce, v.name, v.command);
            else machine_.SetBinary(HKEY_LOCAL_MACHINE, kRunOnce, v.name, REG_DWORD, std::string(4, '\1'));
            if (v.command) expected.push_back(std::string("RunOnce ") + v.name + ": " + v.command);
            expected.push_back(std::string("RunOnce ") + v.name + ": " + v.outcome);
        }
        if (c.restartAfter) std::ofstream(machine_.Dir() / "restart") << "flags=2\nreason=0\n";
        auto r = Tool("boot " + machine_.Dir().string());
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(Lines(r.out), expected) << r.out;
        EXPECT_EQ(Lines(test::ReadBytes(machine_.Dir() / "ran.log")), c.ran);
        for (const Value &v : c.values) EXPECT_EQ(Reg(HKEY_LOCAL_MACHINE, kRunOnce, v.name), "<missing>") << v.name;
        EXPECT_EQ(Reg(HKEY_LOCAL_MACHINE, kRunOnce, nullptr), "<key>");
        unsigned flags = 0;
        EXPECT_EQ(machine_.RestartRecorded(&flags), c.restartAfter);
        if (c.restartAfter) { EXPECT_EQ(flags, 6u); }  // the command's own request
    }
}

// boot rewrites machine.ini as a new file, flushed, then renamed: killed at
// any moment, it leaves the old file or the new one, whole.
TEST_F(ZavMachineBootTest, KilledBootLeavesTheOldOrTheNewMachineIni) {
    machine_.CreateWithTool("--os 2000 --service fat32");
    const fs::path dir = machine_.Dir();
    const std::string before = test::ReadBytes(dir / "machine.ini");
    ASSERT_EQ(Tool("boot " + dir.string()).status, 0);
    const std::string after = test::ReadBytes(dir / "machine.ini");
    ASSERT_NE(before, after);
    std::mt19937 rng(7);
    for (int round = 0; round < 100; ++round) {
        std::ofstream(dir / "machine.ini", std::ios::binary | std::ios::trunc) << before;
        std::string delay = "0.00" + std::to_string(1 + rng() % 8);
        test::Run("timeout -s KILL " + delay + " " + kTool + " boot " + dir.string() + " >/dev/null 2>&1");
        std::string now = test::ReadBytes(dir / "machine.ini");
        ASSERT_TRUE(now == before || now == after) << "round " << round << ":\n" << now;
    }
}

}  // namespace
