// The driver end to end: the real program on a sandbox machine made by
// zav-machine, its dialogs answered by the noninteractive frontend.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const std::string kBuild = ZAV_BUILD_DIR;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("zav-driver-" + std::to_string(getpid()) + "-" +
                                               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void NewMachine(const std::string &options = "--installer SETUP.EXE") {
        auto r = test::Run(kBuild + "/zav-machine new " + dir_.string() + " " + options + " 2>&1");
        ASSERT_EQ(r.status, 0) << r.out;
    }

    // Runs a Windows command line in the machine with a language and answers.
    test::RunResult RunUpdate(const std::string &line, const std::string &lang = "C",
                              const std::string &answers = "") {
        std::string env = "env -u LC_ALL -u LC_MESSAGES LANG=" + lang + " ZAV_FRONTEND=noninteractive ZAV_CLOCK_SCALE=0 "
                          "ZAV_ANSWERS='" + answers + "' ";
        return test::Run(env + kBuild + "/zav-machine run " + dir_.string() + " '" + line + "' 2>&1");
    }

    bool RestartRecorded() const { return fs::exists(dir_ / "restart"); }

    fs::path dir_;
};

bool Has(const std::string &out, const std::string &line) { return out.find(line + "\n") != std::string::npos; }

TEST_F(DriverTest, MissingInstallerFailsInTheUsersLanguage) {
    struct LanguageCase {
        const char *lang, *caption, *heading, *message;
    };
    const LanguageCase cases[] = {
        {"C", "ZAV backup and restore program update", "This program failed because of the following:",
         "The update program cannot find the specified installation program."},
        {"fr_FR.UTF-8", "Mise à jour du programme de sauvegarde et de restauration ZAV",
         "L'exécution du programme a échoué pour l'une des raisons suivantes :",
         "Le programme de mise à jour ne peut pas trouver le programme d'installation indiqué."},
        {"ja_JP.UTF-8", "ZAV backup and restore program アップデート", "このプログラムは次の理由により失敗しました:",
         "アップデート・プログラムはインストール・プログラムのスペックを見つけられません。"},
    };
    NewMachine();
    for (const LanguageCase &c : cases) {
        SCOPED_TRACE(c.lang);
        auto r = RunUpdate("C:\\UPDATE\\UPDATE.EXE unhide MISSING.EXE", c.lang);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(Has(r.out, std::string("=== dialog 131: ") + c.caption)) << r.out;
        EXPECT_TRUE(Has(r.out, std::string("text: ") + c.heading)) << r.out;
        EXPECT_TRUE(Has(r.out, std::string("text 1009: ") + c.message)) << r.out;
        EXPECT_EQ(r.out.find("text 1013"), std::string::npos) << "no restart note expected";
        EXPECT_EQ(r.out.find("=== dialog", r.out.find("=== dialog 131") + 1), std::string::npos) << "one dialog only";
        EXPECT_FALSE(RestartRecorded());
    }
}

TEST_F(DriverTest, BadStartsShowTheirMessageAndChangeNothing) {
    struct BadStart {
        const char *machineOptions, *line, *message;
    };
    const BadStart cases[] = {
        {"--installer SETUP.EXE", "C:\\UPDATE\\UPDATE.EXE unhide",
         "Internal error: required parameter not present.  Install the update program again."},
        {"--installer SETUP.EXE", "C:\\UPDATE\\UPDATE.EXE unhide ..\\SETUP.EXE",
         "Internal error: required parameter not present.  Install the update program again."},
        {"--installer SETUP.EXE", "C:\\UPDATE\\UPDATE.EXE SETUP.EXE",
         "Internal error: required parameter not present.  Install the update program again."},
        // Mended: a folder beside the program is no installation program.
        {"--installer SETUP.EXE", "C:\\UPDATE\\UPDATE.EXE unhide ..",
         "The update program cannot find the specified installation program."},
        {"--installer SETUP.EXE", "C:\\UPDATE\\UPDATE.EXE unhide .",
         "The update program cannot find the specified installation program."},
    };
    for (const BadStart &c : cases) {
        SCOPED_TRACE(c.line);
        fs::remove_all(dir_);
        NewMachine(c.machineOptions);
        std::string registryBefore = test::Run("cat " + (dir_ / "registry.reg").string()).out;
        auto r = RunUpdate(c.line);
        EXPECT_TRUE(Has(r.out, std::string("text 1009: ") + c.message)) << r.out;
        EXPECT_EQ(r.out.find("=== dialog 102"), std::string::npos);
        EXPECT_EQ(test::Run("cat " + (dir_ / "registry.reg").string()).out, registryBefore);
        EXPECT_FALSE(RestartRecorded());
    }
}

// Mended: an os= that names no system is refused before anything runs,
// with a line that names the file and the key; it used to run as 2000.
TEST_F(DriverTest, MachineWithAnUnknownSystemIsRefused) {
    for (const char *os : {"banana", ""}) {
        SCOPED_TRACE(os);
        fs::remove_all(dir_);
        NewMachine("--os 98 --service fat32 --hidden");
        std::ofstream(dir_ / "machine.ini", std::ios::app) << "\n[machine]\nos=" << os << "\n";
        std::string mbrBefore = test::Run("head -c 512 " + (dir_ / "disk.img").string() + " | od -An -tx1").out;
        auto r = RunUpdate("C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE", "C", "102=ok");
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find((dir_ / "machine.ini").string() + ": [machine] os=" + os + " is no system"),
                  std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("=== dialog"), std::string::npos) << r.out;
        EXPECT_EQ(test::Run("head -c 512 " + (dir_ / "disk.img").string() + " | od -An -tx1").out, mbrBefore);
        auto direct = test::Run("env ZAV_MACHINE=" + dir_.string() + " " + kBuild + "/update unhide SETUP.EXE 2>&1");
        EXPECT_EQ(direct.status, 2);
        EXPECT_NE(direct.out.find("os=" + std::string(os) + " is no system"), std::string::npos) << direct.out;
    }
}

TEST_F(DriverTest, WelcomeDialogInEachLanguageEndsOnCancel) {
    const struct {
        const char *lang, *cancel;
    } cases[] = {{"C", "button 2: Cancel"}, {"fr_FR.UTF-8", "button 2: Annuler"}, {"ja_JP.UTF-8", "button 2: キャンセル"}};
    NewMachine();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lang);
        auto r = RunUpdate("C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE", c.lang, "102=cancel");
        EXPECT_TRUE(Has(r.out, c.cancel)) << r.out;
        EXPECT_TRUE(Has(r.out, "answer 102: cancel")) << r.out;
        EXPECT_FALSE(RestartRecorded());
    }
}

TEST_F(DriverTest, AboutBoxReturnsToTheWelcomeDialog) {
    NewMachine();
    auto r = RunUpdate("C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE", "C", "102=about 100=ok 102=cancel");
    size_t about = r.out.find("=== dialog 100: About update");
    ASSERT_NE(about, std::string::npos) << r.out;
    EXPECT_TRUE(Has(r.out, "menu 16: &About update...")) << r.out;
    EXPECT_TRUE(Has(r.out, "text: update Version 1.0")) << r.out;
    EXPECT_GT(r.out.find("answer 102: cancel"), about);
    EXPECT_EQ(r.out.find("=== dialog 13"), std::string::npos) << "nothing after Cancel";
    EXPECT_FALSE(RestartRecorded());
}

}  // namespace
