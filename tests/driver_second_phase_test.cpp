// The driver's second phase in process, on machines made by zav-machine:
// the diskette attempt is a double that returns scripted results, so the
// retry loop's branches can be walked; everything else (the worker, the
// installer, the re-hide, the retry question) is the program's. Outcomes are read where a user would
// see them: the partition's type byte on disk, the restart request and the
// dialogs of the transcript.
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

struct Case {
    const char *name;
    const char *why;
    const char *os;       // the machine's system
    const char *service;  // zav-machine's --service of the visible partition; "none"
    const char *options;  // after "hide SETUP.EXE"
    UPD_RESULT nPhase;  // 118: the installer is no program
    std::vector<UPD_RESULT> diskette;
    const char *answers;        // ZAV_ANSWERS, for the retry question
    const char *fault;          // a WriteFile fault (the re-hide's MBR write): "" none
    size_t nAttempts;           // diskette attempts made
    int nTypeAfter;             // the service entry's type byte; -1 none
    bool bRestart;
    const char *note;           // the completion dialog's note text; "" no note; nullptr no dialog
    std::vector<const char *> failures;  // messages shown, in order; a '+' first: with the restart note
};

const char kRestartNote[] = "Click OK to restart your system.";
const char kDisketteNote[] =
    "Leave the startup diskette in A: and click OK to restart your system from the floppy drive.";
const char kNotInstalled[] = "The updated version of the ZAV backup and restore program cannot be installed.";

const Case kCases[] = {
    {"RehiddenAndRestarted", "re-hide 108: hidden, completion with the restart note, restart", "2000", "fat32", "", UPD_OK, {}, "", "", 0,
     0x1B, true, kRestartNote, {}},
    {"NoPartitionNoRestart", "re-hide 104 (noservice, no partition): no restart, the note all the same", "2000", "none", " noservice", UPD_OK,
     {}, "", "", 0, -1, false, kRestartNote, {}},
    {"RehideFailureIsShownWithTheNote", "re-hide fails: shown with the note, restart, no completion", "2000", "fat32", "", UPD_OK, {}, "", "1+:29", 0,
     0x0B, true, nullptr, {"+The update program cannot update your partition table."}},
    {"WorkerFailureIsShownTwice", "worker fails: shown twice, the second time with the note; re-hide, restart", "2000", "fat32", "", 118, {}, "",
     "", 0, 0x1B, true, nullptr, {kNotInstalled, "+The updated version of the ZAV backup and restore program cannot be "
                                                "installed."}},
    {"DisketteMadeKeepsThePartitionVisible", "NT 4 typec, diskette made: diskette note, partition stays visible", "nt4", "fat32", " typec", UPD_OK,
     {UPD_OK}, "", "", 1, 0x0B, true, kDisketteNote, {}},
    {"DisketteDeclined", "NT 4 typec, prompt declined: re-hidden, restart note", "nt4", "fat32", " typec", UPD_OK,
     {IDS_USER_CANCELLED}, "", "", 1, 0x1B, true, kRestartNote, {}},
    {"DisketteRetriedThenMade", "NT 4 typec, write-protected, Yes, then made", "nt4", "fat32", " typec", UPD_OK,
     {IDS_FLOPPY_WRITE_PROTECTED, UPD_OK}, "136=ok", "", 2, 0x0B, true, kDisketteNote, {}},
    {"DisketteRetryDeclined", "NT 4 typec, no diskette, No: re-hidden", "nt4", "fat32", " typec", UPD_OK, {IDS_NO_DISKETTE}, "136=cancel",
     "", 1, 0x1B, true, kRestartNote, {}},
    {"DisketteRetriedThenCancelled", "NT 4 typec, worker not started, Yes, then the prompt cancelled: re-hidden", "nt4", "fat32", " typec",
     UPD_OK, {IDS_THREAD_FAILED, IDS_USER_CANCELLED}, "136=yes", "", 2, 0x1B, true, kRestartNote, {}},
    {"DisketteStageRunsAfterAFailedWorker", "NT 4 typec, worker failed: the diskette stage still runs", "nt4", "fat32", " typec", 118, {UPD_OK}, "", "", 1,
     0x0B, true, nullptr, {kNotInstalled, "+The updated version of the ZAV backup and restore program cannot be "
                                         "installed."}},
    {"NoDisketteStageOn2000", "typec on Windows 2000: no diskette stage", "2000", "fat32", " typec", UPD_OK, {UPD_OK}, "", "", 0, 0x1B, true,
     kRestartNote, {}},
    {"NoDisketteStageWithoutTypec", "NT 4 without typec: no diskette stage", "nt4", "fat16", "", UPD_OK, {UPD_OK}, "", "", 0, 0x16, true,
     kRestartNote, {}},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.why; }

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

