// The 260-byte buffers at their edge: a built path or a read string of 259
// bytes fits with its terminator; 260 and 261 bytes are refused whole,
// with nothing cut, written or deleted.
#include <gtest/gtest.h>

#include <cstring>

#include "fileops/file_ops.h"
#include "platform/host/machine/machine.h"
#include "removal/registry_cleanup.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const size_t kLengths[] = {259, 260, 261};

// A Windows path on drive C of exactly `length` bytes ending in `name`,
// its folders short enough for the host's file names.
std::string PathOf(size_t length, const std::string &name) {
    std::string path = "C:";
    while (path.size() + 1 + name.size() < length) {
        size_t room = length - path.size() - 1 - name.size();
        std::string part(std::min<size_t>(room > 1 ? room - 1 : 1, 100), 'D');
        if (path.size() + 1 + part.size() + 1 + name.size() > length) part.resize(length - path.size() - 2 - name.size());
        path += "\\" + part;
    }
    path += "\\" + name;
    return path;
}

class LimitsTest : public testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    test::TestMachine machine_;
};

TEST_F(LimitsTest, PathsAppendedAtTheEdgeOfTheirBuffer) {
    for (size_t length : kLengths) {
        SCOPED_TRACE(length);
        char szPath[MAX_PATH];
        std::string head = PathOf(length - 2, "X");
        ASSERT_EQ(head.size(), length - 2);
        std::strcpy(szPath, head.c_str());
        EXPECT_EQ(AppendWithinPath(szPath, "\\Y") != FALSE, length < MAX_PATH);
        EXPECT_EQ(std::string(szPath), length < MAX_PATH ? head + "\\Y" : head) << "never cut";
        // The host serves a Windows path only below 260 bytes.
        std::string file = PathOf(length, "F");
        ASSERT_EQ(file.size(), length);
        SetLastError(0);
        DWORD attributes = GetFileAttributesA(file.c_str());
        EXPECT_EQ(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0,
                  length < MAX_PATH ? DWORD(ERROR_PATH_NOT_FOUND) : DWORD(ERROR_FILENAME_EXCED_RANGE));
    }
}

TEST_F(LimitsTest, CopiesWhosePathsReachTheEdge) {
    fs::create_directories(machine_.DriveC() / "T");
    for (size_t length : kLengths) {
        SCOPED_TRACE(length);
        std::string source = PathOf(length, "S.EXE");
        std::string folder = source.substr(0, source.rfind('\\'));
        if (length < MAX_PATH) machine_.WriteFile(source, "new");
        EXPECT_EQ(CopyOneFile(folder.c_str(), "C:\\T", "S.EXE", "S.EXE"), length < MAX_PATH ? UPD_OK : 116);
        EXPECT_EQ(fs::exists(machine_.DriveC() / "T" / "S.EXE"), length < MAX_PATH);
        fs::remove_all(machine_.DriveC() / "T");
        fs::create_directories(machine_.DriveC() / "T");
    }
}

TEST_F(LimitsTest, RegistryKeyPathsAndStringsAtTheEdge) {
    const std::string kParent = "Software\\Limits";
    for (size_t length : kLengths) {
        SCOPED_TRACE(length);
        // parent + "\" + name of `length` bytes: deleted when it fits, else refused and kept.
        std::string name(length - kParent.size() - 1, 'K');
        machine_.SetString(HKEY_LOCAL_MACHINE, kParent + "\\" + name, "v", "1");
        HKEY hParent;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParent.c_str(), 0, KEY_ALL_ACCESS, &hParent), ERROR_SUCCESS);
        CleanupStatus nStatus = DeleteRegistryTree(hParent, kParent.c_str(), name.c_str());
        RegCloseKey(hParent);
        EXPECT_EQ(nStatus, length < MAX_PATH ? CLEANUP_REMOVED : CLEANUP_FAILED);
        HKEY hKey;
        LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kParent + "\\" + name).c_str(), 0, KEY_READ, &hKey);
        if (rc == ERROR_SUCCESS) RegCloseKey(hKey);
        EXPECT_EQ(rc == ERROR_SUCCESS, length >= MAX_PATH) << "kept only when refused";

        // A string value of `length` bytes with its terminator.
        machine_.SetString(HKEY_LOCAL_MACHINE, kParent, "s", std::string(length - 1, 'v'));
        char szBuffer[MAX_PATH + 8];
        std::memset(szBuffer, '#', sizeof szBuffer);
        LONG lRead = ReadRegistryString(HKEY_LOCAL_MACHINE, kParent.c_str(), "s", szBuffer);
        EXPECT_EQ(lRead, length <= MAX_PATH ? ERROR_SUCCESS : ERROR_MORE_DATA);
        EXPECT_EQ(std::strlen(szBuffer), length <= MAX_PATH ? length - 1 : 0u);
        EXPECT_EQ(szBuffer[MAX_PATH], '#') << "nothing written past the buffer";
    }
}

}  // namespace
