// Host kernel services: Windows paths in the machine, module path, version,
// threads on the virtual clock, and the restart request.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "app/restart.h"
#include "platform/host/machine/machine.h"
#include "tests/test_machine.h"

namespace {

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    test::TestMachine machine_;
};

TEST_F(KernelTest, FileAttributesFollowWindowsPathRules) {
    machine_.WriteFile("C:\\Update\\Setup.exe");
    struct PathCase {
        std::string path;
        bool exists;
        DWORD error;  // when it does not exist
    };
    const PathCase cases[] = {
        {"C:\\Update\\Setup.exe", true, 0},
        {"c:\\UPDATE\\SETUP.EXE", true, 0},          // names match without regard to case
        {"C:/update/setup.exe", true, 0},            // either separator
        {"C:\\UPDATE\\MISSING.EXE", false, ERROR_FILE_NOT_FOUND},
        {"C:\\NOFOLDER\\SETUP.EXE", false, ERROR_PATH_NOT_FOUND},
        {"Q:\\SETUP.EXE", false, ERROR_PATH_NOT_FOUND},  // no such drive
        {"C:\\" + std::string(300, 'a'), false, ERROR_FILENAME_EXCED_RANGE},
        {"C:\\..\\..\\etc\\passwd", false, ERROR_PATH_NOT_FOUND},  // never above the drive's folder
    };
    for (const PathCase &c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0);
        DWORD attrs = GetFileAttributesA(c.path.c_str());
        EXPECT_EQ(attrs != INVALID_FILE_ATTRIBUTES, c.exists);
        if (!c.exists) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
    EXPECT_EQ(GetFileAttributesA("C:\\UPDATE") & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(KernelTest, ModulePathOutsideTheMachineIsTheInstallPath) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    EXPECT_STREQ(path, "C:\\UPDATE\\UPDATE.EXE");
    EXPECT_EQ(n, std::strlen(path));
    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);  // cut, as Windows does
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(KernelTest, WindowsPathOfAMachineFile) {
    EXPECT_EQ(host::WindowsPathFor(machine_.DriveC() / "UPDATE" / "UPDATE.EXE"), "C:\\UPDATE\\UPDATE.EXE");
    EXPECT_EQ(host::WindowsPathFor(machine_.Dir() / "machine.ini"), "");
}

DWORD WINAPI ReturnsParam(LPVOID param) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(param)); }

DWORD WINAPI ExitsEarly(LPVOID) {
    ExitThread(117);
}

DWORD WINAPI WaitsForFlag(LPVOID param) {
    auto *flag = static_cast<std::atomic<int> *>(param);
    while (!flag->load()) Sleep(10);
    return 108;
}

TEST_F(KernelTest, ThreadsReturnTheirExitCodes) {
    struct ThreadCase {
        LPTHREAD_START_ROUTINE start;
        LPVOID param;
        DWORD code;
    };
    const ThreadCase cases[] = {
        {ReturnsParam, reinterpret_cast<LPVOID>(108), 108},
        {ExitsEarly, nullptr, 117},
    };
    for (const ThreadCase &c : cases) {
        HANDLE h = CreateThread(nullptr, 1048576, c.start, c.param, 0, nullptr);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(WaitForSingleObject(h, INFINITE), (DWORD)WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(h, &code));
        EXPECT_EQ(code, c.code);
        EXPECT_TRUE(CloseHandle(h));
        EXPECT_FALSE(CloseHandle(h));
    }
}

TEST_F(KernelTest, TimedWaitsRunOnTheVirtualClock) {
    std::atomic<int> flag{0};
    HANDLE h = CreateThread(nullptr, 1048576, WaitsForFlag, &flag, 0, nullptr);
    DWORD before = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(h, 200), (DWORD)WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount() - before, 200u);  // the timeout passed on the program's clock
    DWORD code = 0;
    GetExitCodeThread(h, &code);
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
    flag = 1;
    EXPECT_EQ(WaitForSingleObject(h, INFINITE), (DWORD)WAIT_OBJECT_0);
    CloseHandle(h);
    before = GetTickCount();
    Sleep(60000);  // a minute of program time costs nothing
    EXPECT_GE(GetTickCount() - before, 60000u);
}

TEST_F(KernelTest, RestartIsRecordedWithItsFlags) {
    for (const char *os : {"98", "nt4", "2000"}) {
        SCOPED_TRACE(os);
        machine_.Create(os);
        EXPECT_EQ(RestartSystem(std::strcmp(os, "98") == 0 ? 0 : 2), 108u);
        unsigned flags = 0;
        EXPECT_TRUE(machine_.RestartRecorded(&flags));
        EXPECT_EQ(flags, (unsigned)(EWX_REBOOT | EWX_FORCE));
    }
}

// Mended: a request that cannot be written whole is refused with the error,
// never left as an empty file that a start would take for a request.
TEST_F(KernelTest, RestartThatCannotBeRecordedIsRefused) {
    machine_.Create("98");
    std::filesystem::create_directory(machine_.Dir() / "restart.tmp");  // where the request is written first
    SetLastError(0);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(std::filesystem::exists(machine_.Dir() / "restart"));
    EXPECT_NE(RestartSystem(0), 108u);
}

}  // namespace
