// The diskette builder on real diskette images: what a made diskette holds,
// where each failure stops the build, and what a cancel at each moment does;
// then one whole attempt under its dialogs, answered by the noninteractive
// frontend.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
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
#include "tests/fault_walk.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const char kInfo[] = "Software\\Keldan\\Info";
const char kSalvix[] = "Software\\Keldan\\Salvix";

// Every file the builder reads, each with content of its own, in the order
// of the copies, with its name on the diskette (nullptr: never copied).
const struct { const char *path, *content, *made; } kFiles[] = {
    {"C:\\DOS\\IO.SYS", "io", "IO.SYS"},
    {"C:\\DOS\\MSDOS.SYS", "msdos", "MSDOS.SYS"},
    {"C:\\DOS\\COMMAND.COM", "command", "COMMAND.COM"},
    {"C:\\UPDATE\\KAUTO.BAT", "@echo restore", "AUTOEXEC.BAT"},
    {"C:\\UPDATE\\KCP.EXE", "kcp", "KCP.EXE"},
    {"C:\\ZAV\\SLX_REST.EXE", "restore", "SLX_REST.EXE"},
    {"C:\\ZAV\\DIAG\\VDG_INIT.EXE", "diagnostics", "VDG_INIT.EXE"},
    {"C:\\DOS\\KCP.EXE", "kcp from the DOS folder", nullptr},  // the one beside the program is taken
};
const size_t kMadeCount = 7;

class DisketteBuilderTest : public testing::Test {
protected:
    void SetUp() override { Prepare(); }
    void TearDown() override { host::fault::Clear(); }

