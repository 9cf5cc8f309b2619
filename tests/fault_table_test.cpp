// The fault table: each operation walked through every platform call it
// makes, each failed in turn (tests/fault_walk.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>

#include "app/command_line.h"
#include "app/restart.h"
#include "app/update_app.h"
#include "ui/about_dlg.h"
#include "ui/success_dlg.h"
#include "ui/update_dlg.h"
#include "diskette/diskette_area.h"
#include "diskette/diskette_dlg.h"
#include "diskette/diskette_thread.h"
#include "fileops/file_ops.h"
#include "partition/service_partition.h"
#include "platform/host/machine/diskette.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/machine.h"
#include "platform/host/user/internal.h"
#include "platform/host/registry/store.h"
#include "app/globals.h"
#include "removal/first_phase.h"
#include "tests/fault_walk.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

using namespace walk;
using FaultTableTest = FaultTableTestBase;

// A toggle walked on a machine made with `options`, the table's first
// sector put back before each run.
void WalkToggle(FaultTableTestBase &t, const std::string &options, const char *name, int nOsType, int bHide, Rows rows) {
    t.machine_.CreateWithTool(options);
    const std::string mbr = test::ReadBytes(t.Dir() / "disk.img").substr(0, 512);
    int nType;
    Walk({name, [&] { PutBytes(t.Dir() / "disk.img", mbr); },
          [&] { return SetServicePartitionHidden(nOsType, bHide, &nType); },
          [&] { return ChangedBytes(t.Dir() / "disk.img", mbr); }, ByRow(rows)});
}

TEST_F(FaultTableTest, PartitionToggles) {
    WalkToggle(*this, "--os 2000 --service fat32", "hide on 2000", OS_CLASS_2000, 1,
               {{{"CreateFileA", 1}, {IDS_PARTITION_TABLE_CORRUPT}},
                {{"ReadFile", 1}, {IDS_DISK_READ_FAILED}},            // the table
                {{"SetFilePointer", 1}, {IDS_NO_SERVICE_PARTITION}},  // to the entry's first sector
                {{"ReadFile", 2}, {IDS_NO_SERVICE_PARTITION}},
                {{"SetFilePointer", 2}, {IDS_PARTITION_UPDATE_FAILED}},  // back to 0
                {{"WriteFile", 1}, {IDS_PARTITION_UPDATE_FAILED}},
                {{"CloseHandle", 1}, {UPD_OK}}});
    // The library's own failures are its [int13] switches (the INT 13h
    // toggle's table in partition_image_test.cpp).
    WalkToggle(*this, "--os 98 --service fat32 --hidden", "unhide on 98", OS_CLASS_9X, 0,
               {{{"LoadLibraryA", 1}, {IDS_DLL_MISSING}},
                {{"GetProcAddress", 1}, {IDS_DLL_MISSING, true}},  // both are looked up, then checked
                {{"GetProcAddress", 2}, {IDS_DLL_MISSING}}});
}

TEST_F(FaultTableTest, ServiceDriveLookup) {
    machine_.CreateWithTool("--os 2000 --service fat32");
    ASSERT_EQ(test::Run(std::string(ZAV_BUILD_DIR) + "/zav-machine boot " + Dir().string() + " >/dev/null").status, 0);
    host::ReloadMachine();
    char chLetter = '?';
    // A drive that cannot be asked is passed over, so the lookup goes on
    // to the last letter and finds none.
    Walk({"service drive found", [] {}, [&] { return FindServiceDrive(&chLetter); }, Nothing,
          ByRow({{{"GetDriveTypeA", 1}, {IDS_SERVICE_CONTENTS_UNEXPECTED, true}},
                 {{"GetVolumeInformationA", 1}, {IDS_SERVICE_CONTENTS_UNEXPECTED, true}}})});
    EXPECT_EQ(chLetter, 'D');
}

