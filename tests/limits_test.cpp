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

// One machine for every edge: the lengths' paths, keys and values differ.
TEST(LimitsTest, PathsKeysAndStringsAtTheEdgeOfTheirBuffer) {
    test::TestMachine machine;
    machine.Create("2000");
    const std::string kParent = "Software\\Limits";
    fs::create_directories(machine.DriveC() / "T");
    for (size_t length : {259u, 260u, 261u}) {
        SCOPED_TRACE(length);
        const bool fits = length < MAX_PATH;
        char szPath[MAX_PATH];
        std::string head = PathOf(length - 2, "X");
        ASSERT_EQ(head.size(), length - 2);
        std::strcpy(szPath, head.c_str());
        EXPECT_EQ(AppendWithinPath(szPath, "\\Y") != FALSE, fits);
        EXPECT_EQ(std::string(szPath), fits ? head + "\\Y" : head) << "never cut";
        // The host serves a Windows path only below 260 bytes.
        std::string file = PathOf(length, "F");
        ASSERT_EQ(file.size(), length);
        SetLastError(0);
        DWORD attributes = GetFileAttributesA(file.c_str());
        EXPECT_EQ(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0,
                  fits ? DWORD(ERROR_PATH_NOT_FOUND) : DWORD(ERROR_FILENAME_EXCED_RANGE));

        // A copy whose source path reaches the edge.
        std::string source = PathOf(length, "S.EXE");
        if (fits) machine.WriteFile(source, "new");
        EXPECT_EQ(CopyOneFile(source.substr(0, source.rfind('\\')).c_str(), "C:\\T", "S.EXE", "S.EXE"),
                  fits ? UPD_OK : 116);
        EXPECT_EQ(fs::remove(machine.DriveC() / "T" / "S.EXE"), fits);

        // parent + "\" + name of `length` bytes: deleted when it fits, else refused and kept.
        std::string name(length - kParent.size() - 1, 'K');
        machine.SetString(HKEY_LOCAL_MACHINE, kParent + "\\" + name, "v", "1");
        HKEY hParent;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParent.c_str(), 0, KEY_ALL_ACCESS, &hParent), ERROR_SUCCESS);
        EXPECT_EQ(DeleteRegistryTree(hParent, kParent.c_str(), name.c_str()), fits ? CLEANUP_REMOVED : CLEANUP_FAILED);
        RegCloseKey(hParent);
        HKEY hKey;
        LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kParent + "\\" + name).c_str(), 0, KEY_READ, &hKey);
        if (rc == ERROR_SUCCESS) RegCloseKey(hKey);
        EXPECT_EQ(rc == ERROR_SUCCESS, !fits) << "kept only when refused";

        // A string value of `length` bytes with its terminator: 260 still fits.
        machine.SetString(HKEY_LOCAL_MACHINE, kParent, "s", std::string(length - 1, 'v'));
        char szBuffer[MAX_PATH + 8];
        std::memset(szBuffer, '#', sizeof szBuffer);
        LONG lRead = ReadRegistryString(HKEY_LOCAL_MACHINE, kParent.c_str(), "s", szBuffer);
        EXPECT_EQ(lRead, length <= MAX_PATH ? ERROR_SUCCESS : ERROR_MORE_DATA);
        EXPECT_EQ(std::strlen(szBuffer), length <= MAX_PATH ? length - 1 : 0u);
        EXPECT_EQ(szBuffer[MAX_PATH], '#') << "nothing written past the buffer";
    }
}

}  // namespace
