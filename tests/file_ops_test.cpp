// The file operations on a folder drive (C:) and on a FAT volume in an
// image (E:), through the host's file layer: tree removal with and without
// a cancel flag, single-file copy and the error mapping.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "fileops/file_ops.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/machine.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

class FileOpsTest : public testing::TestWithParam<const char *> {
protected:
    void SetUp() override {
        machine_.Create("2000", "");
        fs::path dir = machine_.Dir();
        ASSERT_EQ(test::Run("mkfs.fat -C " + (dir / "vol.img").string() + " 1440 >/dev/null").status, 0);
        fs::create_directories(dir / "drives" / "W");
        std::ofstream(dir / "machine.ini", std::ios::app)
            << "[drive E]\nimage=vol.img\nkind=fixed\n[drive N]\nimage=none.img\n"
            << "[drive W]\npath=drives/W\nread_only=1\n";
        host::ReloadMachine();
    }
    void TearDown() override { host::fault::Clear(); }

    std::string Drive() const { return GetParam(); }
    // Drive:\OLD with a plain and a read-only file and two levels of folders.
    void MakeTree() {
        const char *files[] = {"OLD\\A.TXT", "OLD\\RO.TXT", "OLD\\SUB\\B.TXT", "OLD\\SUB\\DEEP\\C.TXT"};
        if (Drive() == "C:") {
            for (const char *f : files) machine_.WriteFile(std::string("C:\\") + f);
            fs::permissions(machine_.DriveC() / "OLD" / "RO.TXT", fs::perms::owner_read);
            return;
        }
        // Made in the order a walk meets them on C:, since FAT lists in the order of creation.
        host::fat::Volume volume{machine_.Dir() / "vol.img", 0};
        std::ofstream(machine_.Dir() / "x.txt") << "x";
        ASSERT_TRUE(host::fat::MakeDir(volume, "OLD"));
        for (const char *f : files) {
            std::string folder = std::string(f).substr(0, std::string(f).find_last_of('\\'));
            if (folder != "OLD" && !host::fat::List(volume, folder)) {
                ASSERT_TRUE(host::fat::MakeDir(volume, folder));
            }
            ASSERT_TRUE(host::fat::CopyIn(volume, machine_.Dir() / "x.txt", f));
        }
        ASSERT_TRUE(host::fat::SetReadOnly(volume, "OLD\\RO.TXT", true));
    }
    bool Exists(const std::string &path) {
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(path.c_str(), &data);
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
        return h != INVALID_HANDLE_VALUE;
    }
    test::TestMachine machine_;
};

