// The first phase's work from the welcome dialog's OK: partition, old
// registration, RunOnce command, and the restart flag it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "app/globals.h"
#include "platform/host/machine/machine.h"
#include "platform/host/user/internal.h"
#include "removal/first_phase.h"
#include "removal/registry_cleanup.h"
#include "tests/test_machine.h"
#include "ui/update_dlg.h"

namespace {

const char kServices[] = "SYSTEM\\CurrentControlSet\\Services";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class FirstPhaseTest : public ::testing::Test {
protected:
    // A machine made by zav-machine, with version 1.0 when asked.
    void Make(const std::string &os, int osType, const std::string &service, bool oldVersion) {
        machine_.CreateWithTool("--os " + os + (service.empty() ? "" : " --service " + service + " --hidden") +
                                (oldVersion ? " --old-version" : ""));
        g_nOsType = osType;
        std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
        std::strcpy(g_szInstaller, "SETUP.EXE");
        g_bRestart = FALSE;
        g_nPartType = -1;
    }

    std::string Read(const std::string &key, const char *value) {
        char buffer[MAX_PATH];
        ReadRegistryString(HKEY_LOCAL_MACHINE, key.c_str(), value, buffer);
        return buffer;
    }
    std::string Registry() { return test::ReadBytes(machine_.Dir() / "registry.reg"); }

    // Runs the welcome dialog, answering OK; its result.
    int RunWelcome() {
        setenv("ZAV_FRONTEND", "noninteractive", 1);
        setenv("ZAV_ANSWERS", "102=ok", 1);
        host::ResetFrontendForTesting();
        testing::internal::CaptureStdout();
        CUpdateDlg dlg;
        int result = static_cast<int>(dlg.DoModal());
        testing::internal::GetCapturedStdout();
        return result;
    }

    test::TestMachine machine_;
};

// What is removed is checked end to end (first_phase_e2e_test); here, the
// options of the command for each system and partition type.
TEST_F(FirstPhaseTest, TheCommandNamesTheSecondPhasesOptions) {
    const struct {
        const char *os;
        int osType;
        const char *service;  // "" for no service partition
        const char *options;  // after "hide SETUP.EXE"
        int partType;
    } cases[] = {
        {"nt4", 1, "fat32", " typec", 11},       {"nt4", 1, "fat32-lba", " typec", 12},
        {"nt4", 1, "fat16", "", 6},              {"2000", 2, "fat32-lba", "", 12},
        {"98", 0, "fat32", "", 11},              {"98", 0, "", " noservice", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.os) + " " + c.service);
        Make(c.os, c.osType, c.service, true);
        EXPECT_EQ(RunWelcome(), 108);
        EXPECT_TRUE(g_bRestart);
        EXPECT_EQ(g_nPartType, c.partType);
        EXPECT_EQ(Read(kRunOnce, "ZV_UPDATE"), std::string("C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE") + c.options);
    }
}

TEST_F(FirstPhaseTest, APartitionAloneStillSchedulesTheSecondPhase) {
    Make("2000", 2, "fat16", false);
    EXPECT_EQ(RunWelcome(), 108);
    EXPECT_EQ(g_nPartType, 6);
    EXPECT_EQ(Read(kRunOnce, "ZV_UPDATE"), "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE");
}

TEST_F(FirstPhaseTest, FailuresAndTheRestartFlag) {
    struct FailCase {
        const char *what;
        const char *service;
        int result;
        BOOL restart;
    };
    const FailCase cases[] = {
        {"partition table cannot be written", "fat32", 106, FALSE},
        {"Run key missing, partition found", "fat32", 112, TRUE},
        {"Run key missing, no partition", "", 112, FALSE},
        {"a service key refuses deletion", "fat32", 113, TRUE},
        {"RunOnce cannot be written", "", 120, FALSE},
    };
    for (const FailCase &c : cases) {
        SCOPED_TRACE(c.what);
        Make("2000", 2, c.service, true);
        std::string what = c.what;
        if (what.find("written") != std::string::npos && *c.service) {
            std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[disk0]\nfail_write=1\n";
            host::ReloadMachine();
        } else if (what.find("Run key") != std::string::npos) {
            const char *const run[] = {"Run", nullptr};
            DeleteRegistryKeys("Software\\Microsoft\\Windows\\CurrentVersion", run);
        } else if (what.find("service key") != std::string::npos) {
            std::ofstream(machine_.Dir() / "registry.protected")
                << "HKEY_LOCAL_MACHINE\\" << kServices << "\\kdntflt\\Parameters\n";
        } else {
            std::strcpy(g_szInstaller, std::string(99, 'S').c_str());
            std::strcpy(g_szSelfPath, ("C:\\" + std::string(170, 'P') + "\\UPDATE.EXE").c_str());
        }
        std::string before = Registry();
        EXPECT_EQ(RunWelcome(), c.result);
        EXPECT_EQ(g_bRestart, c.restart);
        EXPECT_EQ(Read(kRunOnce, "ZV_UPDATE"), "");
        if (c.result == 106) {
            EXPECT_EQ(Registry(), before) << "nothing else is attempted";
        }
    }
}

TEST_F(FirstPhaseTest, AProgramPathWithSpacesIsQuoted) {
    Make("2000", 2, "", true);
    std::strcpy(g_szSelfPath, "C:\\Program Files\\UPD\\UPDATE.EXE");
    EXPECT_EQ(ScheduleSecondPhase(0), 108u);
    EXPECT_EQ(Read(kRunOnce, "ZV_UPDATE"), "\"C:\\Program Files\\UPD\\UPDATE.EXE\" hide SETUP.EXE noservice");
}

}  // namespace
