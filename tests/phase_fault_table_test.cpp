// The fault table of the phases' own work: the program's start, the second
// phase under its dialog and its worker, the installer run, and the
// minimised welcome dialog's icon; each failed call by call
// (tests/fault_walk.h).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "app/globals.h"
#include "app/update_app.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"
#include "platform/host/text/dialog_template.h"
#include "platform/host/user/internal.h"
#include "removal/installer_run.h"
#include "removal/second_phase.h"
#include "tests/fault_walk.h"
#include "ui/update_dlg.h"

namespace fs = std::filesystem;

namespace {

using namespace walk;

// A machine whose second phase can run: 1.0 installed, the service
// partition visible as D:, a snapshot to start each run from.
class PhaseFaultTest : public FaultTableTestBase {
protected:
    void SetUp() override {
        setenv("ZAV_FRONTEND", "noninteractive", 1);
        setenv("ZAV_ANSWERS", "", 1);
        setenv("LANG", "C", 1);
        machine_.CreateWithTool("--os 2000 --service fat32 --old-version");
        std::ofstream(Dir() / "machine.ini", std::ios::app) << "\n[drive D]\nimage=disk.img\npartition=1\n";
        snapshot_ = Dir().string() + ".snapshot";
        ASSERT_EQ(Shell("rm -rf '" + snapshot_.string() + "' && cp -a --sparse=always '" + Dir().string() + "' '" +
                        snapshot_.string() + "'"), 0);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue the worker posts its steps to
        g_nOsType = OS_CLASS_2000;
        std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
        std::strcpy(g_szInstaller, "SETUP.EXE");
    }
    void TearDown() override {
        FaultTableTestBase::TearDown();
        fs::remove_all(snapshot_);
    }
    static int Shell(const std::string &command) { return test::Run(command).status; }
    void Afresh() {
        // An installer whose wait failed still runs: it ends before its
        // files are put back.
        while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {}
        Shell("rm -rf '" + Dir().string() + "'/* && cp -a --sparse=always '" + snapshot_.string() + "'/. '" +
              Dir().string() + "'");
        host::ReloadMachine();
        host::ResetFrontendForTesting();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}  // the last run's step messages
    }
    std::set<std::string> Installed() const {
        return fs::exists(Dir() / "installer.log") ? std::set<std::string>{"installed"} : Nothing();
    }
    // The old folder gone, the installer run.
    std::set<std::string> SecondPhaseDone() const {
        std::set<std::string> out = Installed();
        if (!fs::exists(machine_.DriveC() / "Program Files/ZAV backup and restore/KICON.EXE")) out.insert("old folder gone");
        return out;
    }
    fs::path snapshot_;
};

// The second phase under its progress dialog: the user interface thread's
// calls and the worker's step messages (the worker's own work is the next
// walk's). The worker's waits and handles interleave with the user
// interface thread's, so only their first is walked.
TEST_F(PhaseFaultTest, SecondPhaseUnderItsDialog) {
    Walk({"second phase", [&] { Afresh(); }, Quietly([] { return theApp.RunSecondPhase(1, 0); }),
          [&] { return SecondPhaseDone(); },
          [](const std::string &api, unsigned n) -> Expect {
              if (api == "CreateThread") return {IDS_THREAD_FAILED};
              if (std::set<std::string>{"CreateDialogParamA", "LoadCursorA", "SetClassLongA", "GetExitCodeThread",
                                        "DestroyWindow", "PostThreadMessageA", "GetModuleHandleA"}.count(api) ||
                  (api == "WaitForSingleObject" && n == 1))
                  return {UPD_OK, true};
              return kElsewhere;
          }});
}

// The worker's steps in order: the old program folder (its install path
// read first), the Start-menu folders, the maker's registry tree, the
// installer, the recovery programs. A step that fails ends the worker with
// its result. A registry value that cannot be read is nothing to remove
// (opens 1 to 3); the maker's tree is opens 4 to 9; the installer's flag
// (10) and the install path of the recovery programs (11) are waited for,
// and so are the copies.
TEST_F(PhaseFaultTest, SecondPhaseWorker) {
    Walk({"second phase worker", [&] { Afresh(); },
          [] {
              SecondPhaseParams params{1, GetCurrentThreadId(), 0};
              return static_cast<UPD_RESULT>(RunThread(SecondPhaseThread, &params));
          },
          [&] { return SecondPhaseDone(); },
          [](const std::string &api, unsigned n) -> Expect {
              if (api == "RegOpenKeyExA") return n >= 4 && n <= 9 ? Expect{IDS_MAKER_KEY_NOT_DELETED} : Expect{UPD_OK, true};
              if (api == "RegEnumKeyExA" || api == "RegDeleteKeyA") return {IDS_MAKER_KEY_NOT_DELETED};
              if (api == "DeleteFileA" || api == "RemoveDirectoryA") return {IDS_DISKETTE_UNUSABLE};  // mapped error 31
              // The lookup goes on to the other letters and finds none.
              if (api == "GetDriveTypeA" || api == "GetVolumeInformationA") return {IDS_SERVICE_CONTENTS_UNEXPECTED, true};
              if (api == "CreateProcessA") return {IDS_INSTALL_NOT_POSSIBLE};
              if (api == "WaitForSingleObject") return n == 1 ? Expect{IDS_INSTALL_UNSUCCESSFUL} : kElsewhere;
              // A listing that fails is the tree removal's own table.
              if (api == "FindFirstFileA" || api == "FindNextFileA") return kElsewhere;
              return {UPD_OK, true};  // the closes, the step messages, the reads and the copies
          }});
}