    // A machine with an old, full diskette in A: and every source in place.
    void Prepare() {
        host::fault::Clear();
        machine_.Create("nt4");
        machine_.InsertDiskette("full");
        for (const auto &f : kFiles) machine_.WriteFile(f.path, f.content);
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
    std::optional<std::string> Label() const { return host::fat::Label({Image(), 0}); }
    // What the root holds; madeOnly: just the new files (old ones may remain after a cancel).
    std::set<std::string> RootNames(bool madeOnly = false) const {
        std::set<std::string> names;
        for (const auto &e : host::fat::List({Image(), 0}, "").value_or(std::vector<host::fat::Entry>{})) {
            if (!madeOnly || FirstMade(kMadeCount).count(e.name)) names.insert(e.name);
        }
        return names;
    }
    static std::set<std::string> FirstMade(size_t n) {
        std::set<std::string> names;
        for (size_t i = 0; i < n; ++i) names.insert(kFiles[i].made);
        return names;
    }

    // Runs the worker on its own thread, as the wait dialog does.
    DWORD Build() {
        DisketteParams params = {&cancel_};
        return walk::RunThread(DisketteThread, &params);
    }

    test::TestMachine machine_;
    CancelFlag cancel_{0};
    std::string bootImage_, before_;
};

TEST_F(DisketteBuilderTest, FullDisketteEndsWithExactlyTheSevenFiles) {
    ASSERT_EQ(Build(), UPD_OK);
    for (size_t i = 0; i < kMadeCount; ++i) {
        ASSERT_TRUE(host::fat::CopyOut({Image(), 0}, kFiles[i].made, machine_.Dir() / "out"));
        EXPECT_EQ(test::ReadBytes(machine_.Dir() / "out"), kFiles[i].content) << kFiles[i].made;
    }
    EXPECT_EQ(RootNames(), FirstMade(kMadeCount));
    // The boot image's first sector, with the diskette's own format.
    EXPECT_EQ(Bytes().substr(0, 512), bootImage_.substr(0, 11) + before_.substr(11, 16) + bootImage_.substr(27, 485));
    test::RunResult fsck = test::Run("fsck.fat -n " + Image().string() + " 2>&1");
    EXPECT_EQ(fsck.status, 0) << fsck.out;
}

// Where a failure or a cancel stops the build. A failed call at each step is
// the fault table's walk of the worker; here the failures that are no failed
// call, and a cancel given during each step, seen at the next check point.
TEST_F(DisketteBuilderTest, FailuresAndCancelsStopTheBuildWhereTheyHappen) {
    auto cancelAt = [this](const char *api, unsigned n) {
        return [this, api, n](test::TestMachine &) { host::fault::OnCall(api, n, [this] { cancel_.store(1); }); };
    };
    const struct {
        const char *why;
        std::function<void(test::TestMachine &)> spoil;
        DWORD result;
        size_t made;          // how many of the files are on the diskette afterwards
        int raw;              // 0 nothing written raw, 1 the boot sector, 2 also the root directory
        bool emptied = true;  // false: old files remain beside the new ones
    } cases[] = {
        {"short boot image", [](auto &m) { m.WriteFile("C:\\DOS\\FL_BOOT.DAT", std::string(300, 'b')); },
         IDS_DOS_FILES_MISSING, 0, 0},
        {"DOS folder past the buffer",
         [](auto &m) { m.SetString(HKEY_LOCAL_MACHINE, kInfo, "DosFiles", "C:\\" + std::string(248, 'D')); },
         IDS_DOS_FILES_MISSING, 0, 0},
        {"KCP.EXE only in the DOS folder", [](auto &) { fs::remove(host::HostPathFor("C:\\UPDATE\\KCP.EXE")); },
         IDS_DOS_FILES_MISSING, 4, 2},
        {"no diskette", [](auto &m) { fs::remove(m.Dir() / "floppy.img"); }, IDS_NO_DISKETTE, 0, 0},
        {"cancel while emptying", cancelAt("DeleteFileA", 1), IDS_USER_CANCELLED, 0, 0, false},
        {"cancel while reading the boot image, which fails",
         [&](auto &m) { cancelAt("ReadFile", 1)(m); host::fault::FailAt("ReadFile", 1, ERROR_READ_FAULT); },
         IDS_USER_CANCELLED, 0, 0},
        {"cancel while writing the boot sector", cancelAt("WriteFile", 1), IDS_USER_CANCELLED, 0, 1},
        {"cancel while copying IO.SYS", cancelAt("CopyFileA", 1), IDS_USER_CANCELLED, 1, 2},
        {"cancel while copying the restore program", cancelAt("CopyFileA", 6), IDS_USER_CANCELLED, 6, 2},
        {"cancel while copying the diagnostics program", cancelAt("CopyFileA", 7), UPD_OK, 7, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        Prepare();
        cancel_.store(0);
        c.spoil(machine_);
        EXPECT_EQ(Build(), c.result);
        if (c.result == IDS_NO_DISKETTE) continue;
        EXPECT_EQ(RootNames(!c.emptied), FirstMade(c.made)) << "emptied first, then copied up to the stop";
        EXPECT_EQ(Bytes().substr(0, 512) != before_.substr(0, 512), c.raw >= 1);
        EXPECT_EQ(Label(), c.raw == 2 ? "" : "OLDDISK");
    }
}

// The attempt's failed calls are the fault table's walk, a prompt cancelled
// the diskette end-to-end test's; here the wait dialog around the worker.
using DisketteAttemptTest = DisketteBuilderTest;

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
    const struct { const char *why, *answers; bool hold; UPD_RESULT result; } cases[] = {
        {"made", "133=ok", false, UPD_OK},
        {"cancelled while emptying", "133=ok 135=cancel", true, IDS_USER_CANCELLED},
    };
    setenv("ZAV_FRONTEND", "noninteractive", 1);
    setenv("LANG", "C", 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        Prepare();
        if (c.hold) HoldWorkerUntilFirstWait();
        setenv("ZAV_ANSWERS", c.answers, 1);
        host::ResetFrontendForTesting();
        testing::internal::CaptureStdout();
        EXPECT_EQ(theApp.CreateStartupDiskette(), c.result);
        std::string out = testing::internal::GetCapturedStdout();
        size_t wait = out.find("=== dialog 135 (modeless): Creating startup diskette\n");
        EXPECT_LT(out.find("=== dialog 133: Creating startup diskette\n"), wait) << out;
        EXPECT_NE(out.find("text: Please wait while creating startup diskette\n", wait), std::string::npos) << out;
        size_t busy = out.find("--- cursor: appstarting\n", wait), closed = out.find("=== dialog 135 closed\n", wait);
        EXPECT_LT(busy, closed) << out;
        EXPECT_NE(out.find("--- cursor: arrow\n", busy), std::string::npos) << "the arrow is back: " << out;
    }
}

}  // namespace
