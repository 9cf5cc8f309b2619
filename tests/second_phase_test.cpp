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

struct Case {
    const char *name;
    const char *os;
    int service, typec;
    const char *setup;  // what is done to the machine first (see Prepare)
    UPD_RESULT result;
    int lastStep;          // labels 1001 to 1000 + lastStep greyed
    bool oldFolderGone, installed;
};

const Case kCases[] = {
    {"Everything", "2000", 1, 0, "", UPD_OK, 5, true, true},
    {"NoServiceNoPartitionWork", "2000", 0, 0, "no-drive", UPD_OK, 5, true, true},
    {"Nt4TypecNoPartitionWork", "nt4", 1, 1, "no-drive", UPD_OK, 5, true, true},
    {"Windows98KeepsAnAllUsersFolder", "98", 1, 0, "all-users", UPD_OK, 5, true, true},
    {"AnInstallPathAtADriveRootDeletesNothing", "2000", 1, 0, "root", UPD_OK, 5, false, true},
    {"AnInstallPathLeadingUpToTheRootDeletesNothing", "2000", 1, 0, "dotdot", UPD_OK, 5, false, true},
    {"AStartMenuPathTooLongIsSkipped", "2000", 1, 0, "long-menu", UPD_OK, 5, true, true},
    {"NoServiceDrive", "2000", 1, 0, "no-drive", IDS_SERVICE_CONTENTS_UNEXPECTED, 0, false, false},
    {"AFileInUse", "2000", 1, 0, "in-use", IDS_FLOPPY_IN_USE, 0, false, false},
    {"KeldanKeyProtected", "2000", 1, 0, "protect", IDS_MAKER_KEY_NOT_DELETED, 2, true, false},
    {"InstallerMissing", "2000", 1, 0, "no-installer", IDS_INSTALL_NOT_POSSIBLE, 3, true, false},
    {"NoRecoveryFolder", "2000", 1, 0, "no-recovery", IDS_FILES_NOT_REPLACED, 4, true, true},
    {"NoThread", "2000", 1, 0, "no-thread", IDS_THREAD_FAILED, 0, false, false},
    // Mended: a failed wait left the worker running while the phase went on.
    {"AFailedWaitStillAwaitsTheWorker", "2000", 1, 0, "wait-fails", UPD_OK, 5, true, true},
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

    void Prepare(const Case &c) {
        std::string os = c.os;
        machine_.CreateWithTool("--os " + os + " --service fat32 --old-version");
        fs::path ini = machine_.Dir() / "machine.ini";
        std::string setup = c.setup;
        if (setup != "no-drive") std::ofstream(ini, std::ios::app) << "\n[drive D]\nimage=disk.img\npartition=1\n";
        host::ReloadMachine();
        if (setup == "all-users") {
            machine_.SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                               "Common programs", "C:\\ALL");
            machine_.WriteFile("C:\\ALL\\ZAV backup and restore\\X.LNK");
        }
        if (setup == "root") machine_.SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "InstallPath", "C:\\");
        if (setup == "dotdot") {
            machine_.SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "InstallPath", "C:\\UPDATE\\..");
        }
        if (setup == "long-menu") {  // no room for "\ZAV backup and restore": refused, never cut
            machine_.SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                               "programs", "C:\\" + std::string(240, 'M'));
        }
        if (setup == "in-use") host::fault::FailFrom("DeleteFileA", 1, ERROR_SHARING_VIOLATION);
        if (setup == "protect") std::ofstream(machine_.Dir() / "registry.protected") << "HKEY_LOCAL_MACHINE\\Software\\Keldan\\Salvix\n";
        if (setup == "no-installer") fs::remove(machine_.DriveC() / "UPDATE" / "SETUP.EXE");
        if (setup == "no-recovery") {
            host::fat::Volume volume{machine_.Dir() / "disk.img", 2048 * 512};
            ASSERT_TRUE(host::fat::Delete(volume, "RECOVERY\\SLX_REST.EXE") &&
                        host::fat::Delete(volume, "RECOVERY\\VDG_INIT.EXE") && host::fat::RemoveDir(volume, "RECOVERY"));
        }
        if (setup == "no-thread") host::fault::FailAt("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
        if (setup == "wait-fails") host::fault::FailAt("WaitForSingleObject", 1, ERROR_INVALID_HANDLE);
        g_nOsType = os == "98" ? OS_CLASS_9X : os == "nt4" ? OS_CLASS_NT4 : OS_CLASS_2000;
        std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
        std::strcpy(g_szInstaller, "SETUP.EXE");
    }
    bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    test::TestMachine machine_;
};

TEST_P(SecondPhaseTest, StepsInOrderAndFailuresStopTheRest) {
    const Case &c = GetParam();
    Prepare(c);
    testing::internal::CaptureStdout();
    UPD_RESULT result = theApp.RunSecondPhase(c.service, c.typec);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, c.result) << out;
    for (int step = 1; step <= 6; ++step) {
        bool greyed = out.find("--- dialog 130: text " + std::to_string(1000 + step) + " disabled\n") != std::string::npos;
        EXPECT_EQ(greyed, step <= c.lastStep) << "label " << 1000 + step << "\n" << out;
    }
    // The failure once, without the note, when a worker ran; the progress dialog only then.
    bool ran = c.result != IDS_THREAD_FAILED;
    EXPECT_EQ(out.find("=== dialog 131") != std::string::npos, ran && c.result != UPD_OK) << out;
    EXPECT_EQ(out.find("text 1013"), std::string::npos);
    EXPECT_EQ(out.find("=== dialog 130") != std::string::npos, ran) << out;
    if (ran) {
        EXPECT_LT(out.find("--- cursor: wait"), out.find("--- cursor: arrow")) << out;
    }
    EXPECT_EQ(!Exists(std::string(kProgram) + "\\KICON.EXE"), c.oldFolderGone);
    EXPECT_EQ(fs::exists(machine_.Dir() / "installer.log"), c.installed) << "the installer ran";
    if (std::string(c.setup) == "all-users") {
        EXPECT_TRUE(Exists("C:\\ALL\\ZAV backup and restore\\X.LNK")) << "Windows 9x has no all-users folder";
    }
    if (std::string(c.setup) == "root" || std::string(c.setup) == "dotdot") {
        EXPECT_TRUE(Exists("C:\\UPDATE\\UPDATE.EXE"));
    }
    if (c.result == UPD_OK && c.service && !c.typec && std::string(c.setup) != "no-drive") {
        fs::path out = machine_.Dir() / "slx";
        ASSERT_TRUE(host::fat::CopyOut({machine_.Dir() / "disk.img", 2048 * 512}, "RECOVERY\\SLX_REST.EXE", out));
        EXPECT_EQ(test::Run("cat " + out.string()).out, "new restore program 1.1\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Worker, SecondPhaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
