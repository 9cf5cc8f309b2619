// A whole update on Windows NT 4 with a hidden FAT32 service partition: the
// second phase ends with a startup diskette, or without one when the user
// declines, and the restart after it starts from the diskette or not. (What
// a made diskette holds is the builder's test.)
#include <gtest/gtest.h>

#include "tests/test_machine.h"

namespace {

const std::string kTool = std::string(ZAV_BUILD_DIR) + "/zav-machine";

const struct Case {
    const char *name, *floppy, *answers, *lang;
    const char *retryText;  // shown in the retry question; nullptr: no question
    bool made;         // a diskette was made, and so the partition stays visible
    const char *note;  // the completion dialog's note
} kCases[] = {
    {"MadeInFrench", "full", "", "fr_FR.UTF-8", nullptr, true,
     "Laissez la disquette de démarrage dans l'unité A:, puis cliquez sur OK pour redémarrer le système à partir de "
     "l'unité de disquette."},
    {"PromptCancelled", "blank", "133=cancel", "C", nullptr, false, "Click OK to restart your system."},
    {"WriteProtectedThenAnother", "protected", "136=yes@a=blank", "C", "The floppy is write protected.", true,
     "Leave the startup diskette in A: and click OK to restart your system from the floppy drive."},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class DisketteE2eTest : public testing::TestWithParam<Case> {
protected:
    test::RunResult Tool(const std::string &verb, const std::string &rest = "") {
        return test::Run("env -u LC_ALL -u LC_MESSAGES LANG=" + std::string(GetParam().lang) +
                         " ZAV_FRONTEND=noninteractive ZAV_CLOCK_SCALE=0 ZAV_ANSWERS='" + GetParam().answers + "' " + kTool +
                         " " + verb + " " + machine_.Dir().string() + rest + " 2>&1");
    }
    test::TestMachine machine_;
};

bool Has(const std::string &out, const std::string &line) { return out.find(line + "\n") != std::string::npos; }

TEST_P(DisketteE2eTest, SecondPhaseEndsWithOrWithoutADiskette) {
    const Case &c = GetParam();
    machine_.CreateWithTool(std::string("--os nt4 --service fat32 --hidden --old-version --floppy ") + c.floppy);
    auto first = Tool("run", " 'C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE'");
    ASSERT_EQ(first.status, 0) << first.out;
    auto second = Tool("boot"), third = Tool("boot");
    ASSERT_EQ(second.status, 0) << second.out;

    std::string caption = *c.lang == 'f' ? "Création de la disquette de démarrage" : "Creating startup diskette";
    EXPECT_TRUE(Has(second.out, "=== dialog 133: " + caption)) << second.out;
    EXPECT_EQ(second.out.find("=== dialog 136") != std::string::npos, c.retryText != nullptr) << second.out;
    if (c.retryText) { EXPECT_TRUE(Has(second.out, std::string("text 1012: ") + c.retryText)) << second.out; }
    EXPECT_EQ(second.out.find("=== dialog 131"), std::string::npos) << "no failure dialog: " << second.out;
    EXPECT_TRUE(Has(second.out, std::string("text 1010: ") + c.note)) << second.out;
    // From a made diskette the machine starts DOS, which the sandbox does not
    // run: the second phase's restart request stays as it was made.
    const char *start = c.made ? "the machine starts from the startup diskette in A:" : "restart request cleared (flags=6)\n";
    EXPECT_EQ(third.out.rfind(start, 0), 0u) << third.out;
    unsigned flags = 0;
    EXPECT_EQ(machine_.RestartRecorded(&flags), c.made);
    if (c.made) { EXPECT_EQ(flags, 6u); }
    std::string type = test::Run("sfdisk --part-type " + (machine_.Dir() / "disk.img").string() + " 2 | tr -d ' \\n'").out;
    EXPECT_EQ(type, c.made ? "b" : "1b");
}

INSTANTIATE_TEST_SUITE_P(Nt4Fat32, DisketteE2eTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
