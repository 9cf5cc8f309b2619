// zav-machine new --old-version, checked through the registry API and the
// machine's files, and zav-machine boot: the restart request, drive letters
// for the disk's partitions, and RunOnce as Windows runs it.
#include <gtest/gtest.h>
#include <stdlib.h>

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
    DWORD size = sizeof data, type = 0;
    LONG r = name ? RegQueryValueExA(hKey, name, nullptr, &type, reinterpret_cast<BYTE *>(data), &size) : 0;
    RegCloseKey(hKey);
    if (r != ERROR_SUCCESS) return "<missing>";
    if (!name) return "<key>";
    return type == REG_DWORD ? "dword" : std::string(data);
}

class ZavMachineBootTest : public ::testing::Test {
protected:
    test::RunResult Tool(const std::string &args) { return test::Run(kTool + " " + args + " 2>&1"); }
    void Use(const fs::path &dir) {
        setenv("ZAV_MACHINE", dir.c_str(), 1);
        host::ReloadMachine();
    }
    bool Exists(const std::string &windowsPath) { return fs::exists(host::HostPathFor(windowsPath)); }
    test::TestMachine machine_;  // a temporary folder; cases make their machines below it
};

// --- new --old-version ------------------------------------------------------

const char kWin[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const char kServices[] = "SYSTEM\\CurrentControlSet\\Services\\";

// One observable item of each piece (the first-phase test checks every
// entry the update removes).
struct Probe {
    const char *piece;
    HKEY root;
    std::string key;
    const char *name;  // nullptr: the key itself
};
const Probe kProbes[] = {
    {"windows", HKEY_LOCAL_MACHINE, std::string(kWin) + "Run", "SystemTray"},
    {"windows", HKEY_LOCAL_MACHINE, std::string(kWin) + "RunOnce", nullptr},  // the update opens, never creates it
    {"windows-9x", HKEY_LOCAL_MACHINE, std::string(kWin) + "RunServices", nullptr},
    {"windows-nt", HKEY_LOCAL_MACHINE, std::string(kWin) + "Explorer\\Shell Folders", "Common programs"},
    {"run", HKEY_LOCAL_MACHINE, std::string(kWin) + "Run", "Kicon"},
    {"runservices", HKEY_LOCAL_MACHINE, std::string(kWin) + "RunServices", "kdgwsvc"},
    {"services", HKEY_LOCAL_MACHINE, std::string(kServices) + "kdntflt\\Parameters\\Volumes", nullptr},
    {"uninstall", HKEY_LOCAL_MACHINE, std::string(kWin) + "Uninstall\\ZAV backup and restore program", nullptr},
    {"keldan", HKEY_LOCAL_MACHINE, "Software\\Keldan\\Install\\Components", nullptr},
};

TEST_F(ZavMachineBootTest, OldVersionPiecesPerSystem) {
    struct Case {
        const char *options;
        std::set<std::string> present;  // pieces whose probes must answer; all others must not
        std::set<std::string> files;    // the same for files: program-files, start-menu, installer
    };
    const std::set<std::string> kFiles = {"program-files", "start-menu", "installer"};
    const Case cases[] = {
        {"--os 98 --old-version", {"windows", "windows-9x", "run", "runservices", "uninstall", "keldan"}, kFiles},
        {"--os me --old-version --without runservices --without start-menu",
         {"windows", "windows-9x", "run", "uninstall", "keldan"}, {"program-files", "installer"}},
        {"--os nt4 --old-version --without run --without installer",
         {"windows", "windows-nt", "services", "uninstall", "keldan"}, {"program-files", "start-menu"}},
        {"--os 2000 --old-version --without keldan --without uninstall --without program-files --without services",
         {"windows", "windows-nt", "run"}, {"start-menu", "installer"}},
        {"--os 95", {"windows", "windows-9x"}, {}},  // Windows alone
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        fs::path dir = machine_.Dir() / std::to_string(&c - cases);
        auto made = Tool("new " + dir.string() + " " + c.options);
        ASSERT_EQ(made.status, 0) << made.out;
        Use(dir);
        for (const Probe &p : kProbes) {
            SCOPED_TRACE(p.key + (p.name ? std::string(" ") + p.name : ""));
            EXPECT_EQ(Reg(p.root, p.key, p.name) != "<missing>", c.present.count(p.piece) > 0);
        }
        std::string programs = Reg(HKEY_CURRENT_USER, std::string(kWin) + "Explorer\\Shell Folders", "Programs");
        EXPECT_TRUE(Exists(programs)) << programs;  // the Start menu itself is Windows'
        EXPECT_EQ(Exists(programs + "\\ZAV backup and restore\\ZAV backup and restore.lnk"),
                  c.files.count("start-menu") > 0);
        EXPECT_EQ(Exists("C:\\Program Files\\ZAV backup and restore\\KBACKUP.EXE"), c.files.count("program-files") > 0);
        EXPECT_EQ(Exists("C:\\UPDATE\\SETUP.EXE"), c.files.count("installer") > 0);
    }
}

// What version 1.0's values name is there: the second phase and the
// diskette builder follow them to folders and files.
TEST_F(ZavMachineBootTest, OldVersionEntriesNameWhatIsInstalled) {
    for (const char *os : {"98", "2000"}) {
        SCOPED_TRACE(os);
        fs::path dir = machine_.Dir() / os;
        ASSERT_EQ(Tool("new " + dir.string() + " --old-version --os " + os).status, 0);
        Use(dir);
        auto keldan = [](const char *key, const char *name) { return Reg(HKEY_LOCAL_MACHINE, key, name); };
        EXPECT_EQ(keldan("Software\\Keldan\\Info", "BuildNumber"), "4000");
        EXPECT_TRUE(fs::is_directory(host::HostPathFor(keldan("Software\\Keldan\\Info", "InstallPath"))));
        std::string dos = keldan("Software\\Keldan\\Info", "DosFiles");
        EXPECT_EQ(fs::file_size(host::HostPathFor(dos + "\\FL_BOOT.DAT")), 512u);
        EXPECT_TRUE(Exists(dos + "\\IO.SYS") && Exists(dos + "\\MSDOS.SYS") && Exists(dos + "\\COMMAND.COM"));
        std::string salvix = keldan("Software\\Keldan\\Salvix", "InstallPath");
        EXPECT_TRUE(Exists(salvix + "\\SLX_REST.EXE") && Exists(salvix + "\\DIAG\\VDG_INIT.EXE")) << salvix;
        // A start-up program is the path before any argument, quoted or not.
        for (std::string command : {Reg(HKEY_LOCAL_MACHINE, std::string(kWin) + "Run", "SalvSA"),
                                    Reg(HKEY_LOCAL_MACHINE, std::string(kWin) + "Run", "Kicon")}) {
            if (command[0] == '"') command = command.substr(1, command.find('"', 1) - 1);
            EXPECT_TRUE(Exists(command)) << command;
        }
    }
}

TEST_F(ZavMachineBootTest, BuildNumberAndBadOptions) {
    fs::path dir = machine_.Dir() / "build";
    ASSERT_EQ(Tool("new " + dir.string() + " --build 4077").status, 0);  // --build alone installs 1.0
    Use(dir);
    EXPECT_EQ(Reg(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "BuildNumber"), "4077");
    EXPECT_NE(Reg(HKEY_LOCAL_MACHINE, std::string(kWin) + "Run", "Kicon"), "<missing>");

    const char *bad[] = {
        "--old-version --without registry",  // no such piece
        "--without run",                     // nothing to leave out of
        "--build 40x7",
        "--build",
        "--build 4001 --without keldan",  // nowhere to keep the number
    };
    for (const char *options : bad) {
        SCOPED_TRACE(options);
        EXPECT_EQ(Tool("new " + (machine_.Dir() / "bad").string() + " " + options).status, 2);
        EXPECT_FALSE(fs::exists(machine_.Dir() / "bad"));
    }
}

TEST_F(ZavMachineBootTest, InstallerStandInRecordsItsRuns) {
    fs::path dir = machine_.Dir() / "m";
    ASSERT_EQ(Tool("new " + dir.string() + " --old-version").status, 0);
    EXPECT_EQ(Tool("run " + dir.string() + " 'C:\\UPDATE\\SETUP.EXE'").status, 0);
    EXPECT_EQ(Tool("run " + dir.string() + " 'C:\\UPDATE\\SETUP /quiet  x'").status, 0);
    std::ifstream log(dir / "installer.log");
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "SETUP.EXE ran with: \nSETUP.EXE ran with: /quiet  x\n");
}

