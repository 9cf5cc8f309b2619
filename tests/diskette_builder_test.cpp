// The diskette builder on real diskette images: what a made diskette holds,
// where each failure stops the build, and what a cancel at each moment does;
// then one whole attempt under its dialogs, answered by the noninteractive
// frontend.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "app/globals.h"
#include "app/update_app.h"
#include "diskette/diskette_thread.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/diskette.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/machine.h"
#include "platform/host/user/internal.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const char kInfo[] = "Software\\Keldan\\Info";
const char kSalvix[] = "Software\\Keldan\\Salvix";

// Every file the builder reads, each with content of its own.
const struct {
    const char *path, *content;
} kSources[] = {
    {"C:\\DOS\\IO.SYS", "io"},
    {"C:\\DOS\\MSDOS.SYS", "msdos"},
    {"C:\\DOS\\COMMAND.COM", "command"},
    {"C:\\DOS\\KCP.EXE", "kcp from the DOS folder"},
    {"C:\\UPDATE\\KAUTO.BAT", "@echo restore"},
    {"C:\\UPDATE\\KCP.EXE", "kcp"},
    {"C:\\ZAV\\SLX_REST.EXE", "restore"},
    {"C:\\ZAV\\DIAG\\VDG_INIT.EXE", "diagnostics"},
};

// The made diskette, in the order of the copies.
const std::vector<std::pair<std::string, std::string>> kMade = {
    {"IO.SYS", "io"},          {"MSDOS.SYS", "msdos"},       {"COMMAND.COM", "command"},
    {"AUTOEXEC.BAT", "@echo restore"}, {"KCP.EXE", "kcp"}, {"SLX_REST.EXE", "restore"},
    {"VDG_INIT.EXE", "diagnostics"},
};

class DisketteBuilderTest : public testing::Test {
protected:
    void SetUp() override { Prepare("full"); }
    void TearDown() override { host::fault::Clear(); }

    void Prepare(const std::string &kind) {
        host::fault::Clear();
        machine_.Create("nt4");
        machine_.InsertDiskette(kind);
        for (const auto &s : kSources) machine_.WriteFile(s.path, s.content);
        std::string error;
        bootImage_ = host::diskette::BootSectorImage(machine_.Dir(), &error);
        ASSERT_EQ(bootImage_.size(), 512u) << error;
        // A longer file is accepted; only its first sector is used.
        machine_.WriteFile("C:\\DOS\\FL_BOOT.DAT", bootImage_ + "tail");
        machine_.SetString(HKEY_LOCAL_MACHINE, kInfo, "DosFiles", "C:\\DOS");
        machine_.SetString(HKEY_LOCAL_MACHINE, kSalvix, "InstallPath", "C:\\ZAV");
        std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
        before_ = Bytes();
    }

    fs::path Image() const { return machine_.Dir() / "floppy.img"; }
    std::string Bytes() const { return test::ReadBytes(Image()); }
    std::set<std::string> RootNames() const {
        std::set<std::string> names;
        for (const auto &e : host::fat::List({Image(), 0}, "").value_or(std::vector<host::fat::Entry>{})) names.insert(e.name);
        return names;
    }
    // The new files among what the root holds (old ones may remain after a cancel).
    std::set<std::string> MadeNames() const {
        std::set<std::string> names;
        for (const auto &n : RootNames())
            for (const auto &made : kMade) if (made.first == n) names.insert(n);
        return names;
    }
    static std::set<std::string> FirstMade(size_t n) {
        std::set<std::string> names;
        for (size_t i = 0; i < n; ++i) names.insert(kMade[i].first);
        return names;
    }

    // Runs the worker on its own thread, as the wait dialog does.
    DWORD Build() {
        DisketteParams params = {&cancel_};
        HANDLE hThread = CreateThread(nullptr, 1048576, DisketteThread, &params, 0, nullptr);
        EXPECT_NE(hThread, nullptr);
        EXPECT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
        DWORD code = STILL_ACTIVE;
        EXPECT_TRUE(GetExitCodeThread(hThread, &code));
        CloseHandle(hThread);
        return code;
    }

    test::TestMachine machine_;
    CancelFlag cancel_{0};
    std::string bootImage_, before_;
};

