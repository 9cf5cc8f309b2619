// The first phase end to end on machines made by zav-machine: the real
// program under the noninteractive frontend, the registry compared before
// and after, then `zav-machine boot` starting the second phase. (The
// command each system and partition type schedules is first_phase_test's;
// a whole update on each system, update_e2e_test's.)
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/host/registry/store.h"
#include "platform/win.h"
#include "removal/registry_cleanup.h"
#include "tests/test_machine.h"

namespace {

const std::string kTool = std::string(ZAV_BUILD_DIR) + "/zav-machine";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
#define HKLM_WIN "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\"
#define HKLM_SERVICES "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\"
#define GONE_EVERYWHERE HKLM_WIN "Run]\"SalvSA\"=", HKLM_WIN "Run]\"Kicon\"=", HKLM_WIN "Uninstall\\ZAV backup and restore program]"

// What the first phase removes: whole keys ("[KEY]") or single values
// ("[KEY]\"name\"=").
const std::vector<std::string> kGone9x = {GONE_EVERYWHERE, HKLM_WIN "RunServices]\"Kdagent\"=",
                                          HKLM_WIN "RunServices]\"Kdclient\"=", HKLM_WIN "RunServices]\"kdgwsvc\"="};
const std::vector<std::string> kGoneNt = {GONE_EVERYWHERE, HKLM_SERVICES "KDadminServer]", HKLM_SERVICES "kdAgentServer]",
                                          HKLM_SERVICES "kdntflt]"};

// registry.reg, everything folded in, as test::RegistryEntries.
std::set<std::string> RegistryEntries(const std::filesystem::path &dir) {
    EXPECT_EQ(host::RegistryCompact(), 0);
    return test::RegistryEntries(dir / "registry.reg");
}

// The entries that no item of `gone` covers: an item covers its value, or
// its key and the key's subtree.
std::set<std::string> Kept(std::set<std::string> entries, const std::vector<std::string> &gone) {
    std::erase_if(entries, [&](const std::string &entry) {
        return std::any_of(gone.begin(), gone.end(), [&](const std::string &item) {
            std::string key = item.substr(0, item.size() - 1);  // "[KEY" of "[KEY]"
            return item.back() == '=' ? entry.rfind(item, 0) == 0
                                      : entry.rfind(key + "]", 0) == 0 || entry.rfind(key + "\\", 0) == 0;
        });
    });
    return entries;
}

// The scheduled command; "" when there is none (that boot keeps the RunOnce
// key is zav_machine_boot_test's).
std::string RunOnceValue() {
    char data[MAX_PATH];
    ReadRegistryString(HKEY_LOCAL_MACHINE, kRunOnce, "ZV_UPDATE", data);
    return data;
}

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// options: zav-machine new's; runOnce: the second phase's command, empty: none, installed at once without a
// restart; gone: what the first phase removes; bootLine: what boot says about the service partition, its type
// included, nullptr: nothing.
struct Case {
    const char *name, *options;
    std::string runOnce;
    std::vector<std::string> gone;
    const char *bootLine;
};

const std::string kSecond = "C:\\UPDATE\\UPDATE.EXE hide SETUP.EXE";

const Case kCases[] = {
    {"Win98HiddenFat32", "--os 98 --service fat32 --hidden --old-version", kSecond, kGone9x,
     "mounted D: = partition 1 (type 0b, label ZAV_SERVICE)"},
    {"Nt4HiddenFat32ByDiskette", "--os nt4 --service fat32 --hidden --old-version --floppy blank", kSecond + " typec",
     kGoneNt, "partition 1 (type 0b) not mounted: FAT32 on Windows NT 4"},
    // Neither a partition nor version 1.0: straight to the second phase's work.
    {"NothingInstalledInstallsAtOnce", "--os 2000 --installer SETUP.EXE", "", {}, nullptr},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class FirstPhaseE2eTest : public ::testing::TestWithParam<Case> {
protected:
    test::RunResult Tool(const std::string &verb, const std::string &rest = "") {
        return test::Run("env ZAV_FRONTEND=noninteractive ZAV_CLOCK_SCALE=0 ZAV_ANSWERS= " + kTool + " " + verb + " " +
                         machine_.Dir().string() + rest + " 2>&1");
    }
    test::TestMachine machine_;
};

// What the first phase scheduled and whether it asked for a restart are read
// from the next start, which runs the one and reports the other.
TEST_P(FirstPhaseE2eTest, RemovesSchedulesRestartsAndBoots) {
    const Case &c = GetParam();
    const bool atOnce = c.runOnce.empty();
    machine_.CreateWithTool(c.options);
    std::set<std::string> before = RegistryEntries(machine_.Dir());

    auto first = Tool("run", " 'C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE'");
    EXPECT_EQ(first.status, 0) << first.out;
    // Installed at once: the second phase's completion, without a restart note.
    EXPECT_EQ(Count(first.out, "=== dialog 132"), atOnce ? 1u : 0u) << first.out;
    EXPECT_EQ(first.out.find("text 1010"), std::string::npos) << first.out;

    // Exactly the listed entries went, each of them made by zav-machine; what
    // came is the RunOnce value and, installed at once, the new version's keys.
    std::set<std::string> after = RegistryEntries(machine_.Dir());
    std::erase_if(after, [&](const std::string &entry) {
        return !before.count(entry) && (entry.rfind(HKLM_WIN "RunOnce]\"ZV_UPDATE\"=", 0) == 0 ||
                                        entry.rfind("[HKEY_LOCAL_MACHINE\\Software\\Keldan", 0) == 0);
    });
    EXPECT_EQ(after, Kept(before, c.gone));
    for (const std::string &item : c.gone) EXPECT_LT(Kept(before, {item}).size(), before.size()) << "not made: " << item;

    // The next start: the service volume gets its letter and the second phase runs once.
    auto boot = Tool("boot");
    EXPECT_EQ(boot.status, 0) << boot.out;
    EXPECT_EQ(boot.out.rfind(atOnce ? "cold boot\n" : "restart request cleared (flags=6)\n", 0), 0u) << boot.out;
    if (c.bootLine) {
        EXPECT_NE(boot.out.find("\n" + std::string(c.bootLine) + "\n"), std::string::npos) << boot.out;
    } else {
        for (const char *line : {"\npartition", "\nmounted"}) EXPECT_EQ(boot.out.find(line), std::string::npos) << boot.out;
    }
    if (atOnce) {
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
        EXPECT_EQ(Count(r.out, "text 1009: "),
                  Count(r.out, "text 1009: The update program cannot delete some registry keys.\n")) << r.out;
        std::set<std::string> after = RegistryEntries(machine.Dir()), kept = Kept(before, kGoneNt);
        for (const std::string &entry : before) EXPECT_EQ(after.count(entry), kept.count(entry)) << entry;
        EXPECT_EQ(RunOnceValue(), kSecond) << r.out;
    }
}

}  // namespace