TEST_F(FaultTableTest, FirstPhaseRegistry) {
    machine_.CreateWithTool("--os 2000 --service fat32 --hidden --old-version");
    Keep("registry.reg");
    const std::set<std::string> original = test::RegistryEntries(Dir() / "registry.reg");
    Walk({"old registration removed and the second phase scheduled",
          [&] { fs::remove(Dir() / "registry.reg"); Restore("registry.reg"); },
          [] { return RemoveOldRegistration(OS_CLASS_2000, TRUE); },
          [&] { host::RegistryCompact(); return Changes(original, test::RegistryEntries(Dir() / "registry.reg")); },
          // Services keys (opens 1 to 8), the Run values (open 9), the
          // uninstall entry (10, 11), then RunOnce (12). A key that does
          // not close is no failure.
          [](const std::string &api, unsigned n) -> Expect {
              if (api == "RegCloseKey") return {UPD_OK, true};
              if (api == "RegDeleteValueA" || (api == "RegOpenKeyExA" && n == 9)) return {IDS_REGISTRY_ACCESS_FAILED};
              if (api == "RegSetValueExA" || (api == "RegOpenKeyExA" && n == 12)) return {IDS_RUNONCE_FAILED};
              return {IDS_REGISTRY_KEYS_NOT_DELETED};
          }});
}

TEST_F(FaultTableTest, FileOperations) {
    machine_.Create("2000");
    Walk({"a folder tree removed",
          [&] {
              for (const char *p : {"C:\\OLD\\A.TXT", "C:\\OLD\\SUB\\B.TXT", "C:\\OLD\\SUB\\C.TXT"}) machine_.WriteFile(p);
              fs::permissions(machine_.DriveC() / "OLD/SUB/B.TXT", fs::perms::owner_write, fs::perm_options::remove);
          },
          [] { return DeleteDirectoryTree("C:\\OLD", nullptr); },
          [&] {
              std::set<std::string> gone;
              for (const char *p : {"OLD/A.TXT", "OLD/SUB/B.TXT", "OLD/SUB/C.TXT", "OLD/SUB", "OLD"})
                  if (!fs::exists(machine_.DriveC() / p)) gone.insert(p);
              return gone;
          },
          // A failed FindNextFileA ends a folder's listing early: the folder
          // keeps what was not listed and cannot be removed (134); its last
          // call per folder (7, 8) ends the listing anyway. A subfolder that
          // cannot be listed is left as it is, and so is its parent.
          [](const std::string &api, unsigned n) -> Expect {
              if (api == "FindFirstFileA") return n == 1 ? Expect{UPD_OK} : Expect{IDS_DISKETTE_UNUSABLE, true};
              if (api == "FindNextFileA") return {n >= 7 ? UPD_RESULT(UPD_OK) : UPD_RESULT(IDS_DISKETTE_UNUSABLE), true};
              if (api == "FindClose") return {UPD_OK, true};
              return {IDS_DISKETTE_UNUSABLE};  // DeleteFileA, SetFileAttributesA, RemoveDirectoryA
          }});
}

// Each mode of the diskette writer on a diskette of its own; only the boot
// sector's is read first.
TEST_F(FaultTableTest, DisketteArea) {
    for (char chMode : {'V', 'R'}) {
        machine_.Create("nt4");
        fs::path floppy = machine_.InsertDiskette("blank");
        std::string before = test::ReadBytes(floppy).substr(0, 32768);
        before.replace(19 * 512, 11, "OLD     TXT");  // an entry in the root directory
        std::string boot = before.substr(0, 512);  // the diskette's own format: a root directory to clear
        boot.replace(3, 8, "ZAVBOOT ");
        Rows rows = {{{"CreateFileA", 1}, {IDS_DISKETTE_UNUSABLE}}, {{"SetFilePointer", 1}, {IDS_DISKETTE_UNUSABLE}},
                     {{"WriteFile", 1}, {IDS_DISKETTE_UNUSABLE}}, {{"CloseHandle", 1}, {UPD_OK}}};
        if (chMode == 'V') rows[{"ReadFile", 1}] = {IDS_DISKETTE_UNUSABLE};
        Walk({chMode == 'V' ? "diskette boot sector" : "diskette root directory", [&] { PutBytes(floppy, before); },
              [&] { std::string image = boot; return WriteDisketteArea(reinterpret_cast<BYTE *>(image.data()), chMode); },
              [&] { return ChangedBytes(floppy, before); }, ByRow(rows)});
    }
}

