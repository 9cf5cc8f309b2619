// The first phase's work from the welcome dialog's OK: partition, old
// registration, RunOnce command, and the restart flag it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "app/globals.h"
#include "platform/host/machine/machine.h"
#include "platform/host/user/internal.h"
#include "removal/first_phase.h"
#include "removal/registry_cleanup.h"
#include "tests/test_machine.h"
#include "ui/update_dlg.h"

namespace {

const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunServices[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char kServices[] = "SYSTEM\\CurrentControlSet\\Services";
const char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class FirstPhaseTest : public ::testing::Test {
protected:
    // A machine with the keys every Windows has, and optionally version 1.0.
    void Make(const std::string &os, int osType, const std::string &service, bool oldVersion) {
        std::string options = "--os " + os + (service.empty() ? "" : " --service " + service + " --hidden");
        machine_.CreateWithTool(options);
        Set(kRunOnce, "", "");
        Set(kServices, "", "");
        Set(kUninstall, "", "");
        Set(kRun, "Other", "C:\\OTHER.EXE");
        if (osType == 0) Set(kRunServices, "Other", "C:\\OTHER.EXE");
        if (oldVersion) InstallOldVersion(osType);
        g_nOsType = osType;
        std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
        std::strcpy(g_szInstaller, "SETUP.EXE");
        g_bRestart = FALSE;
        g_nPartType = -1;
    }

    void InstallOldVersion(int osType) {
        Set(kRun, "SalvSA", "C:\\ZAV\\SALVSA.EXE");
        Set(kRun, "Kicon", "C:\\ZAV\\KICON.EXE");
        if (osType == 0) {
            for (const char *v : {"Kdagent", "Kdclient", "kdgwsvc"}) Set(kRunServices, v, "C:\\ZAV\\SVC.EXE");
        } else {
            for (const char *k : {"KDadminServer", "kdAgentServer", "kdntflt"}) {
                Set(std::string(kServices) + "\\" + k, "ImagePath", "C:\\ZAV\\SVC.EXE");
                Set(std::string(kServices) + "\\" + k + "\\Enum", "Count", "1");
            }
        }
        Set(std::string(kUninstall) + "\\ZAV backup and restore program", "DisplayName", "ZAV");
    }

    void Set(const std::string &key, const std::string &name, const std::string &value) {
        machine_.SetString(HKEY_LOCAL_MACHINE, key, name, value);
    }
    std::string Read(const std::string &key, const char *value) {
        char buffer[MAX_PATH];
        ReadRegistryString(HKEY_LOCAL_MACHINE, key.c_str(), value, buffer);
        return buffer;
    }
    bool KeyExists(const std::string &path) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
        RegCloseKey(h);
        return true;
    }
    std::string Registry() {
        std::ifstream in(machine_.Dir() / "registry.reg");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string PartTypeOnDisk() {
        auto r = test::Run("sfdisk --part-type " + (machine_.Dir() / "disk.img").string() + " 2 2>&1");
        std::istringstream words(r.out);
        std::string type;
        words >> type;
        return type;
    }

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

TEST_F(FirstPhaseTest, RemovesVersionOneAndSchedulesTheSecondPhase) {
    struct FlowCase {
        const char *os;
        int osType;
        const char *service;  // "" for no service partition
        const char *runOnce;
    };
    const FlowCase cases[] = {
        {"2000", 2, "fat32", "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE"},
        {"98", 0, "fat32", "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE"},
        {"nt4", 1, "fat32", "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE typec"},
        {"nt4", 1, "fat32-lba", "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE typec"},
        {"nt4", 1, "fat16", "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE"},
        {"2000", 2, "", "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE noservice"},
        {"98", 0, "", "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE noservice"},
    };
    for (const FlowCase &c : cases) {
        SCOPED_TRACE(std::string(c.os) + " " + c.service);
        Make(c.os, c.osType, c.service, true);
        EXPECT_EQ(RunWelcome(), 108);
        EXPECT_TRUE(g_bRestart);
        EXPECT_EQ(Read(kRunOnce, "ZV_UPDATE"), c.runOnce);
        EXPECT_EQ(Read(kRun, "SalvSA"), "");
        EXPECT_EQ(Read(kRun, "Kicon"), "");
        EXPECT_EQ(Read(kRun, "Other"), "C:\\OTHER.EXE");
        EXPECT_FALSE(KeyExists(std::string(kUninstall) + "\\ZAV backup and restore program"));
        EXPECT_FALSE(KeyExists(std::string(kServices) + "\\kdntflt"));
        EXPECT_EQ(Read(kRunServices, "Kdagent"), "");
        if (*c.service) {
            EXPECT_EQ(PartTypeOnDisk().size(), 1u) << "the partition is visible again: " << PartTypeOnDisk();
        }
    }
}

TEST_F(FirstPhaseTest, NothingFoundChangesNothing) {
    Make("2000", 2, "", false);
    std::string before = Registry();
    EXPECT_EQ(RunWelcome(), 123);
    EXPECT_FALSE(g_bRestart);
    EXPECT_EQ(Registry(), before);
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
                << "HKEY_LOCAL_MACHINE\\" << kServices << "\\kdntflt\\Enum\n";
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
