// The first phase's work from the welcome dialog's OK: partition, old
// registration, RunOnce command, and the restart flag it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "app/globals.h"
#include "platform/host/machine/machine.h"
#include "platform/host/user/internal.h"
#include "removal/registry_cleanup.h"
#include "tests/test_machine.h"
#include "ui/update_dlg.h"

namespace {

const char kServices[] = "SYSTEM\\CurrentControlSet\\Services";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// What is removed is checked end to end (first_phase_e2e_test); here, on
// machines made by zav-machine, the command each system and partition type
// schedules, and what each failure leaves: its result, the restart flag, and
// no command.
TEST(FirstPhaseTest, TheCommandAndTheRestartFlag) {
    const std::string kSecond = "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE";
    const struct {
        const char *os;
        int osType;
        const char *service;  // "" for no service partition
        const char *spoil;    // what is done to the machine first, "" nothing
        int result;
        BOOL restart;
        int partType;         // -1: not looked at
        std::string runOnce;  // "": none
    } cases[] = {
        {"nt4", 1, "fat32", "", 108, TRUE, 11, kSecond + " typec"},
        {"nt4", 1, "fat32-lba", "", 108, TRUE, 12, kSecond + " typec"},
        {"nt4", 1, "fat16", "", 108, TRUE, 6, kSecond},
        {"98", 0, "fat32", "", 108, TRUE, 11, kSecond},
        {"98", 0, "", "", 108, TRUE, 0, kSecond + " noservice"},
        {"2000", 2, "fat16", "no old version", 108, TRUE, 6, kSecond},  // a partition alone
        // Unquoted, Windows would try C:\Program.exe first, with the system's rights.
        {"2000", 2, "", "spaces", 108, TRUE, -1, "\"C:\\Program Files\\UPD\\UPDATE.EXE\" hide SETUP.EXE noservice"},
        {"2000", 2, "fat32", "unwritable", 106, FALSE, -1, ""},
        {"2000", 2, "fat32", "no Run key", 112, TRUE, -1, ""},
        {"2000", 2, "fat32", "protected", 113, TRUE, -1, ""},
        {"2000", 2, "", "too long", 120, FALSE, -1, ""},
    };
    setenv("ZAV_FRONTEND", "noninteractive", 1);
    setenv("ZAV_ANSWERS", "102=ok", 1);
    test::TestMachine machine;
    for (const auto &c : cases) {
        const std::string spoil = c.spoil, service = c.service;
        SCOPED_TRACE(std::string(c.os) + " " + service + " " + spoil);
        machine.CreateWithTool("--os " + std::string(c.os) + (service.empty() ? "" : " --service " + service + " --hidden") +
                               (spoil == "no old version" ? "" : " --old-version"));
        g_nOsType = c.osType;
        std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
        std::strcpy(g_szInstaller, "SETUP.EXE");
        g_bRestart = FALSE;
        g_nPartType = -1;
        if (spoil == "unwritable") {
            std::ofstream(machine.Dir() / "machine.ini", std::ios::app) << "\n[disk0]\nfail_write=1\n";
            host::ReloadMachine();
        } else if (spoil == "no Run key") {
            const char *const run[] = {"Run", nullptr};
            DeleteRegistryKeys("Software\\Microsoft\\Windows\\CurrentVersion", run);
        } else if (spoil == "protected") {
            std::ofstream(machine.Dir() / "registry.protected") << "HKEY_LOCAL_MACHINE\\" << kServices << "\\kdntflt\\Parameters\n";
        } else if (spoil == "spaces") {
            std::strcpy(g_szSelfPath, "C:\\Program Files\\UPD\\UPDATE.EXE");
        } else if (spoil == "too long") {
            std::strcpy(g_szInstaller, std::string(99, 'S').c_str());
            std::strcpy(g_szSelfPath, ("C:\\" + std::string(170, 'P') + "\\UPDATE.EXE").c_str());
        }
        const std::string before = test::ReadBytes(machine.Dir() / "registry.reg");
        host::ResetFrontendForTesting();
        testing::internal::CaptureStdout();
        const int result = static_cast<int>(CUpdateDlg().DoModal());
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(g_bRestart, c.restart);
        if (c.partType >= 0) { EXPECT_EQ(g_nPartType, c.partType); }
        char szCommand[MAX_PATH];
        ReadRegistryString(HKEY_LOCAL_MACHINE, kRunOnce, "ZV_UPDATE", szCommand);
        EXPECT_EQ(szCommand, c.runOnce);
        if (c.result == 106) {
            EXPECT_EQ(test::ReadBytes(machine.Dir() / "registry.reg"), before) << "nothing else is attempted";
        }
    }
}

}  // namespace