// An NT 4 machine with a full diskette in drive A and the files a startup
// diskette is made of; returns what a build has changed on the diskette so
// far: old entries gone, new ones made, the boot sector written.
std::function<std::set<std::string>()> ArrangeStartupDiskette(FaultTableTestBase &t) {
    t.machine_.Create("nt4");
    fs::path floppy = t.machine_.InsertDiskette("full");
    t.Keep("floppy.img");
    std::string error, boot = host::diskette::BootSectorImage(t.Dir(), &error);
    EXPECT_EQ(boot.size(), 512u) << error;
    t.machine_.WriteFile("C:\\DOS\\FL_BOOT.DAT", boot);
    for (const char *path : {"C:\\DOS\\IO.SYS", "C:\\DOS\\MSDOS.SYS", "C:\\DOS\\COMMAND.COM", "C:\\UPDATE\\KAUTO.BAT",
                             "C:\\UPDATE\\KCP.EXE", "C:\\ZAV\\SLX_REST.EXE", "C:\\ZAV\\DIAG\\VDG_INIT.EXE"})
        t.machine_.WriteFile(path, path);
    t.machine_.SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "DosFiles", "C:\\DOS");
    t.machine_.SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Salvix", "InstallPath", "C:\\ZAV");
    std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
    auto names = [floppy] {
        std::set<std::string> out;
        for (const auto &e : host::fat::List({floppy, 0}, "").value_or(std::vector<host::fat::Entry>{})) out.insert(e.name);
        return out;
    };
    const std::string before = test::ReadBytes(floppy).substr(0, 512);
    return [floppy, names, before, old = names()] {
        std::set<std::string> out = Changes(old, names());
        if (test::ReadBytes(floppy).substr(0, 512) != before) out.insert("boot sector");
        return out;
    };
}

// One startup-diskette attempt under its dialogs, the prompt answered OK:
// the user interface thread's calls and the worker's. The worker's waits
// come in 200 ms slices, so their number varies; a failed wait still
// awaits the worker to its end.
TEST_F(FaultTableTest, StartupDisketteAttempt) {
    setenv("ZAV_FRONTEND", "noninteractive", 1);
    setenv("ZAV_ANSWERS", "133=ok", 1);
    setenv("LANG", "C", 1);
    auto done = ArrangeStartupDiskette(*this);
    Walk({"startup diskette attempt", [&] { Restore("floppy.img"); host::ResetFrontendForTesting(); },
          Quietly([] { return theApp.CreateStartupDiskette(); }), done,
          // The user interface thread's calls; the worker's own are the next
          // walk's. A failed wait cancels the worker, which ends at its next
          // check point (127) unless it was done already.
          [](const std::string &api, unsigned) -> Expect {
              if (api == "DialogBoxParamA") return {IDS_USER_CANCELLED};  // the prompt cannot be shown
              if (api == "CreateThread") return {IDS_THREAD_FAILED, true};  // the wait dialog still goes
              if (api == "WaitForSingleObject") return {IDS_USER_CANCELLED, true, UPD_OK};
              if (std::set<std::string>{"GetExitCodeThread", "GetModuleHandleA", "EndDialog", "CreateDialogParamA",
                                        "LoadCursorA", "SetClassLongA", "DestroyWindow"}.count(api))
                  return {UPD_OK, true};
              return kElsewhere;
          }});
}