// --- boot: restart and partitions ------------------------------------------

TEST_F(ZavMachineBootTest, RestartRequestIsConsumed) {
    for (const char *request : {"", "flags=2\nreason=0\n"}) {
        machine_.Create("2000");
        if (*request) std::ofstream(machine_.Dir() / "restart") << request;
        auto r = Tool("boot " + machine_.Dir().string());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(Lines(r.out)[0], *request ? "restart request cleared (flags=2)" : "cold boot") << r.out;
        EXPECT_FALSE(machine_.RestartRecorded());
    }
    EXPECT_EQ(Tool("boot " + (machine_.Dir() / "none").string()).status, 2);
}

TEST_F(ZavMachineBootTest, PartitionsGetLettersAfterTheOwnDrives) {
    struct Case {
        const char *why;
        const char *os;
        unsigned types[4];
        unsigned formatted;    // bit n: entry n holds a FAT volume labelled PARTn
        std::string sections;  // the machine's drives besides C:, and partition drives of an earlier start
        std::vector<std::string> out;
        std::string partitionDrives;  // letter and entry of each partition drive afterwards
    };
    const Case cases[] = {
        {"table order; hidden and foreign entries get no letter", "2000", {0x06, 0x1C, 0x83, 0x0E}, 0xB, "",
         {"mounted D: = partition 0 (type 06, label PART0)", "partition 1 (type 1c) not mounted: hidden",
          "partition 2 (type 83) not mounted: not FAT", "mounted E: = partition 3 (type 0e, label PART3)"},
         "D0 E3"},
        {"own drives keep their letters; the last start's partition drives go", "98", {0x00, 0x0B, 0x0C, 0x01}, 0xE,
         "[drive A]\nimage=a.img\n[drive D]\npath=cd\nkind=cdrom\n[drive F]\npath=net\nkind=remote\n"
         "[drive E]\nimage=disk.img\npartition=0\n[Drive Z]\nimage=disk.img\nPartition = 2\n",
         {"mounted E: = partition 1 (type 0b, label PART1)", "mounted G: = partition 2 (type 0c, label PART2)",
          "mounted H: = partition 3 (type 01, label PART3)"},
         "E1 G2 H3"},
        {"NT 4 reads no FAT32", "nt4", {0x0C, 0x06, 0x00, 0x0B}, 0xB, "",
         {"partition 0 (type 0c) not mounted: FAT32 on Windows NT 4", "mounted D: = partition 1 (type 06, label PART1)",
          "partition 3 (type 0b) not mounted: FAT32 on Windows NT 4"},
         "D1"},
        {"a FAT type without a volume still takes a letter", "2000", {0x06, 0x00, 0x00, 0x00}, 0, "",
         {"mounted D: = partition 0 (type 06, no volume: error 1005)"}, "D0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        machine_.Create(c.os, "");
        fs::path image = machine_.Dir() / "disk.img";
        std::string table = "label: dos\nunit: sectors\n";
        for (int i = 0; i < 4; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%d : start=%d, size=16384, type=%x\n", i + 1, 2048 + 16384 * i,
                          c.types[i]);
            if (c.types[i]) table += image.string() + line;
        }
        ASSERT_EQ(test::Run("truncate -s 34M " + image.string() + " && echo '" + table + "' | sfdisk -q " +
                            image.string() + " >/dev/null")
                      .status,
                  0);
        for (int i = 0; i < 4; ++i) {
            if (!(c.formatted >> i & 1)) continue;
            std::string start = std::to_string(2048 + 16384 * i);
            ASSERT_EQ(test::Run("mkfs.fat -n PART" + std::to_string(i) + " --offset " + start + " " + image.string() +
                                " 8192 >/dev/null 2>&1")
                          .status,
                      0);
        }
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[disk0]\nimage=disk.img\n" << c.sections;
        auto r = Tool("boot " + machine_.Dir().string());
        ASSERT_EQ(r.status, 0) << r.out;
        std::vector<std::string> out = Lines(r.out);
        EXPECT_EQ(std::vector<std::string>(out.begin() + 1, out.end() - 1), c.out) << r.out;
        host::ReloadMachine();
        std::string drives;
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (auto p = host::MachineSetting(std::string("drive ") + letter, "partition")) {
                drives += (drives.empty() ? "" : " ") + std::string(1, letter) + *p;
            }
        }
        EXPECT_EQ(drives, c.partitionDrives);
        if (c.sections.find("a.img") != std::string::npos) {
            EXPECT_EQ(host::MachineSetting("drive a", "image").value_or(""), "a.img");
        }
        // A second start finds the same: the file does not grow or change.
        std::string ini = test::Run("cat " + (machine_.Dir() / "machine.ini").string()).out;
        EXPECT_EQ(Tool("boot " + machine_.Dir().string()).out, r.out);
        EXPECT_EQ(test::Run("cat " + (machine_.Dir() / "machine.ini").string()).out, ini);
    }
}

