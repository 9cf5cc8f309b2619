// The host's first hard disk, files, library loading, the INT 13h access
// library and the drives' volumes, each on a throw-away machine.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "platform/host/machine/machine.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const std::string kLibrary = std::string(ZAV_BUILD_DIR) + "/kdo_32up.dll";

typedef int (*Int13rw)(int, int, unsigned short, unsigned short, unsigned short, int, void *);
typedef int (*Int13Ext)(int, int, unsigned int, int, void *);

// An export as the type it has, through the generic function pointer.
template <typename Fn>
Fn As(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

void Poke(const fs::path &file, uint64_t offset, const std::string &bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// `count` bytes of the file from `offset`, up to the first NUL.
std::string Read(const fs::path &file, uint64_t offset = 0, size_t count = std::string::npos) {
    return test::ReadBytes(file).substr(offset, count).c_str();
}

class DiskHostTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }

    // Appends machine.ini lines and makes the machine read them.
    void Ini(const std::string &text) {
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n" << text << "\n";
        host::ReloadMachine();
    }
    // A sparse image of `sectors` sectors whose marked sectors k start with "S<k>".
    fs::path Image(const std::string &name, uint64_t sectors, std::initializer_list<uint64_t> marked = {}) {
        fs::path p = machine_.Dir() / name;
        std::ofstream(p, std::ios::binary).close();
        fs::resize_file(p, sectors * 512);
        for (uint64_t k : marked) Poke(p, k * 512, "S" + std::to_string(k));
        return p;
    }
    test::TestMachine machine_;
};

// A fresh machine per row and an 8-sector disk: it opens only as configured,
// takes whole sectors within itself only, never grows, and an injected fault
// fails its own transfers only.
TEST_F(DiskHostTest, FirstDiskOpensTransfersAndFailsOnlyAsConfigured) {
    const std::string kDisk = "[disk0]\nimage=disk.img\n";
    // open: the error opening gives; then `bytes` move at `offset`, or fail with `error`.
    struct Case {
        std::string ini;
        DWORD open;
        bool write = false;
        uint64_t offset = 0;
        DWORD bytes = 0, error = 0;
        const char *name = "\\\\.\\PhysicalDrive0";
        DWORD disposition = OPEN_EXISTING;
    };
    const Case cases[] = {
        {"", 2}, {"[disk0]\nimage=missing.img", 2},  // no disk, or its image missing
        {kDisk, 87, false, 0, 0, 0, "\\\\.\\physicaldrive0", CREATE_ALWAYS},  // never created, so never emptied
        {"[disk0]\nimage=/dev/zero", 5},                                       // never a device by accident
        {"[disk0]\nimage=link.img", 5},                                        // nor through a link
        {"[disk0]\nimage=link.img\nallow_device=1", 5},                        // no block device
        {kDisk, 0, false, 7 * 512, 512},                          // the last sector
        {kDisk, 0, false, 0, 511, 87}, {kDisk, 0, false, 100, 512, 87},  // part of a sector, off a boundary
        {kDisk, 0, false, 8 * 512, 512, 87}, {kDisk, 0, false, 7 * 512, 1024, 87},  // at the end, running past it
        {kDisk, 0, true, 7 * 512, 512}, {kDisk, 0, true, 8 * 512, 512, 87},  // a write never grows the disk
        {kDisk + "fail_read_lba=9,2", 0, false, 512, 1536, ERROR_SECTOR_NOT_FOUND},
        {kDisk + "fail_read_lba=2", 0, false, 0, 1024},  // its neighbours read well
        {kDisk + "read_only=1", 0, true, 0, 512, ERROR_WRITE_PROTECT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ini + " " + std::to_string(c.offset) + "+" + std::to_string(c.bytes) + (c.write ? " write" : ""));
        machine_.Create("2000");
        Image("disk.img", 8, {0, 1, 2, 7});
        fs::create_symlink("/dev/null", machine_.Dir() / "link.img");
        Ini(c.ini);
        HANDLE h = CreateFileA(c.name, GENERIC_READ | GENERIC_WRITE, 3, nullptr, c.disposition, 0, nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.open == 0);
        if (c.open) { EXPECT_EQ(GetLastError(), c.open); }
        if (h == INVALID_HANDLE_VALUE) continue;
        ASSERT_EQ(SetFilePointer(h, static_cast<LONG>(c.offset), nullptr, FILE_BEGIN), (DWORD)c.offset);
        char buffer[2048] = "new";
        DWORD done = 99;
        BOOL ok = c.write ? WriteFile(h, buffer, c.bytes, &done, nullptr) : ReadFile(h, buffer, c.bytes, &done, nullptr);
        EXPECT_EQ(ok, c.error == 0);
        EXPECT_EQ(done, c.error ? 0 : c.bytes);
        if (c.error) { EXPECT_EQ(GetLastError(), c.error); }
        // The pointer moves by what was transferred, and only then.
        EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), (DWORD)(c.offset + done));
        CloseHandle(h);
        EXPECT_EQ(fs::file_size(machine_.Dir() / "disk.img"), 8u * 512);
        if (c.offset % 512 || c.offset >= 8 * 512) continue;
        const std::string mark = "S" + std::to_string(c.offset / 512);
        EXPECT_EQ(Read(machine_.Dir() / "disk.img", c.offset, 3), c.write && ok ? "new" : mark);
        if (!c.write && ok) { EXPECT_EQ(std::string(buffer, 2), mark); }
    }
}

