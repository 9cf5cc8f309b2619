// The second phase's worker under its progress dialog, in process, on
// machines made by zav-machine with version 1.0 and a mounted service
// partition: the steps in order, the labels greyed, every failure with the
// steps after it not done.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "app/globals.h"
#include "app/update_app.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/machine.h"
#include "platform/host/user/internal.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const char kProgram[] = "C:\\Program Files\\ZAV backup and restore";
const char kInfo[] = "Software\\Keldan\\Info";
const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kAllUsersLink[] = "C:\\ALL\\ZAV backup and restore\\X.LNK";

// The phases without partition work (no service partition, or NT 4 with a
// FAT32 one) are the whole-update tests'.
struct Case {
    const char *name, *os;
    UPD_RESULT result;
    int lastStep;  // labels 1001 to 1000 + lastStep greyed
    bool oldFolderGone, installed;
    void (*setup)(test::TestMachine &) = nullptr;  // what is done to the machine first
    bool mounted = true;                            // the service partition is D:
    const char *kept = nullptr;                     // a file beside the old folders that stays
};

// A start menu folder with no room left for "\ZAV backup and restore".
const std::string kLongPrograms = "C:\\" + std::string(240, 'M'), kLongProgramsFile = kLongPrograms + "\\OTHER.LNK";

const Case kCases[] = {
    {"Everything", "2000", UPD_OK, 5, true, true},
    {"Windows98KeepsAnAllUsersFolder", "98", UPD_OK, 5, true, true,
     [](test::TestMachine &m) {
         m.SetString(HKEY_LOCAL_MACHINE, kShellFolders, "Common programs", "C:\\ALL");
         m.WriteFile(kAllUsersLink);
     }},
    {"AnInstallPathAtADriveRootDeletesNothing", "2000", UPD_OK, 5, false, true,
     [](test::TestMachine &m) { m.SetString(HKEY_LOCAL_MACHINE, kInfo, "InstallPath", "C:\\"); }},
    {"AnInstallPathLeadingUpToTheRootDeletesNothing", "2000", UPD_OK, 5, false, true,
     [](test::TestMachine &m) { m.SetString(HKEY_LOCAL_MACHINE, kInfo, "InstallPath", "C:\\UPDATE\\.."); }},
    // No room for "\ZAV backup and restore": refused, never cut.
    {"AStartMenuPathTooLongIsSkipped", "2000", UPD_OK, 5, true, true,
     [](test::TestMachine &m) {
         m.SetString(HKEY_CURRENT_USER, kShellFolders, "programs", kLongPrograms);
         m.WriteFile(kLongProgramsFile);
     },
     true, kLongProgramsFile.c_str()},
    {"NoServiceDrive", "2000", IDS_SERVICE_CONTENTS_UNEXPECTED, 0, false, false, nullptr, false},
    {"AFileInUse", "2000", IDS_FLOPPY_IN_USE, 0, false, false,
     [](test::TestMachine &) { host::fault::FailFrom("DeleteFileA", 1, ERROR_SHARING_VIOLATION); }},
    {"KeldanKeyProtected", "2000", IDS_MAKER_KEY_NOT_DELETED, 2, true, false,
     [](test::TestMachine &m) { std::ofstream(m.Dir() / "registry.protected") << "HKEY_LOCAL_MACHINE\\Software\\Keldan\\Salvix\n"; }},
    {"InstallerMissing", "2000", IDS_INSTALL_NOT_POSSIBLE, 3, true, false,
     [](test::TestMachine &m) { fs::remove(m.DriveC() / "UPDATE" / "SETUP.EXE"); }},
    {"NoRecoveryFolder", "2000", IDS_FILES_NOT_REPLACED, 4, true, true,
     [](test::TestMachine &m) {
         host::fat::Volume volume{m.Dir() / "disk.img", 2048 * 512};
         ASSERT_TRUE(host::fat::Delete(volume, "RECOVERY\\SLX_REST.EXE") &&
                     host::fat::Delete(volume, "RECOVERY\\VDG_INIT.EXE") && host::fat::RemoveDir(volume, "RECOVERY"));
     }},
    // Mended: a failed wait left the worker running while the phase went on.
    {"AFailedWaitStillAwaitsTheWorker", "2000", UPD_OK, 5, true, true,
     [](test::TestMachine &) { host::fault::FailAt("WaitForSingleObject", 1, ERROR_INVALID_HANDLE); }},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class SecondPhaseTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        setenv("ZAV_FRONTEND", "noninteractive", 1);
        setenv("ZAV_ANSWERS", "", 1);
        setenv("LANG", "C", 1);
        host::ResetFrontendForTesting();
        // The message queue AfxWinMain gives the user interface thread: a
        // worker that finishes its first step at once can post it.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    void TearDown() override { host::fault::Clear(); }
    bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    test::TestMachine machine_;
};

TEST_P(SecondPhaseTest, StepsInOrderAndFailuresStopTheRest) {
    const Case &c = GetParam();
    machine_.CreateWithTool(std::string("--os ") + c.os + " --service fat32 --old-version");
    if (c.mounted) std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[drive D]\nimage=disk.img\npartition=1\n";
    host::ReloadMachine();
    if (c.setup) c.setup(machine_);
    g_nOsType = std::string(c.os) == "98" ? OS_CLASS_9X : OS_CLASS_2000;
    std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
    std::strcpy(g_szInstaller, "SETUP.EXE");
    const bool link = Exists(kAllUsersLink);
    testing::internal::CaptureStdout();
    UPD_RESULT result = theApp.RunSecondPhase(1, 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, c.result) << out;
    for (int step = 1; step <= 6; ++step) {
        bool greyed = out.find("--- dialog 130: text " + std::to_string(1000 + step) + " disabled\n") != std::string::npos;
        EXPECT_EQ(greyed, step <= c.lastStep) << "label " << 1000 + step << "\n" << out;
    }
    // The failure once, without the note, under the progress dialog.
    EXPECT_EQ(out.find("=== dialog 131") != std::string::npos, c.result != UPD_OK) << out;
    EXPECT_EQ(out.find("text 1013"), std::string::npos);
    EXPECT_NE(out.find("=== dialog 130"), std::string::npos) << out;
    EXPECT_LT(out.find("--- cursor: wait"), out.find("--- cursor: arrow")) << out;
    EXPECT_EQ(!Exists(std::string(kProgram) + "\\KICON.EXE"), c.oldFolderGone);
    EXPECT_EQ(fs::exists(machine_.Dir() / "installer.log"), c.installed) << "the installer ran";
    EXPECT_EQ(Exists(kAllUsersLink), link) << "Windows 9x has no all-users folder";
    if (c.kept) { EXPECT_TRUE(Exists(c.kept)) << c.kept; }
    if (c.result == UPD_OK) {
        fs::path copy = machine_.Dir() / "slx";
        ASSERT_TRUE(host::fat::CopyOut({machine_.Dir() / "disk.img", 2048 * 512}, "RECOVERY\\SLX_REST.EXE", copy));
        EXPECT_EQ(test::Run("cat " + copy.string()).out, "new restore program 1.1\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Worker, SecondPhaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
