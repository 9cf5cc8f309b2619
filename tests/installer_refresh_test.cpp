// The installer run and the recovery refresh on a virtual clock: their
// attempts, their waits and their results, with installers that are shell
// scripts writing the registry file the way a hand edit does.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "app/globals.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"
#include "removal/installer_run.h"
#include "removal/recovery_refresh.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const char kInstall[] = "Software\\Keldan\\Install";
const char kSalvix[] = "Software\\Keldan\\Salvix";

class SecondPhaseStepTest : public testing::Test {
protected:
    void SetUp() override {
        machine_.Create("2000");
        std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
        std::strcpy(g_szInstaller, "SETUP.EXE");
        host::fault::Record();
    }
    void TearDown() override { host::fault::Clear(); }

    // An installer that appends `lines` to registry.reg (a small registry is
    // read anew when it changes) and exits with `status`.
    void Installer(const std::string &lines, int status = 0) {
        machine_.WriteFile("C:\\UPDATE\\SETUP.EXE", "#!/bin/sh\nprintf '" + lines + "' >> \"$ZAV_MACHINE/registry.reg\"\nexit " +
                                                        std::to_string(status) + "\n");
        fs::permissions(machine_.DriveC() / "UPDATE" / "SETUP.EXE", fs::perms::owner_all);
    }
    static std::string Flag(const std::string &value) {
        return "[HKEY_LOCAL_MACHINE\\\\Software\\\\Keldan\\\\Install]\\n\"progress\"=\"" + value + "\"\\n\\n";
    }
    size_t CallsOf(const std::string &api) {
        size_t n = 0;
        for (const std::string &c : host::fault::Calls()) n += c == api;
        return n;
    }
    test::TestMachine machine_;
};

TEST_F(SecondPhaseStepTest, InstallerFlagAndItsAttempts) {
    const struct {
        const char *why;
        std::string lines;
        int status;
        unsigned writtenAt;  // the attempt at which the flag appears; 0: by the installer
        UPD_RESULT result;
        size_t opens;    // attempts that opened or tried to open the key
        DWORD elapsed;   // virtual milliseconds from the first attempt
    } cases[] = {
        // 100 ms before the read that finds it; 500 ms for each attempt without the key.
        {"flag at once, in upper case, with a failing exit code", Flag("COMPLETE"), 3, 0, UPD_OK, 1, 100},
        {"written late: taken at the next attempt", "", 0, 5, UPD_OK, 5, 2100},
        {"never written", "", 0, 0, IDS_INSTALL_UNSUCCESSFUL, 180, 90000},
        {"another word", Flag("completed"), 0, 0, IDS_INSTALL_UNSUCCESSFUL, 180, 90000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        SetUp();
        Installer(c.lines, c.status);
        DWORD start = 0;
        host::fault::OnCall("RegOpenKeyExA", 1, [&] { start = GetTickCount(); });
        if (c.writtenAt) {
            host::fault::OnCall("RegOpenKeyExA", c.writtenAt,
                                [&] { machine_.SetString(HKEY_LOCAL_MACHINE, kInstall, "progress", "Complete"); });
        }
        EXPECT_EQ(RunNewInstaller(), c.result);
        EXPECT_EQ(CallsOf("RegOpenKeyExA"), c.opens);
        EXPECT_EQ(GetTickCount() - start, c.elapsed);
        TearDown();
    }
}

// The installer's failures to start or be awaited are the fault table's
// walk; a path that does not fit is refused before any start.
TEST_F(SecondPhaseStepTest, AnInstallerPathThatDoesNotFitIsRefused) {
    std::strcpy(g_szSelfPath, ("C:\\" + std::string(240, 'P') + "\\UPDATE.EXE").c_str());
    std::strcpy(g_szInstaller, std::string(99, 'S').c_str());
    EXPECT_EQ(RunNewInstaller(), IDS_INSTALL_NOT_POSSIBLE);
    EXPECT_EQ(CallsOf("CreateProcessA"), 0u);
}

// E: is the service drive with its RECOVERY folder (a folder drive: copies
// onto FAT are the diskette builder's); the new programs lie in C:\ZAV\Salvix.
TEST_F(SecondPhaseStepTest, RecoveryRefreshSharesFifteenAttempts) {
    const struct {
        const char *why;
        bool key, value, recovery, diag;
        unsigned registeredAt;  // the attempt at which the value appears; 0 at once
        UPD_RESULT result;
        size_t copies;  // CopyFileA calls
        DWORD elapsed;  // virtual milliseconds
    } cases[] = {
        {"both copied", true, true, true, true, 0, UPD_OK, 2, 200},
        {"no value", true, false, true, true, 0, IDS_INSTALL_UNSUCCESSFUL, 0, 18000},
        {"no RECOVERY folder", true, true, false, true, 0, IDS_FILES_NOT_REPLACED, 15, 15200},
        {"no VDG_INIT.EXE: SLX_REST.EXE again each time", true, true, true, false, 0, IDS_FILES_NOT_REPLACED, 30, 15200},
        {"found at the fourth attempt: twelve copy attempts", false, false, false, true, 4, IDS_FILES_NOT_REPLACED, 12,
         15200},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        SetUp();
        fs::create_directories(machine_.Dir() / "E");
        if (c.recovery) fs::create_directories(machine_.Dir() / "E" / "RECOVERY");
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "[drive E]\npath=E\nkind=fixed\n";
        host::ReloadMachine();
        machine_.WriteFile("C:\\ZAV\\Salvix\\SLX_REST.EXE", "new restore program 1.1");
        if (c.diag) machine_.WriteFile("C:\\ZAV\\Salvix\\DIAG\\VDG_INIT.EXE", "new diagnostics program 1.1");
        auto registerPath = [&] { machine_.SetString(HKEY_LOCAL_MACHINE, kSalvix, "InstallPath", "C:\\ZAV\\Salvix"); };
        if (c.key && c.value) registerPath();
        if (c.key && !c.value) machine_.SetString(HKEY_LOCAL_MACHINE, kSalvix, "Other", "x");
        if (c.registeredAt) host::fault::OnCall("RegOpenKeyExA", c.registeredAt, registerPath);
        DWORD start = GetTickCount();
        EXPECT_EQ(RefreshRecoveryFiles('E'), c.result);
        EXPECT_EQ(CallsOf("CopyFileA"), c.copies);
        EXPECT_EQ(GetTickCount() - start, c.elapsed);
        if (c.result == UPD_OK) {
            EXPECT_EQ(test::ReadBytes(machine_.Dir() / "E/RECOVERY/VDG_INIT.EXE"), "new diagnostics program 1.1");
        }
        TearDown();
    }
}

}  // namespace
