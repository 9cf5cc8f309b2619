// Host kernel services: Windows paths in the machine, module path,
// threads on the virtual clock, and the restart request.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/host/machine/machine.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    test::TestMachine machine_;
};

// Paths of 260 bytes and more are limits_test's.
TEST_F(KernelTest, FileAttributesFollowWindowsPathRules) {
    machine_.WriteFile("C:\\Update\\Setup.exe");
    fs::create_directory_symlink("/etc", machine_.DriveC() / "OUT");
    fs::create_symlink("/etc/passwd", machine_.DriveC() / "PASSWD");
    fs::create_directory_symlink("Update", machine_.DriveC() / "IN");
    const struct { const char *path; DWORD error; } cases[] = {  // error 0: the file is there
        {"c:\\UPDATE\\SETUP.EXE", 0},  // names match without regard to case
        {"C:/update/setup.exe", 0},    // either separator
        {"C:\\UPDATE\\MISSING.EXE", ERROR_FILE_NOT_FOUND},
        {"C:\\NOFOLDER\\SETUP.EXE", ERROR_PATH_NOT_FOUND},
        {"Q:\\SETUP.EXE", ERROR_PATH_NOT_FOUND},            // no such drive
        {"C:\\..\\..\\etc\\passwd", ERROR_PATH_NOT_FOUND},  // never above the drive's folder
        {"C:\\OUT\\passwd", ERROR_PATH_NOT_FOUND},          // nor out through a link
        {"C:\\PASSWD", ERROR_PATH_NOT_FOUND},
        {"C:\\IN\\Setup.exe", 0},  // a link within the drive is followed
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesA(c.path) == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0, c.error);
    }
    EXPECT_EQ(GetFileAttributesA("C:\\UPDATE") & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
}

// The module path itself, a file of drive C:, is what the end-to-end runs
// put into RunOnce; a file of the machine outside its drives has none.
TEST_F(KernelTest, ModulePathIsCutToItsBufferAndMachineFilesHaveNoWindowsPath) {
    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);  // cut, as Windows does
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(host::WindowsPathFor(machine_.Dir() / "machine.ini"), "");
}

// Not Sleep: on the virtual clock that would move the time the wait is timed by.
DWORD WINAPI WaitsForFlag(LPVOID param) {
    auto *flag = static_cast<std::atomic<int> *>(param);
    while (!flag->load()) std::this_thread::yield();
    return 108;
}

// A code given to ExitThread is the second phase worker's (second_phase_test);
// sleeps on the virtual clock are installer_refresh_test's.
TEST_F(KernelTest, ThreadsExitWithTheirCodesOnTheVirtualClock) {
    std::atomic<int> flag{0};
    HANDLE h = CreateThread(nullptr, 1048576, WaitsForFlag, &flag, 0, nullptr);
    ASSERT_NE(h, nullptr);
    DWORD before = GetTickCount(), code = 0;
    EXPECT_EQ(WaitForSingleObject(h, 200), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(GetTickCount() - before, 200u);  // the timeout passed on the program's clock
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
    flag = 1;
    EXPECT_EQ(WaitForSingleObject(h, INFINITE), (DWORD)WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 108u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
}

// Mended: a request that cannot be written whole is refused with the error,
// never left as an empty file that a start would take for a request.
TEST_F(KernelTest, RestartThatCannotBeRecordedIsRefused) {
    machine_.Create("98");
    fs::create_directory(machine_.Dir() / "restart.tmp");  // where the request is written first
    SetLastError(0);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(fs::exists(machine_.Dir() / "restart"));
}

}  // namespace