// The diskette builder's worker: the diskette emptied, the DOS files and
// the installation folder read from the registry, the boot image read and
// written, the files copied. A failure stops the build with its step's
// code; a folder on the diskette that cannot be removed is 114, since the
// build can be cancelled, a file its mapped error.
TEST_F(FaultTableTest, DisketteWorker) {
    auto done = ArrangeStartupDiskette(*this);
    CancelFlag cancel{0};
    DisketteParams params{&cancel};
    Walk({"diskette builder", [&] { Restore("floppy.img"); },
          [&] { return static_cast<UPD_RESULT>(RunThread(DisketteThread, &params)); }, done,
          [](const std::string &api, unsigned n) -> Expect {
              if (api == "RegOpenKeyExA" || api == "RegQueryValueExA") return {IDS_REGISTRY_ACCESS_FAILED};
              if (api == "CreateFileA" || api == "ReadFile") return n == 1 ? Expect{IDS_DOS_FILES_MISSING} : Expect{IDS_DISKETTE_UNUSABLE};
              if (api == "SetFilePointer" || api == "WriteFile" || api == "DeleteFileA" || api == "SetFileAttributesA")
                  return {IDS_DISKETTE_UNUSABLE};  // mapped error 31
              if (api == "CopyFileA") return n <= 5 ? Expect{IDS_DOS_FILES_MISSING} : Expect{IDS_FILES_NOT_REPLACED};
              if (api == "RemoveDirectoryA") return {IDS_FILES_NOT_DELETED};
              if (api == "FindFirstFileA" || api == "FindNextFileA") return kElsewhere;  // the removal's own table
              return {UPD_OK, true};  // the closes
          }});
}

// The welcome dialog, cancelled, and a failure shown: a dialog that cannot
// be made ends as the framework's DoModal does (-1); what only decorates
// it (the icon, the About item) is passed over.
TEST_F(FaultTableTest, WelcomeAndFailureDialogs) {
    setenv("ZAV_FRONTEND", "noninteractive", 1);
    setenv("LANG", "C", 1);
    machine_.Create("2000");
    auto modal = [](UPD_RESULT ended) -> Expectation {
        return [ended](const std::string &api, unsigned) {
            return api == "DialogBoxParamA" ? Expect{UPD_RESULT(-1)} : Expect{ended, true};
        };
    };
    struct {
        const char *name, *answers;
        std::function<UPD_RESULT()> run;
        Expectation expect;
        UPD_RESULT clean = IDOK;  // the dialog's own result
    } const walks[] = {
        {"welcome, cancelled", "102=cancel", [] { return UPD_RESULT(CUpdateDlg().DoModal()); },
         // A dialog that does not end is the scripted user's affair
         // (TranscriptTest.DefaultButtonThatNeverEndsTheDialogIsGivenUpOn).
         [modal](const std::string &api, unsigned n) { return api == "EndDialog" ? kElsewhere : modal(IDCANCEL)(api, n); },
         IDCANCEL},
        {"failure shown", "", [] { theApp.ShowFailure(IDS_SERVICE_CONTENTS_UNEXPECTED, 1); return UPD_RESULT(0); },
         [](const std::string &, unsigned) { return Expect{0, true}; }, 0},
        {"completion shown", "", [] { CSuccessDlg dlg; dlg.m_nNoteMode = NOTE_DISKETTE; return UPD_RESULT(dlg.DoModal()); },
         modal(IDOK)},
        {"about box", "100=ok", [] { return UPD_RESULT(CAboutDlg().DoModal()); }, modal(IDOK)},
        // The retry question answered Yes: a reason that cannot be shown or
        // read back does not change the answer.
        {"retry question", "136=yes",
         [] { CDisketteRetryDlg dlg; dlg.m_pszMessage = "The diskette is not usable."; return UPD_RESULT(dlg.DoModal()); },
         modal(IDOK)},
    };
    for (const auto &w : walks)
        Walk({w.name, [&] { setenv("ZAV_ANSWERS", w.answers, 1); host::ResetFrontendForTesting(); }, Quietly(w.run), Nothing,
              w.expect, w.clean});
}

