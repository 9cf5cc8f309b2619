// A whole update on machines made by zav-machine: the first phase, the
// restart that runs the second phase from RunOnce, and the restart after
// it; the machine checked afterwards with the disk tools, mtools and the
// registry as the program sees it. (The steps and their failures, and the
// recovery programs refreshed, are second_phase_test's; the driver's
// branches, driver_second_phase_test's.)
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/machine.h"
#include "platform/host/registry/store.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(ZAV_BUILD_DIR) + "/zav-machine";

// options: zav-machine new's; lang: LANG of both phases; installer: [installer] lines; typeAfter: the
// service entry's type at the end (sfdisk), nullptr: no partition, and so no second restart; failures: the
// second phase's messages, in order; completion: the completion dialog's note, nullptr: no such dialog.
struct Case {
    const char *name, *options, *lang, *installer, *typeAfter;
    std::vector<const char *> failures;
    const char *completion;
};

const char kNotInstalled[] = "The installation of the updated version of the ZAV backup and restore program was not successful.";

const Case kCases[] = {
    {"Windows98InFrench", "--os 98 --service fat32 --hidden --old-version", "fr_FR.UTF-8", "", "1b", {},
     "Cliquez sur OK pour redémarrer le système"},
    {"Nt4Fat16InJapanese", "--os nt4 --service fat16 --hidden --old-version", "ja_JP.UTF-8", "", "16", {},
     "システムを再起動するにはOKボタンをクリックしてください。"},
    {"Windows2000InEnglish", "--os 2000 --service fat32-lba --hidden --old-version", "C", "", "1c", {},
     "Click OK to restart your system."},
    {"NoServicePartitionNoSecondRestart", "--os 2000 --old-version", "C", "", nullptr, {},
     "Click OK to restart your system."},
    {"FlagNeverWritten", "--os 2000 --service fat32 --hidden --old-version", "C", "flag=never", "1b",
     {kNotInstalled, kNotInstalled}, nullptr},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class UpdateE2eTest : public testing::TestWithParam<Case> {
protected:
    test::RunResult Tool(const std::string &verb, const std::string &rest = "") {
        return test::Run("env -u LC_ALL -u LC_MESSAGES LANG=" + std::string(GetParam().lang) +
                         " ZAV_FRONTEND=noninteractive ZAV_CLOCK_SCALE=0 " + kTool + " " + verb + " " +
                         machine_.Dir().string() + rest + " 2>&1");
    }
    // The files below a folder of drive C:, as relative paths.
    std::set<std::string> Files(const std::string &folder) {
        std::set<std::string> files;
        fs::path root = host::HostPathFor(folder);
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file()) files.insert(fs::relative(it->path(), root).string());
        return files;
    }
    test::TestMachine machine_;
};

bool Has(const std::string &out, const std::string &line) { return out.find(line + "\n") != std::string::npos; }

TEST_P(UpdateE2eTest, BothPhasesAndBothRestarts) {
    const Case &c = GetParam();
    machine_.CreateWithTool(c.options);
    if (*c.installer) std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[installer]\n" << c.installer << "\n";
    auto first = Tool("run", " 'C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE'");
    ASSERT_EQ(first.status, 0) << first.out;
    auto second = Tool("boot"), third = Tool("boot");
    ASSERT_EQ(second.status, 0) << second.out;

    // What the user saw in the second phase.
    std::vector<std::string> failures;
    for (size_t at = second.out.find("text 1009: "); at != std::string::npos; at = second.out.find("text 1009: ", at + 1))
        failures.push_back(second.out.substr(at + 11, second.out.find('\n', at) - at - 11));
    EXPECT_EQ(failures, std::vector<std::string>(c.failures.begin(), c.failures.end())) << second.out;
    EXPECT_EQ(Has(second.out, "text 1013: Your system will restart when you click OK"), !c.failures.empty()) << second.out;
    EXPECT_EQ(second.out.find("=== dialog 132") != std::string::npos, c.completion != nullptr) << second.out;
    if (c.completion) { EXPECT_TRUE(Has(second.out, std::string("text 1010: ") + c.completion)) << second.out; }
    // Two restarts: the first phase's, then the second's, unless there was no partition.
    EXPECT_EQ(second.out.rfind("restart request cleared (flags=6)\n", 0), 0u) << second.out;
    EXPECT_EQ(third.out.rfind(c.typeAfter ? "restart request cleared (flags=6)\n" : "cold boot\n", 0), 0u) << third.out;
    EXPECT_TRUE(Has(third.out, "RunOnce: nothing to run")) << third.out;
    if (!c.typeAfter) return;

    std::string disk = (machine_.Dir() / "disk.img").string(), part = (machine_.Dir() / "part.img").string();
    EXPECT_EQ(test::Run("sfdisk --part-type " + disk + " 2 | tr -d ' \\n'").out, c.typeAfter);
    auto fsck = test::Run("dd if=" + disk + " bs=1M skip=1 status=none of=" + part + " && fsck.fat -n " + part);
    EXPECT_EQ(fsck.status, 0) << fsck.out;
    if (!c.failures.empty()) return;
    // The recovery programs on the service volume are 1.1's, on every system.
    for (const char *program : {"SLX_REST.EXE", "VDG_INIT.EXE"}) {
        fs::path copy = machine_.Dir() / program;
        ASSERT_TRUE(host::fat::CopyOut({machine_.Dir() / "disk.img", 2048 * 512}, std::string("RECOVERY\\") + program, copy));
        EXPECT_NE(test::ReadBytes(copy).find("1.1"), std::string::npos) << program;
    }
    // Only what 1.1 installed is left of the product.
    EXPECT_EQ(Files("C:\\Program Files\\ZAV backup and restore"),
              (std::set<std::string>{"KBACKUP.EXE", "README.TXT", "Salvix/SLX_REST.EXE", "Salvix/DIAG/VDG_INIT.EXE",
                                     "DOS/FL_BOOT.DAT", "DOS/IO.SYS", "DOS/MSDOS.SYS", "DOS/COMMAND.COM"}));
    // The Start-menu folders: 1.1's shortcut for the user; no all-users folder left on NT.
    const char os = c.options[5];  // "--os 98", "--os nt4", "--os 2000"
    std::string profiles = os == '9' ? "" : os == 'n' ? "C:\\WINNT\\Profiles\\" : "C:\\Documents and Settings\\";
    std::string user = profiles.empty() ? "C:\\WINDOWS\\" : profiles + "Administrator\\";
    EXPECT_EQ(Files(user + "Start Menu\\Programs\\ZAV backup and restore"),
              (std::set<std::string>{"ZAV backup and restore.lnk"}));
    if (!profiles.empty()) { EXPECT_TRUE(Files(profiles + "All Users\\Start Menu\\Programs\\ZAV backup and restore").empty()); }
    std::string registry;
    ASSERT_EQ(host::RegistryExport(&registry), 0);
    std::string keldan = registry.substr(registry.find("[HKEY_LOCAL_MACHINE\\Software\\Keldan]"));
    keldan = keldan.substr(0, keldan.find("[HKEY_LOCAL_MACHINE\\Software\\Microsoft"));
    EXPECT_EQ(keldan.find("\"Version\"=\"1.0\""), std::string::npos) << keldan;
    EXPECT_NE(keldan.find("\"BuildNumber\"=\"4076\""), std::string::npos) << keldan;
    EXPECT_EQ(keldan.find("Components"), std::string::npos) << "1.0's own subkey is gone";
}

INSTANTIATE_TEST_SUITE_P(Machines, UpdateE2eTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
