// The driver's second phase in process, on machines made by zav-machine:
// the diskette attempt is a double that returns scripted results, so the
// retry loop's branches can be walked; everything else (the worker, the
// installer, the re-hide, the retry question) is the program's. Outcomes are read where a user would
// see them: the partition's type byte on disk, the restart request and the
// dialogs of the transcript. (The plain runs, a prompt cancelled and a
// diskette made after a retry are the whole-update tests'.)
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/update_app.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"
#include "platform/host/user/internal.h"
#include "tests/test_machine.h"

namespace {

// Each diskette attempt returns the next scripted result.
class DoubledApp : public CUpdateApp {
public:
    std::vector<UPD_RESULT> diskette;  // one result per attempt
    size_t nAttempts = 0;

    UPD_RESULT CreateStartupDiskette() override {
        return nAttempts < diskette.size() ? diskette[nAttempts++] : IDS_USER_CANCELLED;
    }
};

// service: zav-machine's --service of the visible partition, "none"; options: after "hide SETUP.EXE";
// nPhase: 118, the installer is no program; diskette: one result per attempt; answers: ZAV_ANSWERS, for the
// retry question; fault: a WriteFile fault (the re-hide's MBR write), "" none; nAttempts: diskette attempts
// made; nTypeAfter: the service entry's type byte, -1 none; retry: the reason the retry question shows, nullptr
// no question; note: the completion dialog's note text, nullptr no dialog; failures: messages shown, in order, a
// '+' first: with the restart note.
struct Case {
    const char *name, *os, *service, *options;
    UPD_RESULT nPhase;
    std::vector<UPD_RESULT> diskette;
    const char *answers, *fault;
    size_t nAttempts;
    int nTypeAfter;
    bool bRestart;
    const char *retry, *note;
    std::vector<const char *> failures;
};

const char kRestartNote[] = "Click OK to restart your system.";
const char kNotInstalled[] = "The updated version of the ZAV backup and restore program cannot be installed.";
const char kNotInstalledWithNote[] = "+The updated version of the ZAV backup and restore program cannot be installed.";

const Case kCases[] = {
    // Re-hide 104: no restart, the note all the same; typec on 2000: no diskette stage.
    {"NoPartitionNoRestart", "2000", "none", " noservice typec", UPD_OK, {UPD_OK}, "", "", 0, -1, false, nullptr,
     kRestartNote, {}},
    // Re-hide fails: shown with the note, restart, no completion; no typec: no diskette stage.
    {"RehideFailureIsShownWithTheNote", "nt4", "fat16", "", UPD_OK, {UPD_OK}, "", "1+:29", 0, 0x06, true, nullptr,
     nullptr, {"+The update program cannot update your partition table."}},
    // A failed attempt asks again, showing its reason.
    {"DisketteRetryDeclined", "nt4", "fat32", " typec", UPD_OK, {IDS_NO_DISKETTE}, "136=cancel", "", 1, 0x1B, true,
     "There is no diskette in the drive.", kRestartNote, {}},
    // The worker's failure is shown twice, the second time with the note; a diskette made leaves the
    // partition visible.
    {"DisketteStageRunsAfterAFailedWorker", "nt4", "fat32", " typec", 118, {UPD_OK}, "", "", 1, 0x0B, true, nullptr,
     nullptr, {kNotInstalled, kNotInstalledWithNote}},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class DriverSecondPhaseTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        setenv("ZAV_FRONTEND", "noninteractive", 1);
        setenv("LANG", "C", 1);
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
    }
    void TearDown() override { host::fault::Clear(); }

    int TypeAfter() {
        std::string mbr(512, '\0');
        std::ifstream(machine_.Dir() / "disk.img", std::ios::binary).read(mbr.data(), 512);
        return static_cast<unsigned char>(mbr[446 + 16 + 4]);
    }
    test::TestMachine machine_;
};

// Each dialog `id` of the transcript: its header line and what it showed.
std::vector<std::string> Dialogs(const std::string &out, const std::string &id) {
    std::vector<std::string> dialogs;
    for (size_t at = out.find("=== dialog"); at != std::string::npos;) {
        size_t next = out.find("=== dialog", at + 1);
        if (out.compare(at, 11 + id.size(), "=== dialog " + id) == 0) dialogs.push_back(out.substr(at, next - at));
        at = next;
    }
    return dialogs;
}

TEST_P(DriverSecondPhaseTest, RehidesCompletesAndRestartsAsThePhaseEnds) {
    const Case &c = GetParam();
    machine_.CreateWithTool(std::string("--installer SETUP.EXE --os ") + c.os + " --service " + c.service);
    {
        std::ofstream ini(machine_.Dir() / "machine.ini", std::ios::app);
        // As a start after the first phase leaves it: the service volume mounted.
        if (std::string(c.service) != "none") ini << "\n[drive D]\nimage=disk.img\npartition=1\n";
        if (c.nPhase == IDS_INSTALL_NOT_POSSIBLE) ini << "\n[program SETUP.EXE]\nbroken=1\n";
        if (*c.fault) ini << "\n[faults]\nWriteFile=" << c.fault << "\n";
    }
    host::ReloadMachine();
    ASSERT_EQ(host::fault::LoadMachineRules(), "");
    setenv("ZAV_ANSWERS", c.answers, 1);
    host::ResetFrontendForTesting();
    DoubledApp app;
    app.diskette = c.diskette;
    app.InitModule((std::string("hide SETUP.EXE") + c.options).c_str());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(app.InitInstance());
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(app.nAttempts, c.nAttempts);
    if (c.nTypeAfter >= 0) { EXPECT_EQ(TypeAfter(), c.nTypeAfter); }
    EXPECT_EQ(machine_.RestartRecorded(), c.bRestart);
    // Dialog `id` once, showing `line` + `text`; none when text is nullptr.
    auto once = [&](const std::string &id, const std::string &line, const char *text) {
        std::vector<std::string> shown = Dialogs(out, id);
        ASSERT_EQ(shown.size(), text ? 1u : 0u) << out;
        if (text) { EXPECT_NE(shown[0].find(line + text + "\n"), std::string::npos) << shown[0]; }
    };
    once("136", "text 1012: ", c.retry);
    once("132", "text 1010: ", c.note);
    std::vector<std::string> failures = Dialogs(out, "131");
    ASSERT_EQ(failures.size(), c.failures.size()) << out;
    for (size_t i = 0; i < failures.size(); ++i) {
        bool withNote = c.failures[i][0] == '+';
        EXPECT_NE(failures[i].find(std::string("text 1009: ") + (c.failures[i] + withNote) + "\n"), std::string::npos)
            << failures[i];
        EXPECT_EQ(failures[i].find("text 1013:") != std::string::npos, withNote) << failures[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Branches, DriverSecondPhaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