// The installer started, awaited, and its flag awaited: a failed look at
// the flag is tried again. The process's waits come in slices of real
// time, so only the first is walked.
TEST_F(PhaseFaultTest, InstallerRun) {
    Walk({"installer run", [&] { Afresh(); }, [] { return RunNewInstaller(); }, [&] { return Installed(); },
          [](const std::string &api, unsigned n) -> Expect {
              if (api == "CreateProcessA") return {IDS_INSTALL_NOT_POSSIBLE};
              if (api == "WaitForSingleObject") return n == 1 ? Expect{IDS_INSTALL_UNSUCCESSFUL} : kElsewhere;
              return {UPD_OK, true};  // CloseHandle, RegOpenKeyExA, RegQueryValueExA, RegCloseKey
          }});
}

// The failure a run ended with, read from its dialogs' transcript: the
// failure dialog's message, 0 when none was shown.
UPD_RESULT ShownFailure(const std::string &transcript) {
    size_t at = transcript.find("=== dialog 131");
    if (at == std::string::npos) return 0;
    for (UINT nId = 100; nId < 140; ++nId) {
        char szText[1000];
        host::fault::HarnessScope harness;
        if (LoadStringA(nullptr, nId, szText, 999) > 0 &&
            transcript.find(std::string("text 1009: ") + szText + "\n", at) != std::string::npos)
            return static_cast<UPD_RESULT>(nId);
    }
    return UPD_RESULT(-1);
}

// The program's start up to the welcome dialog, which is cancelled: the
// module's names, the command line, the installed build, the installer
// beside the program.
TEST_F(PhaseFaultTest, ProgramStart) {
    Walk({"program start", [&] { Afresh(); setenv("ZAV_ANSWERS", "102=cancel", 1); },
          [] {
              theApp.InitModule("unhide SETUP.EXE");
              testing::internal::CaptureStdout();
              theApp.InitInstance();
              return ShownFailure(testing::internal::GetCapturedStdout());
          },
          Nothing,
          [](const std::string &api, unsigned n) -> Expect {
              if (api == "GetVersionExA") return {IDS_VERSION_NOT_DETECTED, true};  // shown, then the program ends
              // Without its own path the program cannot find the installer beside it.
              if (api == "GetFileAttributesA" || api == "GetModuleFileNameA") return {IDS_INSTALLER_NOT_FOUND, true};
              if (api == "RegOpenKeyExA" || api == "RegQueryValueExA" || api == "RegCloseKey") return {0, true};
              if (api == "GetModuleHandleA" && n == 1) return {0, true};  // the module handle is never read
              return kElsewhere;  // the welcome dialog's own walk
          }, 0});
}

// What only paints the minimised dialog's icon is not looked at.
TEST_F(PhaseFaultTest, MinimisedIcon) {
    struct ProbeDlg : CUpdateDlg {
        void Paint() { OnPaint(); }
    };
    host::DialogTemplate tpl;
    tpl.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    tpl.cx = 100;
    tpl.cy = 40;
    ProbeDlg dlg;
    testing::internal::CaptureStdout();  // the dialog's transcript
    {
        host::fault::HarnessScope harness;
        HWND hwnd = host::CreateDialogFromTemplate(tpl, 102, nullptr, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; },
                                                   0, false);
        dlg.Attach(hwnd);
        dlg.ShowWindow(SW_MINIMIZE);
    }
    Walk({"minimised icon", [] {}, [&] { dlg.Paint(); return UPD_RESULT(0); }, Nothing,
          [](const std::string &, unsigned) -> Expect { return {0, true}; }, 0});
    host::fault::HarnessScope harness;
    dlg.DestroyWindow();
    testing::internal::GetCapturedStdout();
}

}  // namespace
