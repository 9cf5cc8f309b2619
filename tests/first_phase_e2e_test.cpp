// The first phase end to end on machines made by zav-machine: the real
// program under the noninteractive frontend, the registry compared before
// and after, then `zav-machine boot` starting the second phase.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "platform/host/registry/store.h"
#include "platform/win.h"
#include "tests/test_machine.h"

namespace {

const std::string kTool = std::string(ZAV_BUILD_DIR) + "/zav-machine";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
#define HKLM_WIN "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\"
#define HKLM_SERVICES "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\"

// What the first phase removes: whole keys ("[KEY]") or single values
// ("[KEY]\"name\"=").
const std::vector<std::string> kGoneEverywhere = {
    HKLM_WIN "Run]\"SalvSA\"=", HKLM_WIN "Run]\"Kicon\"=", HKLM_WIN "Uninstall\\ZAV backup and restore program]"};
const std::vector<std::string> kGone9x = {HKLM_WIN "RunServices]\"Kdagent\"=", HKLM_WIN "RunServices]\"Kdclient\"=",
                                          HKLM_WIN "RunServices]\"kdgwsvc\"="};
const std::vector<std::string> kGoneNt = {HKLM_SERVICES "KDadminServer]", HKLM_SERVICES "kdAgentServer]",
                                          HKLM_SERVICES "kdntflt]"};

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// registry.reg, everything folded in, as test::RegistryEntries.
std::set<std::string> RegistryEntries(const std::filesystem::path &dir) {
    EXPECT_EQ(host::RegistryCompact(), 0);
    return test::RegistryEntries(dir / "registry.reg");
}

bool Covers(const std::string &item, const std::string &entry) {
    if (item.back() == '=') return entry.rfind(item, 0) == 0;                     // that value
    std::string key = item.substr(0, item.size() - 1);                            // "[KEY" of "[KEY]"
    return entry.rfind(key + "]", 0) == 0 || entry.rfind(key + "\\", 0) == 0;  // the key and its subtree
}

std::string RunOnceValue() {
    HKEY hKey;
    char data[MAX_PATH] = "";
    DWORD size = sizeof data;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return "<no key>";
    LONG r = RegQueryValueExA(hKey, "ZV_UPDATE", nullptr, nullptr, reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(hKey);
    return r == ERROR_SUCCESS ? data : "";
}

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct Case {
    const char *name;  // the test's name
    const char *why;
    const char *options;  // zav-machine new
    const char *answers;  // ZAV_ANSWERS
    std::string runOnce;  // the second phase's command; empty: none scheduled
    std::vector<std::string> gone;
    bool restart;
    const char *typeAfter;  // the service entry's type afterwards; nullptr: no partition
    const char *bootLine;   // what boot says about the service partition; nullptr: nothing
};

const std::string kSecond = "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE";

const Case kCases[] = {
    {"Win98HiddenFat32", "Windows 98, hidden FAT32 partition", "--os 98 --service fat32 --hidden --old-version", "", kSecond,
     Plus(kGoneEverywhere, kGone9x), true, "b", "mounted D: = partition 1 (type 0b, label ZAV_SERVICE)"},
    {"Nt4HiddenFat32ByDiskette", "Windows NT 4, hidden FAT32 partition: by diskette", "--os nt4 --service fat32 --hidden --old-version --floppy blank", "",
     kSecond + " typec", Plus(kGoneEverywhere, kGoneNt), true, "b",
     "partition 1 (type 0b) not mounted: FAT32 on Windows NT 4"},
    {"Nt4HiddenFat16", "Windows NT 4, hidden FAT16 partition", "--os nt4 --service fat16 --hidden --old-version", "", kSecond,
     Plus(kGoneEverywhere, kGoneNt), true, "6", "mounted D: = partition 1 (type 06, label ZAV_SERVICE)"},
    {"Win2000HiddenFat32", "Windows 2000, hidden FAT32 partition", "--os 2000 --service fat32 --hidden --old-version", "", kSecond,
     Plus(kGoneEverywhere, kGoneNt), true, "b", "mounted D: = partition 1 (type 0b, label ZAV_SERVICE)"},
    {"Win2000WithoutPartition", "Windows 2000 without a service partition", "--os 2000 --old-version", "", kSecond + " noservice",
     Plus(kGoneEverywhere, kGoneNt), true, nullptr, nullptr},
    {"NothingInstalledInstallsAtOnce", "neither a partition nor version 1.0: straight to the second phase's work", "--os 2000 --installer SETUP.EXE", "",
     "", {}, false, nullptr, nullptr},
    {"CancelChangesNothing", "Cancel changes nothing", "--os 2000 --service fat32 --hidden --old-version", "102=cancel", "", {}, false, "1b",
     "partition 1 (type 1b) not mounted: hidden"},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.why; }

class FirstPhaseE2eTest : public ::testing::TestWithParam<Case> {
protected:
    test::RunResult Tool(const std::string &verb, const std::string &rest = "") {
        return test::Run("env ZAV_FRONTEND=noninteractive ZAV_CLOCK_SCALE=0 ZAV_ANSWERS='" +
                         std::string(GetParam().answers) + "' " + kTool + " " + verb + " " +
                         machine_.Dir().string() + rest + " 2>&1");
    }
    std::string PartType() {
        std::string image = (machine_.Dir() / "disk.img").string();
        std::string out = test::Run("sfdisk --part-type " + image + " 2 2>/dev/null").out;
        return out.substr(out.find_first_not_of(' '), out.find('\n') - out.find_first_not_of(' '));
    }
    test::TestMachine machine_;
};

TEST_P(FirstPhaseE2eTest, RemovesSchedulesRestartsAndBoots) {
    const Case &c = GetParam();
    machine_.CreateWithTool(c.options);
    std::set<std::string> before = RegistryEntries(machine_.Dir());

    auto first = Tool("run", " 'C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE'");
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_EQ(RunOnceValue(), c.runOnce) << first.out;
    unsigned flags = 0;
    EXPECT_EQ(machine_.RestartRecorded(&flags), c.restart) << first.out;
    if (c.restart) {
        EXPECT_EQ(flags, 6u);
    }
    if (c.typeAfter) {
        EXPECT_EQ(PartType(), c.typeAfter);
    }
    if (!c.restart && c.runOnce.empty() && std::string(c.answers).empty()) {
        EXPECT_EQ(Count(first.out, "=== dialog 132"), 1u) << first.out;  // the second phase's completion
        EXPECT_EQ(first.out.find("text 1010"), std::string::npos) << "installed at once: no restart note";
    }

    // Exactly the listed entries went, and only the RunOnce value came.
    std::set<std::string> after = RegistryEntries(machine_.Dir());
    for (const std::string &entry : before) {
        if (after.count(entry)) continue;
        bool listed = false;
        for (const std::string &item : c.gone) listed = listed || Covers(item, entry);
        EXPECT_TRUE(listed) << "removed but not listed: " << entry;
    }
    for (const std::string &item : c.gone) {
        bool removed = false;
        for (const std::string &entry : before) removed = removed || (Covers(item, entry) && !after.count(entry));
        EXPECT_TRUE(removed) << "listed but not removed: " << item;
    }
    std::vector<std::string> added;  // the new version's own keys aside, when it was installed at once
    for (const std::string &entry : after) {
        if (!before.count(entry) && entry.rfind("[HKEY_LOCAL_MACHINE\\Software\\Keldan", 0) != 0) added.push_back(entry);
    }
    EXPECT_EQ(added.size(), c.runOnce.empty() ? 0u : 1u);
    if (!added.empty()) {
        EXPECT_EQ(added[0].rfind(HKLM_WIN "RunOnce]\"ZV_UPDATE\"=", 0), 0u) << added[0];
    }

    // The next start: the service volume gets its letter and the second phase runs once.
    auto boot = Tool("boot");
    EXPECT_EQ(boot.status, 0) << boot.out;
    EXPECT_EQ(boot.out.rfind(c.restart ? "restart request cleared (flags=6)\n" : "cold boot\n", 0), 0u) << boot.out;
    if (c.bootLine) {
        EXPECT_NE(boot.out.find("\n" + std::string(c.bootLine) + "\n"), std::string::npos) << boot.out;
    } else {
        EXPECT_EQ(boot.out.find("\npartition"), std::string::npos) << boot.out;
        EXPECT_EQ(boot.out.find("\nmounted"), std::string::npos) << boot.out;
    }
    if (c.runOnce.empty()) {
        EXPECT_NE(boot.out.find("RunOnce: nothing to run\n"), std::string::npos) << boot.out;
    } else {
        EXPECT_EQ(Count(boot.out, "RunOnce ZV_UPDATE: " + c.runOnce + "\n"), 1u) << boot.out;
        EXPECT_EQ(Count(boot.out, "=== dialog 132"), 1u) << boot.out;
        EXPECT_NE(boot.out.find("RunOnce ZV_UPDATE: exit status 0\n"), std::string::npos) << boot.out;
        EXPECT_EQ(RunOnceValue(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, FirstPhaseE2eTest, ::testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Two first phases started at once on one machine, again and again. Each
// registry call sees the registry as the other process left it (the lock),
// so the machine always ends right: the old entries gone, everything else
// kept, the second phase scheduled. A process may still report 113 when the
// other one deleted a key tree under the handle it had open on it (1018, as
// Windows reports a key deleted by another process); never anything else.
TEST(TwoFirstPhasesTest, EndWithTheRightRegistryEveryTime) {
    test::TestMachine machine;
    for (int round = 0; round < 15; ++round) {
        SCOPED_TRACE(round);
        machine.CreateWithTool("--os 2000 --service fat32 --hidden --old-version");
        std::set<std::string> before = RegistryEntries(machine.Dir());
        std::string dir = machine.Dir().string();
        std::string one = "env ZAV_FRONTEND=noninteractive ZAV_CLOCK_SCALE=0 " + kTool + " run " + dir +
                          " 'C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE' >" + dir + "/out";
        auto r = test::Run("(" + one + "1 2>&1 & " + one + "2 2>&1 & wait); cat " + dir + "/out1 " + dir + "/out2");
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("text 1009: ", 0) == 0) {
                EXPECT_EQ(line, "text 1009: The update program cannot delete some registry keys.") << r.out;
            }
        }
        std::set<std::string> after = RegistryEntries(machine.Dir());
        for (const std::string &entry : before) {
            bool gone = false;
            for (const std::string &item : Plus(kGoneEverywhere, kGoneNt)) gone |= Covers(item, entry);
            EXPECT_EQ(after.count(entry), gone ? 0u : 1u) << entry;
        }
        EXPECT_EQ(RunOnceValue(), kSecond) << r.out;
    }
}

}  // namespace