TEST_F(DiskHostTest, FilePointerCarriesTheHighPart) {
    const uint64_t kFar = 5ull << 30;  // past what 32 bits reach
    Image("disk.img", kFar / 512 + 1, {kFar / 512});
    Ini("[disk0]\nimage=disk.img");
    HANDLE h = CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    LONG high = 0;  // with a high part, a low part of 2 GiB or more is no negative distance
    EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(0x80000000u), &high, FILE_BEGIN), 0x80000000u);
    high = -1;  // a distance of 64 bits, back from the end
    EXPECT_EQ(SetFilePointer(h, -512, &high, FILE_END), (DWORD)(kFar & 0xFFFFFFFF));
    EXPECT_EQ(high, 1);
    // Failures leave the pointer where it was: below zero, and a place past
    // 4 GiB asked for without a high part to tell it in.
    EXPECT_EQ(SetFilePointer(h, -512, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    char sector[512];
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(h, sector, 512, &done, nullptr));
    EXPECT_EQ(std::string(sector), "S" + std::to_string(kFar / 512));
    CloseHandle(h);
}

TEST_F(DiskHostTest, FileDispositionsAsWindows) {
    fs::create_directories(machine_.DriveC() / "DIR");
    machine_.WriteFile("C:\\RO.TXT", "ro");
    fs::permissions(machine_.DriveC() / "RO.TXT", fs::perms::owner_read);
    // error: the open fails with it, or 0 / 183 are reported on success; after: the content after
    // writing "new", or what a read gives.
    const struct { const char *path; DWORD access, disposition, error; const char *after; } cases[] = {
        {"C:\\OLD.TXT", GENERIC_READ, OPEN_EXISTING, 0, "old"},
        {"C:\\NONE.TXT", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, nullptr},
        {"C:\\OLD.TXT", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ALREADY_EXISTS, "new"},
        {"C:\\DIR", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED, nullptr},
        {"C:\\RO.TXT", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED, "ro"},  // even as root
        {"C:\\RO.TXT", GENERIC_READ, OPEN_EXISTING, 0, "ro"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.disposition));
        machine_.WriteFile("C:\\OLD.TXT", "old");
        HANDLE h = CreateFileA(c.path, c.access, 0, nullptr, c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        bool opened = c.error == 0 || c.error == ERROR_ALREADY_EXISTS, reads = c.access == GENERIC_READ;
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, opened);
        EXPECT_EQ(GetLastError(), c.error);
        char text[16] = {};
        DWORD done = 0;
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(reads ? ReadFile(h, text, sizeof text, &done, nullptr) : WriteFile(h, "new", 3, &done, nullptr));
            // The access not asked for is refused.
            EXPECT_FALSE(reads ? WriteFile(h, "x", 1, &done, nullptr) : ReadFile(h, text, 1, &done, nullptr));
            CloseHandle(h);
        }
        if (c.after) { EXPECT_EQ(Read(host::HostPathFor(c.path)), c.after); }
        if (opened && reads) { EXPECT_STREQ(text, c.after); }
    }
}