TEST_P(FileOpsTest, TreeRemoval) {
    CancelFlag clear{0}, set{1};
    const struct {
        const char *why, *folder;  // folder on the drive, "" for its root
        const CancelFlag *cancel;
        const char *fault;  // an API that fails once with 5, or ""
        UPD_RESULT result;
        bool folderLeft, filesLeft;
    } cases[] = {
        {"files, read-only files, nested folders", "\\OLD", nullptr, "", UPD_OK, false, false},
        {"with a clear cancel flag", "\\OLD", &clear, "", UPD_OK, false, false},
        {"a drive root is emptied, never removed", "", nullptr, "", UPD_OK, false, false},
        {"a root with a backslash is a folder: its removal fails", "\\", nullptr, "", IDS_DISKETTE_UNUSABLE, false,
         false},
        {"a missing folder", "\\NONE", nullptr, "", UPD_OK, true, true},
        {"cancelled before the call", "\\OLD", &set, "", UPD_OK, true, true},
        {"a folder that cannot go, cancel flag given", "\\OLD", &clear, "RemoveDirectoryA", IDS_FILES_NOT_DELETED,
         true, false},
        {"the same without a cancel flag: the mapped error", "\\OLD", nullptr, "RemoveDirectoryA",
         IDS_DISKETTE_UNUSABLE, true, false},
        {"a file that cannot go stops the walk", "\\OLD", nullptr, "SetFileAttributesA", IDS_DISKETTE_UNUSABLE, true,
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        SetUp();
        MakeTree();
        if (*c.fault) host::fault::FailFrom(c.fault, 1, ERROR_ACCESS_DENIED);
        EXPECT_EQ(DeleteDirectoryTree((Drive() + c.folder).c_str(), c.cancel), c.result);
        host::fault::Clear();
        EXPECT_EQ(Exists(Drive() + "\\OLD"), c.folderLeft);
        EXPECT_EQ(Exists(Drive() + "\\OLD\\SUB\\DEEP\\C.TXT"), c.filesLeft);
    }
}

// Set while a deletion fails: that failure does not count, the walk stops.
TEST_P(FileOpsTest, CancelDuringAFailedDeletion) {
    MakeTree();
    CancelFlag cancel{0};
    host::fault::OnCall("DeleteFileA", 1, [&] { cancel = 1; });
    host::fault::FailAt("DeleteFileA", 1, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(DeleteDirectoryTree((Drive() + "\\OLD").c_str(), &cancel), UPD_OK);
    EXPECT_TRUE(Exists(Drive() + "\\OLD\\RO.TXT"));
}

TEST_P(FileOpsTest, CopyReplacesTheTargetAndKeepsAttributes) {
    MakeTree();
    const std::string old = Drive() + "\\OLD";
    const struct {
        std::string from, to, source, target;
        UPD_RESULT result;
    } cases[] = {
        {old, old, "A.TXT", "NEW.TXT", UPD_OK},
        {old, old + "\\SUB", "A.TXT", "B.TXT", UPD_OK},     // an existing target is replaced
        {old, old, "RO.TXT", "RO2.TXT", UPD_OK},
        {old, "C:\\", "RO.TXT", "COPY.TXT", UPD_OK},         // across drives
        {old, old, "GONE.TXT", "X.TXT", IDS_FILES_NOT_REPLACED},
        {old, old + "\\NOPE", "A.TXT", "A.TXT", IDS_FILES_NOT_REPLACED},
        {old, "W:", "A.TXT", "A.TXT", IDS_FILES_NOT_REPLACED},  // write-protected
        {old + std::string(250, 'x'), old, "A.TXT", "A.TXT", IDS_FILES_NOT_REPLACED},  // refused, not cut
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.from + "\\" + c.source + " -> " + c.to + "\\" + c.target);
        EXPECT_EQ(CopyOneFile(c.from.c_str(), c.to.c_str(), c.source.c_str(), c.target.c_str()), c.result);
    }
    // The copy of a read-only file is read-only: deleting it takes the attribute reset.
    EXPECT_FALSE(DeleteFileA((old + "\\RO2.TXT").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(DeleteOneFile((old + "\\RO2.TXT").c_str(), nullptr), UPD_OK);
    EXPECT_EQ(DeleteOneFile((old + "\\RO2.TXT").c_str(), nullptr), IDS_DISKETTE_UNUSABLE);  // gone: 2
}

INSTANTIATE_TEST_SUITE_P(Drives, FileOpsTest, testing::Values("C:", "E:"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param[0] == 'C' ? "FolderDrive" : "FatVolume");
                         });

TEST(FileOpsErrors, MapDisketteError) {
    const std::pair<DWORD, UPD_RESULT> cases[] = {{0, 108}, {19, 132}, {21, 133}, {32, 131}, {5, 134}, {2, 134}};
    for (auto [error, result] : cases) EXPECT_EQ(MapDisketteError(error), result) << error;
}

// A write-protected drive, an empty drive and a file another process holds
// open, each as the tree removal reports it.
TEST(FileOpsErrors, DrivesAndFilesThatRefuse) {
    test::TestMachine machine;
    machine.Create("2000", "");
    fs::create_directories(machine.Dir() / "drives" / "W" / "OLD");
    std::ofstream(machine.Dir() / "drives" / "W" / "OLD" / "F.TXT") << "f";
    std::ofstream(machine.Dir() / "machine.ini", std::ios::app)
        << "[drive W]\npath=drives/W\nread_only=1\n[drive N]\nimage=none.img\n";
    host::ReloadMachine();
    EXPECT_EQ(DeleteDirectoryTree("W:\\OLD", nullptr), IDS_FLOPPY_WRITE_PROTECTED);
    EXPECT_EQ(DeleteDirectoryTree("N:", nullptr), UPD_OK);  // no medium: nothing to enumerate
    EXPECT_EQ(DeleteOneFile("N:\\F.TXT", nullptr), IDS_NO_DISKETTE);

    machine.WriteFile("C:\\OLD\\OPEN.TXT", "in use");
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {  // another program of the machine holds the file open without sharing
        HANDLE h = CreateFileA("C:\\OLD\\OPEN.TXT", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        char c = h == INVALID_HANDLE_VALUE ? 'n' : 'y';
        if (write(ready[1], &c, 1) != 1 || read(done[0], &c, 1) != 1) _exit(1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(DeleteDirectoryTree("C:\\OLD", nullptr), IDS_FLOPPY_IN_USE);
    EXPECT_TRUE(fs::exists(machine.DriveC() / "OLD" / "OPEN.TXT"));
    ASSERT_EQ(write(done[1], "x", 1), 1);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(DeleteDirectoryTree("C:\\OLD", nullptr), UPD_OK);
}

// A tree as deep as its paths allow goes whole; one level more is refused
// rather than cut.
TEST(FileOpsErrors, DeepTreesAndPathsThatWouldNotFit) {
    test::TestMachine machine;
    machine.Create("2000", "");
    std::string deep = "C:\\OLD";
    while (deep.size() + 6 < MAX_PATH - 6) deep += "\\A";
    machine.WriteFile(deep + "\\F.TXT");
    EXPECT_EQ(DeleteDirectoryTree("C:\\OLD", nullptr), UPD_OK);
    EXPECT_FALSE(fs::exists(machine.DriveC() / "OLD"));
    std::string tooDeep = "C:\\" + std::string(254, 'B');
    fs::create_directories(host::HostPathFor(tooDeep));
    EXPECT_EQ(DeleteDirectoryTree(tooDeep.c_str(), nullptr), IDS_DISKETTE_UNUSABLE) << "no room for \\*.*";
    EXPECT_TRUE(fs::exists(host::HostPathFor(tooDeep)));
}

// A link inside the tree goes as a link: what it points to stays.
TEST(FileOpsErrors, LinksAreRemovedNeverFollowed) {
    test::TestMachine machine;
    machine.Create("2000", "");
    machine.WriteFile("C:\\KEEP\\PRECIOUS.TXT", "keep");
    machine.WriteFile("C:\\OLD\\A.TXT");
    fs::create_directory_symlink(machine.DriveC() / "KEEP", machine.DriveC() / "OLD" / "FOLDER");
    fs::create_symlink(machine.DriveC() / "KEEP" / "PRECIOUS.TXT", machine.DriveC() / "OLD" / "FILE.TXT");
    EXPECT_EQ(DeleteDirectoryTree("C:\\OLD", nullptr), UPD_OK);
    EXPECT_FALSE(fs::exists(machine.DriveC() / "OLD"));
    EXPECT_TRUE(fs::exists(machine.DriveC() / "KEEP" / "PRECIOUS.TXT"));
}

}  // namespace
