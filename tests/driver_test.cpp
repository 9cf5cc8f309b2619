// The driver end to end: the real program on a sandbox machine made by
// zav-machine, its dialogs answered by the noninteractive frontend. (Which
// command lines are refused with which code is command_line_test's.)
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/test_machine.h"

namespace {

const std::string kBuild = ZAV_BUILD_DIR;

class DriverTest : public ::testing::Test {
protected:
    // Runs a Windows command line in the machine with a language and answers.
    test::RunResult RunUpdate(const std::string &line, const std::string &lang = "C", const std::string &answers = "") {
        return test::Run("env -u LC_ALL -u LC_MESSAGES LANG=" + lang + " ZAV_FRONTEND=noninteractive ZAV_CLOCK_SCALE=0 "
                         "ZAV_ANSWERS='" + answers + "' " + kBuild + "/zav-machine run " + machine_.Dir().string() +
                         " '" + line + "' 2>&1");
    }
    test::TestMachine machine_;
};

bool Has(const std::string &out, const std::string &line) { return out.find(line + "\n") != std::string::npos; }

// A failure before the welcome dialog, then the welcome dialog with its About
// box, cancelled: each in the user's language.
TEST_F(DriverTest, DialogsInTheUsersLanguage) {
    const struct { const char *lang, *caption, *heading, *message, *about, *cancel; } cases[] = {
        {"C", "ZAV backup and restore program update", "This program failed because of the following:",
         "The update program cannot find the specified installation program.", "&About update...", "Cancel"},
        {"fr_FR.UTF-8", "Mise à jour du programme de sauvegarde et de restauration ZAV",
         "L'exécution du programme a échoué pour l'une des raisons suivantes :",
         "Le programme de mise à jour ne peut pas trouver le programme d'installation indiqué.",
         "&A propos de la mise à jour...", "Annuler"},
        {"ja_JP.UTF-8", "ZAV backup and restore program アップデート", "このプログラムは次の理由により失敗しました:",
         "アップデート・プログラムはインストール・プログラムのスペックを見つけられません。", "&アップデートについて",
         "キャンセル"},
    };
    machine_.CreateWithTool("--installer SETUP.EXE");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lang);
        auto r = RunUpdate("C:\\UPDATE\\UPDATE.EXE unhide MISSING.EXE", c.lang);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(Has(r.out, std::string("=== dialog 131: ") + c.caption)) << r.out;
        EXPECT_TRUE(Has(r.out, std::string("text: ") + c.heading)) << r.out;
        EXPECT_TRUE(Has(r.out, std::string("text 1009: ") + c.message)) << r.out;
        EXPECT_EQ(r.out.find("text 1013"), std::string::npos) << "no restart note expected";
        EXPECT_EQ(r.out.find("=== dialog", r.out.find("=== dialog 131") + 1), std::string::npos) << "one dialog only";

        r = RunUpdate("C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE", c.lang, "102=about 100=ok 102=cancel");
        EXPECT_TRUE(Has(r.out, std::string("menu 16: ") + c.about)) << r.out;
        EXPECT_TRUE(Has(r.out, std::string("button 2: ") + c.cancel)) << r.out;
        size_t about = r.out.find("=== dialog 100: "), cancel = r.out.find("answer 102: cancel\n");
        EXPECT_NE(cancel, std::string::npos) << r.out;
        EXPECT_LT(about, cancel) << "the About box first: " << r.out;
        EXPECT_EQ(r.out.find("=== dialog 13"), std::string::npos) << "nothing after Cancel";
        EXPECT_FALSE(machine_.RestartRecorded());
    }
}

TEST_F(DriverTest, BadStartsShowTheirMessageAndChangeNothing) {
    // A path for a name, and (mended) a folder beside the program, which is no installation program.
    const struct { const char *line, *message; } cases[] = {
        {"unhide ..\\SETUP.EXE", "Internal error: required parameter not present.  Install the update program again."},
        {"unhide ..", "The update program cannot find the specified installation program."},
    };
    machine_.CreateWithTool("--installer SETUP.EXE");
    const std::string registryBefore = test::ReadBytes(machine_.Dir() / "registry.reg");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        auto r = RunUpdate(std::string("C:\\UPDATE\\UPDATE.EXE ") + c.line);
        EXPECT_TRUE(Has(r.out, std::string("text 1009: ") + c.message)) << r.out;
        EXPECT_EQ(r.out.find("=== dialog 102"), std::string::npos);
        EXPECT_EQ(test::ReadBytes(machine_.Dir() / "registry.reg"), registryBefore);
        EXPECT_FALSE(machine_.RestartRecorded());
    }
}

// Mended: an os= that names no system is refused before anything runs,
// with a line that names the file and the key; it used to run as 2000.
// (That the program started directly makes the same check is
// bad_machine_test's.)
TEST_F(DriverTest, MachineWithAnUnknownSystemIsRefused) {
    for (const char *os : {"banana", ""}) {
        SCOPED_TRACE(os);
        machine_.CreateWithTool("--os 98 --service fat32 --hidden");
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[machine]\nos=" << os << "\n";
        auto r = RunUpdate("C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE", "C", "102=ok");
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find((machine_.Dir() / "machine.ini").string() + ": [machine] os=" + os + " is no system"),
                  std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("=== dialog"), std::string::npos) << "nothing runs, so nothing is written: " << r.out;
    }
}

}  // namespace
