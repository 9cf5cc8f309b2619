// The file operations on a folder drive through the host's file layer:
// tree removal with and without a cancel flag, single-file copy and the
// error mapping. (On FAT images they run under the diskette builder.)
#include <gtest/gtest.h>

#include <fstream>

#include "fileops/file_ops.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

// C:\OLD with a plain and a read-only file and two levels of folders; W: is
// write-protected, N: has no medium.
class FileOpsTest : public testing::Test {
protected:
    void SetUp() override {
        machine_.Create("2000", "");
        for (const char *f : {"OLD\\A.TXT", "OLD\\RO.TXT", "OLD\\SUB\\B.TXT", "OLD\\SUB\\DEEP\\C.TXT"}) {
            machine_.WriteFile(std::string("C:\\") + f, f);  // each holds its own name
        }
        fs::permissions(machine_.DriveC() / "OLD" / "RO.TXT", fs::perms::owner_read);
        fs::create_directories(machine_.Dir() / "drives" / "W" / "OLD");
        std::ofstream(machine_.Dir() / "drives" / "W" / "OLD" / "F.TXT") << "f";
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app)
            << "[drive N]\nimage=none.img\n[drive W]\npath=drives/W\nread_only=1\n";
        host::ReloadMachine();
    }
    void TearDown() override { host::fault::Clear(); }

    bool Exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
    test::TestMachine machine_;
};

TEST_F(FileOpsTest, TreeRemoval) {
    CancelFlag clear{0}, set{1};
    const struct {
        const char *why, *folder;
        const CancelFlag *cancel;
        const char *fault;  // an API that fails once with 5, or ""
        bool hold;          // A.TXT held open without sharing meanwhile
        UPD_RESULT result;
        bool folderLeft, filesLeft;  // C:\OLD, and its deepest file
    } cases[] = {
        {"files, read-only files, nested folders", "C:\\OLD", nullptr, "", false, UPD_OK, false, false},
        {"a drive root is emptied, never removed", "C:", nullptr, "", false, UPD_OK, false, false},
        {"a root with a backslash is a folder: its removal fails", "C:\\", nullptr, "", false, IDS_DISKETTE_UNUSABLE,
         false, false},
        {"a missing folder", "C:\\NONE", nullptr, "", false, UPD_OK, true, true},
        {"no medium: nothing to enumerate", "N:", nullptr, "", false, UPD_OK, true, true},
        {"cancelled before the call", "C:\\OLD", &set, "", false, UPD_OK, true, true},
        // Without a cancel flag it is the mapped error (the fault table's walk).
        {"a folder that cannot go, cancel flag given", "C:\\OLD", &clear, "RemoveDirectoryA", false,
         IDS_FILES_NOT_DELETED, true, false},
        {"a write-protected drive", "W:\\OLD", nullptr, "", false, IDS_FLOPPY_WRITE_PROTECTED, true, true},
        {"a file held open stops the walk", "C:\\OLD", nullptr, "", true, IDS_FLOPPY_IN_USE, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        SetUp();
        if (*c.fault) host::fault::FailFrom(c.fault, 1, ERROR_ACCESS_DENIED);
        HANDLE held = c.hold ? CreateFileA("C:\\OLD\\A.TXT", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
        EXPECT_EQ(DeleteDirectoryTree(c.folder, c.cancel), c.result);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        host::fault::Clear();
        EXPECT_EQ(Exists("C:\\OLD"), c.folderLeft);
        EXPECT_EQ(Exists("C:\\OLD\\SUB\\DEEP\\C.TXT"), c.filesLeft);
    }
    EXPECT_EQ(DeleteOneFile("N:\\F.TXT", nullptr), IDS_NO_DISKETTE);
}

// Set while a deletion fails: that failure does not count, the walk stops.
TEST_F(FileOpsTest, CancelDuringAFailedDeletion) {
    CancelFlag cancel{0};
    host::fault::OnCall("DeleteFileA", 1, [&] { cancel = 1; });
    host::fault::FailAt("DeleteFileA", 1, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(DeleteDirectoryTree("C:\\OLD", &cancel), UPD_OK);
    EXPECT_TRUE(Exists("C:\\OLD\\RO.TXT"));
}

TEST_F(FileOpsTest, CopyReplacesTheTargetAndKeepsAttributes) {
    const struct {
        const char *to, *source, *target;
        UPD_RESULT result;
    } cases[] = {
        {"C:\\OLD\\SUB", "A.TXT", "B.TXT", UPD_OK},  // an existing target is replaced
        {"C:\\OLD", "RO.TXT", "RO2.TXT", UPD_OK},
        {"C:\\OLD", "GONE.TXT", "X.TXT", IDS_FILES_NOT_REPLACED},
        {"C:\\OLD\\NOPE", "A.TXT", "A.TXT", IDS_FILES_NOT_REPLACED},
        {"W:", "A.TXT", "A.TXT", IDS_FILES_NOT_REPLACED},  // write-protected
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.to + "\\" + c.target);
        EXPECT_EQ(CopyOneFile("C:\\OLD", c.to, c.source, c.target), c.result);
    }
    EXPECT_EQ(test::ReadBytes(machine_.DriveC() / "OLD" / "SUB" / "B.TXT"), "OLD\\A.TXT");
    // The copy of a read-only file is read-only (the walk's attribute reset
    // is TreeRemoval's).
    EXPECT_TRUE(GetFileAttributesA("C:\\OLD\\RO2.TXT") & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(DeleteFileA("C:\\OLD\\RO2.TXT"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(FileOpsErrors, MapDisketteError) {
    const std::pair<DWORD, UPD_RESULT> cases[] = {{0, 108}, {19, 132}, {21, 133}, {32, 131}, {5, 134}, {2, 134}};
    for (auto [error, result] : cases) EXPECT_EQ(MapDisketteError(error), result) << error;
}

// A tree as deep as its paths allow goes whole, and a link inside it as a
// link: what it points to stays. One level more is refused rather than cut.
TEST_F(FileOpsTest, DeepTreesAndLinksGoLongerPathsAreRefused) {
    std::string deep = "C:\\OLD";
    while (deep.size() + 6 < MAX_PATH - 6) deep += "\\A";
    machine_.WriteFile(deep + "\\F.TXT");
    machine_.WriteFile("C:\\KEEP\\PRECIOUS.TXT", "keep");
    fs::create_directory_symlink(machine_.DriveC() / "KEEP", machine_.DriveC() / "OLD" / "FOLDER");
    fs::create_symlink(machine_.DriveC() / "KEEP" / "PRECIOUS.TXT", machine_.DriveC() / "OLD" / "FILE.TXT");
    EXPECT_EQ(DeleteDirectoryTree("C:\\OLD", nullptr), UPD_OK);
    EXPECT_FALSE(fs::exists(machine_.DriveC() / "OLD"));
    EXPECT_TRUE(fs::exists(machine_.DriveC() / "KEEP" / "PRECIOUS.TXT"));
    std::string tooDeep = "C:\\" + std::string(254, 'B');
    fs::create_directories(host::HostPathFor(tooDeep));
    EXPECT_EQ(DeleteDirectoryTree(tooDeep.c_str(), nullptr), IDS_DISKETTE_UNUSABLE) << "no room for \\*.*";
    EXPECT_TRUE(fs::exists(host::HostPathFor(tooDeep)));
}

}  // namespace