// --- boot: RunOnce ---------------------------------------------------------

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

TEST_F(ZavMachineBootTest, RunOnceValuesRunOnceInOrderAfterTheirDeletion) {
    struct Value {
        const char *name;
        const char *command;  // nullptr: a REG_DWORD value
    };
    struct Case {
        const char *why;
        std::vector<Value> values;
        bool programExe;  // C:\Program.exe exists
        std::vector<std::string> out, ran;
        bool restartAfter;
    };
    const std::string kUnquoted = "C:\\Program Files\\UPD\\TOOL.EXE";
    const Case cases[] = {
        {"both forms of a path with spaces, in the order stored",
         {{"Second", "C:\\Program Files\\UPD\\TOOL.EXE Second  two"},
          {"First", "\"C:\\Program Files\\UPD\\TOOL.EXE\" First hide SETUP.EXE"}},
         false,
         {"RunOnce Second: C:\\Program Files\\UPD\\TOOL.EXE Second  two", "RunOnce Second: exit status 0",
          "RunOnce First: \"C:\\Program Files\\UPD\\TOOL.EXE\" First hide SETUP.EXE", "RunOnce First: exit status 0"},
         {"TOOL.EXE [Second  two] gone", "TOOL.EXE [First hide SETUP.EXE] gone"},
         false},
        {"C:\\Program.exe takes over the unquoted path only",
         {{"Quoted", "\"C:\\Program Files\\UPD\\TOOL.EXE\" Quoted hide SETUP.EXE"},
          {"Plain", "C:\\Program Files\\UPD\\TOOL.EXE Plain hide SETUP.EXE"}},
         true,
         {"RunOnce Quoted: \"C:\\Program Files\\UPD\\TOOL.EXE\" Quoted hide SETUP.EXE", "RunOnce Quoted: exit status 0",
          "RunOnce Plain: C:\\Program Files\\UPD\\TOOL.EXE Plain hide SETUP.EXE", "RunOnce Plain: exit status 0"},
         {"TOOL.EXE [Quoted hide SETUP.EXE] gone", "Program.exe [Files\\UPD\\TOOL.EXE Plain hide SETUP.EXE] gone"},
         false},
        {"a missing program is skipped and its value stays deleted; later values still run",
         {{"Broken", "C:\\NOWHERE\\X.EXE Broken"}, {"Number", nullptr}, {"Later", "C:\\UPD\\TOOL Later fail"}},
         false,
         {"RunOnce Broken: C:\\NOWHERE\\X.EXE Broken", "RunOnce Broken: no program found, skipped",
          "RunOnce Number: not a command (type 4), removed", "RunOnce Later: C:\\UPD\\TOOL Later fail",
          "RunOnce Later: exit status 3"},
         {"TOOL.EXE [Later fail] gone"},
         false},
        {"a restart asked for by a command stays asked for", {{"Up", "C:\\UPD\\TOOL.EXE Up restart"}}, false,
         {"RunOnce Up: C:\\UPD\\TOOL.EXE Up restart", "RunOnce Up: exit status 0"}, {"TOOL.EXE [Up restart] gone"},
         true},
        {"nothing to run", {}, false, {"RunOnce: nothing to run"}, {}, false},
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
        machine_.SetString(HKEY_LOCAL_MACHINE, kRunOnce, "Unrelated", "x");  // the key, also for a case without values
        for (const Value &v : c.values) {
            if (v.command) machine_.SetString(HKEY_LOCAL_MACHINE, kRunOnce, v.name, v.command);
            else machine_.SetBinary(HKEY_LOCAL_MACHINE, kRunOnce, v.name, REG_DWORD, std::string(4, '\1'));
        }
        HKEY hKey;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_ALL_ACCESS, &hKey), 0);
        RegDeleteValueA(hKey, "Unrelated");
        RegCloseKey(hKey);
        auto r = Tool("boot " + machine_.Dir().string());
        ASSERT_EQ(r.status, 0) << r.out;
        std::vector<std::string> out = Lines(r.out);
        EXPECT_EQ(std::vector<std::string>(out.begin() + 1, out.end()), c.out) << r.out;
        std::ifstream log(machine_.Dir() / "ran.log");
        EXPECT_EQ(Lines(std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>())), c.ran);
        for (const Value &v : c.values) EXPECT_EQ(Reg(HKEY_LOCAL_MACHINE, kRunOnce, v.name), "<missing>") << v.name;
        EXPECT_EQ(Reg(HKEY_LOCAL_MACHINE, kRunOnce, nullptr), "<key>");
        EXPECT_EQ(machine_.RestartRecorded(), c.restartAfter);
    }
}

}  // namespace