TEST_F(DisketteBuilderTest, FullDisketteEndsWithExactlyTheSevenFiles) {
    ASSERT_EQ(Build(), UPD_OK);
    std::set<std::string> expected;
    for (const auto &[name, content] : kMade) {
        expected.insert(name);
        ASSERT_TRUE(host::fat::CopyOut({Image(), 0}, name, machine_.Dir() / "out"));
        EXPECT_EQ(test::ReadBytes(machine_.Dir() / "out"), content) << name;
    }
    EXPECT_EQ(RootNames(), expected);
    EXPECT_EQ(host::fat::Label({Image(), 0}), "") << "the root directory was cleared";
    std::string after = Bytes();
    EXPECT_EQ(after.substr(0, 11), bootImage_.substr(0, 11));
    EXPECT_EQ(after.substr(11, 16), before_.substr(11, 16));
    EXPECT_EQ(after.substr(27, 485), bootImage_.substr(27, 485));
    test::RunResult fsck = test::Run("fsck.fat -n " + Image().string() + " 2>&1");
    EXPECT_EQ(fsck.status, 0) << fsck.out;
}

TEST_F(DisketteBuilderTest, FailuresStopTheBuildWhereTheyHappen) {
    const struct {
        const char *why, *kind;
        std::function<void(test::TestMachine &)> spoil;
        DWORD result;
        size_t made;      // files of kMade on the diskette afterwards
        bool rawWritten;  // boot sector and root directory were written
    } cases[] = {
        {"no DosFiles", "full", [](auto &) { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInfo); }, IDS_REGISTRY_ACCESS_FAILED, 0, false},
        {"no InstallPath", "full", [](auto &) { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSalvix); }, IDS_REGISTRY_ACCESS_FAILED, 0, false},
        {"short boot image", "full", [](auto &m) { m.WriteFile("C:\\DOS\\FL_BOOT.DAT", std::string(300, 'b')); },
         IDS_DOS_FILES_MISSING, 0, false},
        {"no boot image", "full", [](auto &) { fs::remove(host::HostPathFor("C:\\DOS\\FL_BOOT.DAT")); }, IDS_DOS_FILES_MISSING, 0, false},
        {"DOS folder past the buffer", "full",
         [](auto &m) { m.SetString(HKEY_LOCAL_MACHINE, kInfo, "DosFiles", "C:\\" + std::string(248, 'D')); }, IDS_DOS_FILES_MISSING, 0, false},
        {"no COMMAND.COM", "full", [](auto &) { fs::remove(host::HostPathFor("C:\\DOS\\COMMAND.COM")); }, IDS_DOS_FILES_MISSING, 2, true},
        {"KCP.EXE only in the DOS folder", "full", [](auto &) { fs::remove(host::HostPathFor("C:\\UPDATE\\KCP.EXE")); },
         IDS_DOS_FILES_MISSING, 4, true},
        {"no restore program", "full", [](auto &) { fs::remove(host::HostPathFor("C:\\ZAV\\SLX_REST.EXE")); }, IDS_FILES_NOT_REPLACED, 5, true},
        {"no diagnostics program", "full", [](auto &) { fs::remove(host::HostPathFor("C:\\ZAV\\DIAG\\VDG_INIT.EXE")); },
         IDS_FILES_NOT_REPLACED, 6, true},
        {"install path past the buffer", "full",
         [](auto &m) { m.SetString(HKEY_LOCAL_MACHINE, kSalvix, "InstallPath", "C:\\" + std::string(254, 'Z')); }, IDS_FILES_NOT_REPLACED, 5, true},
        {"no diskette", "none", [](auto &) {}, IDS_NO_DISKETTE, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        Prepare(c.kind);
        c.spoil(machine_);
        EXPECT_EQ(Build(), c.result);
        if (std::string(c.kind) == "none") continue;
        EXPECT_EQ(RootNames(), FirstMade(c.made)) << "emptied first, then copied up to the failure";
        EXPECT_EQ(Bytes().substr(0, 512) == before_.substr(0, 512), !c.rawWritten);
        EXPECT_EQ(host::fat::Label({Image(), 0}).value_or("?") == "OLDDISK", !c.rawWritten && std::string(c.kind) == "full");
    }
}