// The INT 13h library, the one library the program loads, on Windows 9x.
TEST_F(DiskHostTest, LibrarySearchOrder) {
    // What lies beside the program and in the system folder ("dll", "junk" or
    // nothing), the [library] lines: a damaged installation.
    const struct { const char *programFolder, *systemFolder; DWORD error; const char *library = ""; } cases[] = {
        {"", "dll", 0, "missing=DoInt13Ext"},
        {"junk", "dll", ERROR_BAD_EXE_FORMAT},  // the program's folder comes first, a bad file is not skipped
        {"", "", ERROR_MOD_NOT_FOUND},
        {"dll", "dll", ERROR_MOD_NOT_FOUND, "absent=1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("program:") + c.programFolder + " system:" + c.systemFolder);
        machine_.Create("98");
        Ini(std::string("[library KDO_32UP.DLL]\n") + c.library);
        for (auto [folder, what] : {std::pair{std::string("C:\\UPDATE"), c.programFolder},
                                    {std::string("C:\\WINDOWS\\SYSTEM"), c.systemFolder}}) {
            fs::path target = host::HostPathFor(folder + "\\KDO_32UP.DLL");  // found whatever its case
            fs::create_directories(target.parent_path());
            if (!std::strcmp(what, "dll")) fs::copy_file(kLibrary, target);
            if (!std::strcmp(what, "junk")) std::ofstream(target) << "MZ not a library";
        }
        HMODULE m = LoadLibraryA("kdo_32up.dll");
        EXPECT_EQ(m != nullptr, c.error == 0);
        if (!m) {
            EXPECT_EQ(GetLastError(), c.error);
            continue;
        }
        EXPECT_EQ(LoadLibraryA("kdo_32up"), m);  // the same module, counted twice
        EXPECT_NE(GetProcAddress(m, "DoInt13rw"), nullptr);
        EXPECT_EQ(GetProcAddress(m, "DoInt13Ext"), nullptr);  // taken away by the machine
        EXPECT_TRUE(FreeLibrary(m));
        EXPECT_TRUE(FreeLibrary(m));
        EXPECT_FALSE(FreeLibrary(m));
    }
}

// The library rereads machine.ini on every call, so one load serves every
// row. The default geometry, the call log and the switches the toggle meets
// are partition_image_test's.
TEST_F(DiskHostTest, Int13GeometryAndFaultSwitches) {
    machine_.Create("98");
    fs::create_directories(machine_.DriveC() / "UPDATE");
    fs::copy_file(kLibrary, machine_.DriveC() / "UPDATE" / "kdo_32up.dll");
    HMODULE m = LoadLibraryA("kdo_32up.dll");
    ASSERT_NE(m, nullptr);
    Int13rw rw = As<Int13rw>(GetProcAddress(m, "DoInt13rw"));
    Int13Ext ext = As<Int13Ext>(GetProcAddress(m, "DoInt13Ext"));
    ASSERT_TRUE(rw && ext);
    Image("disk.img", 16066, {1008, 16065});
    Ini("[disk0]\nimage=disk.img");
    // A CHS read at 63 sectors a track and `heads` heads: the LBA it reads, or -1: refused.
    const struct { int drive; unsigned short cylinder, head, sector; const char *heads; int64_t lba; } chs[] = {
        {0, 1, 0, 1, "255", 16065}, {0, 1, 0, 1, "16", 1008},  // the machine's geometry decides
        {0, 0, 0, 0, "255", -1},    {0, 0, 0, 64, "255", -1},  {0, 0, 255, 1, "255", -1},
        {0, 0, 16, 1, "16", -1},    {1, 0, 0, 1, "255", -1},  // only the first hard disk
    };
    for (const auto &c : chs) {
        SCOPED_TRACE(std::to_string(c.cylinder) + "/" + std::to_string(c.head) + "/" + std::to_string(c.sector));
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[disk0]\nheads=" << c.heads << "\n";
        char sector[512] = {};
        EXPECT_EQ(rw(c.drive, 2, c.cylinder, c.head, c.sector, 1, sector) != 0, c.lba >= 0);
        if (c.lba >= 0) { EXPECT_EQ(std::string(sector), "S" + std::to_string(c.lba)); }
    }
    // Functions 8, 0x4100, 0x4800, a CHS read, an LBA read, a CHS write: which succeed.
    char area[12], sector[512];
    const struct { const char *ini; std::vector<int> succeeds; } switches[] = {
        {"", {1, 1, 1, 1, 1, 1}},
        {"[int13]\nfail=0x4800, 3", {1, 1, 0, 1, 1, 0}},  // either way of writing them
        {"[int13]\nfail=2,4200", {1, 1, 1, 0, 0, 1}},
        {"[disk0]\nread_only=1", {1, 1, 1, 1, 1, 0}},
        {"[disk0]\nimage=gone.img", {0, 0, 0, 0, 0, 0}},  // no disk at all
    };
    for (const auto &c : switches) {
        SCOPED_TRACE(c.ini);
        machine_.Create("98");
        Image("disk.img", 4096);
        Ini(std::string("[disk0]\nimage=disk.img\n") + c.ini);
        std::vector<int> got;
        for (int r : {rw(0, 8, 0, 0, 1, 0, area), ext(0x4100, 0, 0, 0, area), ext(0x4800, 0, 0, 0, area),
                      rw(0, 2, 0, 0, 1, 1, sector), ext(0x4200, 0, 2048, 1, sector), rw(0, 3, 0, 0, 1, 1, sector)}) {
            got.push_back(r != 0);
        }
        EXPECT_EQ(got, c.succeeds);
    }
}

// A FAT volume image made by mkfs.fat, `label` in both the boot sector and
// the root directory.
fs::path FatImage(const fs::path &image, const std::string &label, const std::string &fat, const char *kib) {
    std::string cmd = "mkfs.fat -C -F " + fat + (label.empty() ? "" : " -n " + label) + " " + image.string() + " " + kib;
    EXPECT_EQ(test::Run(cmd + " >/dev/null").status, 0);
    return image;
}

TEST_F(DiskHostTest, DriveKindsAndVolumeLabels) {
    fs::path dir = machine_.Dir();
    // The boot sector's copy of the label is not what Windows shows.
    Poke(FatImage(dir / "a.img", "ZAV_SERVICE", "12", "1440"), 43, "OTHER      ");
    Poke(FatImage(dir / "none.img", "", "16", "20000"), 43, "ZAV_SERVICE");
    FatImage(dir / "f32.img", "ZAV_SERVICE", "32", "40000");
    // A disk whose entry 1 holds f32.img at LBA 2048, visible, then hidden.
    Image("disk.img", 2048);
    std::string entry = std::string("\0\0\0\0\x0c\0\0\0\0\x08\0\0\0\0\0\0", 16);
    Poke(dir / "disk.img", 446 + 16, entry);
    Poke(dir / "disk.img", 510, "\x55\xAA");
    test::Run("dd if=" + (dir / "f32.img").string() + " of=" + (dir / "disk.img").string() +
              " bs=512 seek=2048 conv=notrunc status=none");
    Ini("[drive A]\nimage=a.img\n[drive B]\nimage=gone.img\n[drive D]\nimage=disk.img\npartition=1\n"
        "[drive E]\nimage=none.img\nkind=fixed\n[drive F]\nimage=disk.img\npartition=2\n");
    const struct { const char *root; UINT kind; DWORD error; const char *label, *fs; } cases[] = {
        {"A:\\", DRIVE_REMOVABLE, 0, "ZAV_SERVICE", "FAT"},
        {"b:\\", DRIVE_REMOVABLE, ERROR_NOT_READY, nullptr, nullptr},  // no medium
        {"D:\\", DRIVE_FIXED, 0, "ZAV_SERVICE", "FAT32"},
        {"E:\\", DRIVE_FIXED, 0, "", "FAT"},                                  // no root-directory label
        {"F:\\", DRIVE_NO_ROOT_DIR, ERROR_PATH_NOT_FOUND, nullptr, nullptr},  // an empty entry
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.root);
        EXPECT_EQ(GetDriveTypeA(c.root), c.kind);
        char label[119] = "?", fsName[16] = "?";
        BOOL ok = GetVolumeInformationA(c.root, label, sizeof label, nullptr, nullptr, nullptr, fsName, sizeof fsName);
        EXPECT_EQ(ok, c.error == 0);
        if (!ok) { EXPECT_EQ(GetLastError(), c.error); }
        if (ok) { EXPECT_EQ(std::string(label) + " " + fsName, std::string(c.label) + " " + c.fs); }
    }
    char small[11];
    EXPECT_FALSE(GetVolumeInformationA("D:\\", small, sizeof small, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), 24u);  // no room for the terminator
    entry[4] = 0x1c;                 // hidden: Windows no longer mounts it
    Poke(dir / "disk.img", 446 + 16, entry);
    EXPECT_EQ(GetDriveTypeA("D:\\"), (UINT)DRIVE_NO_ROOT_DIR);
}

}  // namespace