// Each dialog of the transcript: its header line and what it showed.
std::vector<std::string> Dialogs(const std::string &out) {
    std::vector<std::string> dialogs;
    for (size_t at = out.find("=== dialog"); at != std::string::npos;) {
        size_t next = out.find("=== dialog", at + 1);
        dialogs.push_back(out.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    return dialogs;
}

TEST_P(DriverSecondPhaseTest, RehidesCompletesAndRestartsAsThePhaseEnds) {
    const Case &c = GetParam();
    machine_.CreateWithTool(std::string("--installer SETUP.EXE --os ") + c.os + " --service " + c.service);
    // As a start after the first phase leaves it: the service volume mounted.
    if (std::string(c.service) != "none") {
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[drive D]\nimage=disk.img\npartition=1\n";
    }
    if (c.nPhase == IDS_INSTALL_NOT_POSSIBLE) {
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[program SETUP.EXE]\nbroken=1\n";
    }
    host::ReloadMachine();
    if (*c.fault) {
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[faults]\nWriteFile=" << c.fault << "\n";
        host::ReloadMachine();
        ASSERT_EQ(host::fault::LoadMachineRules(), "");
    }
    setenv("ZAV_ANSWERS", c.answers, 1);
    host::ResetFrontendForTesting();
    DoubledApp app;
    app.diskette = c.diskette;
    app.InitModule((std::string("hide SETUP.EXE") + c.options).c_str());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(app.InitInstance());
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(app.nAttempts, c.nAttempts);
    if (c.nTypeAfter >= 0) {
        EXPECT_EQ(TypeAfter(), c.nTypeAfter);
    }
    EXPECT_EQ(machine_.RestartRecorded(), c.bRestart);
    std::vector<std::string> failures, completions, retries;
    for (const std::string &d : Dialogs(out)) {
        if (d.rfind("=== dialog 131", 0) == 0) failures.push_back(d);
        if (d.rfind("=== dialog 132", 0) == 0) completions.push_back(d);
        if (d.rfind("=== dialog 136", 0) == 0) retries.push_back(d);
    }
    // Every failed attempt but a cancel asks again, showing its reason.
    std::vector<UPD_RESULT> reasons;
    for (size_t i = 0; i < app.nAttempts; ++i)
        if (c.diskette[i] != UPD_OK && c.diskette[i] != IDS_USER_CANCELLED) reasons.push_back(c.diskette[i]);
    ASSERT_EQ(retries.size(), reasons.size()) << out;
    for (size_t i = 0; i < reasons.size(); ++i) {
        char message[1000];
        ASSERT_GT(LoadStringA(nullptr, reasons[i], message, 999), 0);
        EXPECT_NE(retries[i].find(std::string("text 1012: ") + message + "\n"), std::string::npos) << retries[i];
    }
    ASSERT_EQ(failures.size(), c.failures.size()) << out;
    for (size_t i = 0; i < failures.size(); ++i) {
        bool withNote = c.failures[i][0] == '+';
        EXPECT_NE(failures[i].find(std::string("text 1009: ") + (c.failures[i] + withNote) + "\n"), std::string::npos)
            << failures[i];
        EXPECT_EQ(failures[i].find("text 1013:") != std::string::npos, withNote) << failures[i];
    }
    ASSERT_EQ(completions.size(), c.note ? 1u : 0u) << out;
    if (c.note) {
        EXPECT_NE(completions[0].find(std::string("text 1010: ") + c.note + "\n"), std::string::npos) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Branches, DriverSecondPhaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