TEST_F(DisketteBuilderTest, CancelIsSeenAtTheNextCheckPoint) {
    const struct {
        const char *why, *api;
        unsigned n;
        DWORD failRead;  // the boot image read fails too
        DWORD result;
        size_t made;
        int raw;  // 0 nothing written raw, 1 the boot sector, 2 also the root directory
    } cases[] = {
        {"while emptying", "DeleteFileA", 1, 0, IDS_USER_CANCELLED, 0, 0},
        {"while reading the boot image, which fails", "ReadFile", 1, ERROR_READ_FAULT, IDS_USER_CANCELLED, 0, 0},
        {"while writing the boot sector", "WriteFile", 1, 0, IDS_USER_CANCELLED, 0, 1},
        {"while copying IO.SYS", "CopyFileA", 1, 0, IDS_USER_CANCELLED, 1, 2},
        // No check between the last listed file and the restore program.
        {"while copying KCP.EXE", "CopyFileA", 5, 0, IDS_USER_CANCELLED, 6, 2},
        {"while copying the restore program", "CopyFileA", 6, 0, IDS_USER_CANCELLED, 6, 2},
        {"while copying the diagnostics program", "CopyFileA", 7, 0, UPD_OK, 7, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        Prepare("full");
        cancel_.store(0);
        host::fault::OnCall(c.api, c.n, [this] { cancel_.store(1); });
        if (c.failRead) host::fault::FailAt("ReadFile", 1, c.failRead);
        EXPECT_EQ(Build(), c.result);
        EXPECT_EQ(MadeNames(), FirstMade(c.made));
        EXPECT_EQ(Bytes().substr(0, 512) != before_.substr(0, 512), c.raw >= 1);
        EXPECT_EQ(host::fat::Label({Image(), 0}), c.raw == 2 ? "" : "OLDDISK");
    }
}

class DisketteAttemptTest : public DisketteBuilderTest {
protected:
    void SetUp() override {
        DisketteBuilderTest::SetUp();
        setenv("ZAV_FRONTEND", "noninteractive", 1);
        setenv("LANG", "C", 1);
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
    }
    UPD_RESULT Attempt(const std::string &answers, std::string *out) {
        setenv("ZAV_ANSWERS", answers.c_str(), 1);
        host::ResetFrontendForTesting();
        host::fault::Record();
        testing::internal::CaptureStdout();
        UPD_RESULT result = theApp.CreateStartupDiskette();
        *out = testing::internal::GetCapturedStdout();
        return result;
    }
    size_t CallsOf(const std::string &api) {
        size_t n = 0;
        for (const std::string &c : host::fault::Calls()) n += c == api;
        return n;
    }
};

// Holds the worker in its first deletion until this thread first waits for
// it: by then it has drained its queue once, the wait dialog's Cancel with it.
void HoldWorkerUntilFirstWait() {
    auto released = std::make_shared<std::atomic<bool>>(false);
    host::fault::OnCall("WaitForSingleObject", 1, [released] { released->store(true); });
    host::fault::OnCall("DeleteFileA", 1, [released] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!released->load() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    });
}

TEST_F(DisketteAttemptTest, OneAttemptAndItsDialogs) {
    const struct {
        const char *why, *answers;
        const char *failThread;  // CreateThread fails
        bool hold;
        UPD_RESULT result;
        bool waitShown;
    } cases[] = {
        {"made", "133=ok", "", false, UPD_OK, true},
        {"prompt cancelled", "133=cancel", "", false, IDS_USER_CANCELLED, false},
        {"worker cannot start", "133=ok", "CreateThread", false, IDS_THREAD_FAILED, true},
        {"cancelled while emptying", "133=ok 135=cancel", "", true, IDS_USER_CANCELLED, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        Prepare("full");
        if (*c.failThread) host::fault::FailAt(c.failThread, 1, ERROR_NOT_ENOUGH_MEMORY);
        if (c.hold) HoldWorkerUntilFirstWait();
        std::string out;
        EXPECT_EQ(Attempt(c.answers, &out), c.result);
        EXPECT_EQ(CallsOf("CreateThread"), c.waitShown ? 1u : 0u);
        EXPECT_NE(out.find("=== dialog 133: Creating startup diskette\n"), std::string::npos) << out;
        size_t wait = out.find("=== dialog 135 (modeless): Creating startup diskette\n");
        EXPECT_EQ(wait != std::string::npos, c.waitShown) << out;
        if (!c.waitShown) continue;
        EXPECT_NE(out.find("text: Please wait while creating startup diskette\n", wait), std::string::npos) << out;
        size_t busy = out.find("--- cursor: appstarting\n", wait), closed = out.find("=== dialog 135 closed\n", wait);
        EXPECT_LT(busy, closed) << out;
        EXPECT_NE(out.find("--- cursor: arrow\n", busy), std::string::npos) << "the arrow is back: " << out;
    }
}

}  // namespace