TEST_F(FaultTableTest, RestartAndCommandLine) {
    machine_.CreateWithTool("--os 2000 --old-version");
    Walk({"restart on 2000", [&] { fs::remove(Dir() / "restart"); },
          [] { return static_cast<UPD_RESULT>(RestartSystem(OS_CLASS_2000)); },
          [&] { return fs::exists(Dir() / "restart") ? std::set<std::string>{"restart"} : Nothing(); },
          // The privilege calls' results are not looked at (the privilege,
          // once enabled, stays so for the process); a refused restart
          // returns its error.
          ByRow({{{"OpenProcessToken", 1}, {UPD_OK, true}}, {{"LookupPrivilegeValueA", 1}, {UPD_OK, true}},
                 {{"AdjustTokenPrivileges", 1}, {UPD_OK, true}}, {{"ExitWindowsEx", 1}, {ERROR_GEN_FAILURE}}})});
    int nMode, nService, nTypec;
    Walk({"command line of the second phase", [] {},
          [&] { return ParseCommandLine("hide SETUP.EXE", &nMode, &nService, &nTypec); }, Nothing,
          // No build number to compare: go on.
          ByRow({{{"GetVersionExA", 1}, {IDS_VERSION_NOT_DETECTED}}, {{"RegOpenKeyExA", 1}, {UPD_OK}},
                 {{"RegQueryValueExA", 1}, {UPD_OK}}, {{"RegCloseKey", 1}, {UPD_OK}}})});
}

// Calls `found` with each file's text and each match of `pattern` in the
// sources below `folder`.
void EachMatch(const char *folder, const std::regex &pattern,
               const std::function<void(const std::string &, const std::smatch &)> &found) {
    for (const auto &entry : fs::recursive_directory_iterator(fs::path(ZAV_SOURCE_DIR) / folder)) {
        if (!entry.is_regular_file()) continue;
        std::string text = test::ReadBytes(entry.path());
        for (std::sregex_iterator m(text.begin(), text.end(), pattern), end; m != end; ++m) found(text, *m);
    }
}

// The host calls that can be made to fail: those whose body asks the fault
// rules, read from the host's sources.
std::set<std::string> FailableHostCalls() {
    std::set<std::string> out;
    const std::regex function(R"(WINAPI\s+(\w+)\s*\([^)]*\)\s*\{)");
    EachMatch("platform/host", function, [&](const std::string &text, const std::smatch &m) {
        size_t start = m.position() + m.length();
        // To its closing brace, or to the next function for a one-line body.
        std::string body = text.substr(start, std::min(text.find("\n}", start), text.find("WINAPI", start)) - start);
        if (body.find("HOST_") != std::string::npos || body.find(".Fault()") != std::string::npos) out.insert(m[1]);
    });
    return out;
}

// Those the program names in its own sources, the framework's included: a
// new call shows up here before anyone adds it to a walk.
std::set<std::string> ProgramCalls() {
    const std::set<std::string> failable = FailableHostCalls();
    std::set<std::string> out;
    for (const char *folder : {"app", "ui", "partition", "removal", "fileops", "diskette", "platform/afx"}) {
        EachMatch(folder, std::regex(R"(\b([A-Z]\w+)\s*\()"), [&](const std::string &, const std::smatch &m) {
            if (failable.count(m[1])) out.insert(m[1]);
        });
    }
    return out;
}

// Both ways: every failable call the program makes is failed by a walk (or
// cannot fail on Windows), and every call a walk fails is the program's.
TEST(FaultTableCoverage, EveryPlatformCallIsWalkedOrCannotFail) {
    const std::set<std::string> program = ProgramCalls();
    ASSERT_GT(program.size(), 50u) << "the sources were not read";
    std::set<std::string> walked(walk::kNeverFail);
    for (const auto &[name, calls] : walk::Coverage()) {
        walked.insert(calls.begin(), calls.end());
        for (const std::string &api : calls) EXPECT_TRUE(program.count(api)) << api << " (" << name << ") is not the program's";
    }
    for (const std::string &api : program) EXPECT_TRUE(walked.count(api)) << api << " is failed by no walk";
}

}  // namespace
