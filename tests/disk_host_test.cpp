// The host's first hard disk, files, library loading, the INT 13h access
// library and the drives' volumes, each on a throw-away machine.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "platform/host/kernel/libraries.h"
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
    std::ifstream in(file, std::ios::binary);
    std::string all(std::istreambuf_iterator<char>(in), {});
    return all.substr(offset, count).c_str();
}

class DiskHostTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    void TearDown() override { host::ClearTestLibraries(); }

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
    HANDLE OpenDisk() {
        return CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    test::TestMachine machine_;
};

TEST_F(DiskHostTest, RawDiskTakesWholeSectorsWithinTheDisk) {
    Image("disk.img", 64, {0, 63});
    Ini("[disk0]\nimage=disk.img");
    struct Case { bool write; uint64_t offset; DWORD bytes; DWORD error; };  // error 0: succeeds
    const Case cases[] = {
        {false, 0, 512, 0}, {false, 63 * 512, 512, 0},  // the first and the last sector
        {false, 0, 0, 0},                               // nothing to move
        {false, 0, 511, 87}, {false, 100, 512, 87},     // part of a sector, not at a sector boundary
        {false, 64 * 512, 512, 87}, {false, 63 * 512, 1024, 87},  // at the end, running past it
        {true, 63 * 512, 512, 0}, {true, 512, 1000, 87},
        {true, 64 * 512, 512, 87},  // a write never grows the disk
    };
    HANDLE h = OpenDisk();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[1024] = "W";
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.bytes) + (c.write ? " write" : " read"));
        LONG high = static_cast<LONG>(c.offset >> 32);
        ASSERT_EQ(SetFilePointer(h, static_cast<LONG>(c.offset), &high, FILE_BEGIN), (DWORD)c.offset);
        DWORD done = 99;
        BOOL ok = c.write ? WriteFile(h, buffer, c.bytes, &done, nullptr) : ReadFile(h, buffer, c.bytes, &done, nullptr);
        EXPECT_EQ(ok, c.error == 0);
        EXPECT_EQ(done, c.error ? 0 : c.bytes);
        if (c.error) { EXPECT_EQ(GetLastError(), c.error); }
        // The pointer moves by what was transferred, and only then.
        EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), (DWORD)(c.offset + done));
        if (!c.write && ok && c.bytes) { EXPECT_EQ(std::string(buffer, 2), c.offset ? "S6" : "S0"); }
    }
    EXPECT_EQ(fs::file_size(machine_.Dir() / "disk.img"), 64u * 512);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(DiskHostTest, FilePointerCarriesTheHighPart) {
    const uint64_t kFar = 5ull << 30;  // 5 GiB, past what 32 bits reach
    Image("disk.img", (6ull << 30) / 512, {kFar / 512});
    Ini("[disk0]\nimage=disk.img");
    HANDLE h = OpenDisk();
    struct Case { const char *what; LONG low; bool withHigh; LONG high; DWORD method; uint64_t expect; DWORD error; };
    const Case cases[] = {
        {"begin, high part", static_cast<LONG>(kFar & 0xFFFFFFFF), true, 1, FILE_BEGIN, kFar, 0},
        {"current, negative", -512, true, -1, FILE_CURRENT, kFar - 512, 0},
        {"below zero", -512, false, 0, FILE_BEGIN, kFar - 512, 131},  // the pointer stays where it was
        {"end", -512, true, -1, FILE_END, (6ull << 30) - 512, 0},
        {"too far for a low part alone", 0, false, 0, FILE_CURRENT, (6ull << 30) - 512, 87},
        {"low part all ones", -1, true, 0, FILE_BEGIN, 0xFFFFFFFFull, 0},
        {"back to the marker", static_cast<LONG>(kFar & 0xFFFFFFFF), true, 1, FILE_BEGIN, kFar, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(1234);
        LONG high = c.high;
        DWORD low = SetFilePointer(h, c.low, c.withHigh ? &high : nullptr, c.method);
        EXPECT_EQ(low, c.error ? INVALID_SET_FILE_POINTER : (DWORD)c.expect);
        if (!c.error) { EXPECT_EQ(high, (LONG)(c.expect >> 32)); }
        // A success at INVALID_SET_FILE_POINTER is told apart from a failure by error 0.
        if (low == INVALID_SET_FILE_POINTER) { EXPECT_EQ(GetLastError(), c.error); }
        LONG now = 0;
        DWORD nowLow = SetFilePointer(h, 0, &now, FILE_CURRENT);
        EXPECT_EQ((static_cast<uint64_t>(now) << 32) | nowLow, c.expect);
    }
    char sector[512];
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(h, sector, 512, &done, nullptr));
    EXPECT_EQ(std::string(sector), "S" + std::to_string(kFar / 512));
    CloseHandle(h);
}

// A fresh machine per row: the disk opens only as configured, and an injected
// fault fails its own transfers only.
TEST_F(DiskHostTest, FirstDiskOpensAndFailsOnlyAsConfigured) {
    const char *kDrive0 = "\\\\.\\PhysicalDrive0";
    const std::string kDisk = "[disk0]\nimage=disk.img\n";
    // open: the error opening gives; then `count` sectors move from `sector`, or fail with `error`.
    struct Case {
        std::string ini;
        const char *name;
        DWORD disposition, open;
        bool write = false;
        uint64_t sector = 0;
        DWORD count = 0, error = 0;
    };
    const Case cases[] = {
        {"", kDrive0, OPEN_EXISTING, 2},  // no disk
        {"[disk0]\nimage=missing.img", kDrive0, OPEN_EXISTING, 2},
        {kDisk, "\\\\.\\PhysicalDrive1", OPEN_EXISTING, 2},  // no second disk
        {kDisk, "\\\\.\\physicaldrive0", CREATE_ALWAYS, 87},
        {"[disk0]\nimage=/dev/zero", kDrive0, OPEN_EXISTING, 5},  // never a device by accident
        {"[disk0]\nimage=link.img", kDrive0, OPEN_EXISTING, 5},   // nor through a link
        {"[disk0]\nimage=link.img\nallow_device=1", kDrive0, OPEN_EXISTING, 5},  // no block device
        {kDisk, "\\\\.\\physicaldrive0", OPEN_EXISTING, 0, false, 0, 1, 0},
        {kDisk + "fail_read_lba=2", kDrive0, OPEN_EXISTING, 0, false, 2, 1, ERROR_SECTOR_NOT_FOUND},
        {kDisk + "fail_read_lba=2", kDrive0, OPEN_EXISTING, 0, false, 0, 2, 0},  // its neighbours read well
        {kDisk + "fail_read_lba=9,2", kDrive0, OPEN_EXISTING, 0, false, 1, 3, ERROR_SECTOR_NOT_FOUND},
        {kDisk + "fail_read_lba=2", kDrive0, OPEN_EXISTING, 0, true, 2, 1, 0},
        {kDisk + "fail_write=1", kDrive0, OPEN_EXISTING, 0, true, 0, 1, 29},
        {kDisk + "fail_write=1", kDrive0, OPEN_EXISTING, 0, false, 0, 1, 0},
        {kDisk + "read_only=1", kDrive0, OPEN_EXISTING, 0, true, 0, 1, ERROR_WRITE_PROTECT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ini + (c.write ? " write" : ""));
        machine_.Create("2000");
        Image("disk.img", 8, {0, 1, 2});
        fs::create_symlink("/dev/null", machine_.Dir() / "link.img");
        Ini(c.ini);
        HANDLE h = CreateFileA(c.name, GENERIC_READ | GENERIC_WRITE, 3, nullptr, c.disposition, 0, nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.open == 0);
        if (c.open) { EXPECT_EQ(GetLastError(), c.open); }
        if (h == INVALID_HANDLE_VALUE) continue;
        SetFilePointer(h, static_cast<LONG>(c.sector * 512), nullptr, FILE_BEGIN);
        char buffer[2048] = "new";
        DWORD done = 0;
        BOOL ok = c.write ? WriteFile(h, buffer, c.count * 512, &done, nullptr)
                          : ReadFile(h, buffer, c.count * 512, &done, nullptr);
        EXPECT_EQ(ok, c.error == 0);
        if (c.error) { EXPECT_EQ(GetLastError(), c.error); }
        std::string first = Read(machine_.Dir() / "disk.img", c.sector * 512, 3);
        EXPECT_EQ(first, c.write && !c.error ? "new" : "S" + std::to_string(c.sector));
        CloseHandle(h);
    }
}

TEST_F(DiskHostTest, FileDispositionsAsWindows) {
    machine_.WriteFile("C:\\OLD.TXT", "old");
    fs::create_directories(machine_.DriveC() / "DIR");
    machine_.WriteFile("C:\\RO.TXT", "ro");
    fs::permissions(machine_.DriveC() / "RO.TXT", fs::perms::owner_read);
    // error: the open fails with it, or 0 / 183 are reported on success; after: the content after writing "new",
    // or what a read gives.
    struct Case { const char *path; DWORD access, disposition, error; const char *after; };
    const Case cases[] = {
        {"C:\\OLD.TXT", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS, "old"},
        {"C:\\NEW1.TXT", GENERIC_WRITE, CREATE_NEW, 0, "new"},
        {"C:\\OLD.TXT", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ALREADY_EXISTS, "new"},
        {"C:\\OLD.TXT", GENERIC_READ, OPEN_EXISTING, 0, "old"},
        {"C:\\NONE.TXT", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, nullptr},
        {"C:\\NODIR\\X.TXT", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, nullptr},
        {"C:\\OLD.TXT", GENERIC_WRITE, OPEN_ALWAYS, ERROR_ALREADY_EXISTS, "new"},  // overwrites, keeps length
        {"C:\\NEW2.TXT", GENERIC_WRITE, OPEN_ALWAYS, 0, "new"},
        {"C:\\OLD.TXT", GENERIC_WRITE, TRUNCATE_EXISTING, 0, "new"},
        {"C:\\DIR", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED, nullptr},
        {"C:\\RO.TXT", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED, "ro"},
        {"C:\\RO.TXT", GENERIC_READ, OPEN_EXISTING, 0, "ro"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.disposition));
        machine_.WriteFile("C:\\OLD.TXT", "old");
        HANDLE h = CreateFileA(c.path, c.access, 0, nullptr, c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        bool opened = c.error == 0 || c.error == ERROR_ALREADY_EXISTS;
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, opened);
        EXPECT_EQ(GetLastError(), c.error);
        char text[16] = {};
        DWORD done = 0;
        if (opened && (c.access & GENERIC_WRITE)) { EXPECT_TRUE(WriteFile(h, "new", 3, &done, nullptr)); }
        if (opened && (c.access & GENERIC_READ)) { EXPECT_TRUE(ReadFile(h, text, sizeof text, &done, nullptr)); }
        if (opened) {  // the access not asked for is refused
            EXPECT_FALSE((c.access & GENERIC_READ) ? WriteFile(h, "x", 1, &done, nullptr)
                                                   : ReadFile(h, text, 1, &done, nullptr));
        }
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        if (!c.after) continue;
        EXPECT_EQ(Read(host::HostPathFor(c.path)), c.after);
        if (opened && (c.access & GENERIC_READ)) { EXPECT_STREQ(text, c.after); }
    }
}

// A stand-in for the library, as the program's unit tests use one.
int DoubleRw(int, int function, unsigned short, unsigned short, unsigned short, int, void *) { return function; }

TEST_F(DiskHostTest, LibrarySearchOrder) {
    // What lies beside the program and in the system folder ("dll", "junk" or ""), the [library] lines.
    struct Case { const char *os, *programFolder, *systemFolder, *library; DWORD error; };
    const Case cases[] = {
        {"2000", "dll", "", "", 0},
        {"2000", "", "dll", "", 0},        // C:\WINNT\SYSTEM32
        {"98", "", "dll", "", 0},          // C:\WINDOWS\SYSTEM
        {"2000", "junk", "dll", "", 193},  // the program's folder comes first, a bad file is not skipped
        {"2000", "", "", "", ERROR_MOD_NOT_FOUND},
        {"2000", "dll", "dll", "absent=1", ERROR_MOD_NOT_FOUND},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.os) + " program:" + c.programFolder + " system:" + c.systemFolder);
        machine_.Create(c.os);
        Ini(std::string("[library KDO_32UP.DLL]\n") + c.library);
        const std::string system = std::strcmp(c.os, "98") == 0 ? "C:\\WINDOWS\\SYSTEM" : "C:\\WINNT\\SYSTEM32";
        for (auto [folder, what] : {std::pair{std::string("C:\\UPDATE"), c.programFolder}, {system, c.systemFolder}}) {
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
        EXPECT_EQ(GetProcAddress(m, "DoInt13"), nullptr);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
        EXPECT_TRUE(FreeLibrary(m));
        EXPECT_TRUE(FreeLibrary(m));
        EXPECT_FALSE(FreeLibrary(m));
    }
    // A test double answers for its name, wherever it is asked for, until cleared.
    host::RegisterTestLibrary("KDO_32UP.DLL", {{"DoInt13rw", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&DoubleRw))}});
    HMODULE m = LoadLibraryA("C:\\ELSEWHERE\\kdo_32up.dll");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(As<Int13rw>(GetProcAddress(m, "DoInt13rw"))(0, 8, 0, 0, 1, 0, nullptr), 8);
    host::ClearTestLibraries();
    EXPECT_EQ(LoadLibraryA("kdo_32up.dll"), nullptr);
}

// Loads the real library from the machine's C:\UPDATE.
struct Int13 { Int13rw rw = nullptr; Int13Ext ext = nullptr; };

Int13 LoadInt13() {
    fs::copy_file(kLibrary, host::HostPathFor("C:\\UPDATE\\kdo_32up.dll"), fs::copy_options::overwrite_existing);
    HMODULE m = LoadLibraryA("kdo_32up.dll");
    if (!m) return {};
    return {As<Int13rw>(GetProcAddress(m, "DoInt13rw")),
            As<Int13Ext>(GetProcAddress(m, "DoInt13Ext"))};
}

TEST_F(DiskHostTest, Int13AddressesSectorsByGeometry) {
    const uint64_t kLast = (1023ull * 255 + 254) * 63 + 62;  // cylinder 1023, head 254, sector 63
    fs::create_directories(machine_.DriveC() / "UPDATE");
    Image("disk.img", kLast + 1, {0, 2048, 16065, kLast, 1008});
    Ini("[disk0]\nimage=disk.img\n[library kdo_32up.dll]\nmissing=DoInt13Ext");
    Int13 lib = LoadInt13();
    ASSERT_NE(lib.rw, nullptr);
    EXPECT_EQ(lib.ext, nullptr);  // taken away by the machine
    struct Case { int drive; unsigned short cylinder, head, sector; const char *geometry; int64_t lba; };  // -1: no
    const Case cases[] = {
        {0, 0, 0, 1, "", 0},           {0, 0, 32, 33, "", 2048},     {0, 1, 0, 1, "", 16065},
        {0, 1023, 254, 63, "", (int64_t)kLast},
        {0, 1, 0, 1, "heads=16", 1008},  // the machine's geometry decides
        {0, 0, 0, 0, "", -1},          {0, 0, 0, 64, "", -1},         {0, 0, 255, 1, "", -1},
        {0, 0, 16, 1, "heads=16", -1}, {1, 0, 0, 1, "", -1},  // only the first hard disk
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.cylinder) + "/" + std::to_string(c.head) + "/" + std::to_string(c.sector));
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "\n[disk0]\nheads=255\n" << c.geometry << "\n";
        char sector[512] = {};
        EXPECT_EQ(lib.rw(c.drive, 2, c.cylinder, c.head, c.sector, 1, sector) != 0, c.lba >= 0);
        if (c.lba >= 0) { EXPECT_EQ(std::string(sector), "S" + std::to_string(c.lba)); }
    }
}

TEST_F(DiskHostTest, Int13FaultSwitchesAndCallLog) {
    fs::create_directories(machine_.DriveC() / "UPDATE");
    Int13 lib = LoadInt13();  // stays loaded while each row makes the machine anew
    ASSERT_NE(lib.ext, nullptr);
    char area[12], sector[512];
    auto calls = [&]() {
        return std::vector<int>{lib.rw(0, 8, 0, 0, 1, 0, area),        lib.ext(0x4100, 0, 0, 0, area),
                                lib.ext(0x4800, 0, 0, 0, area),        lib.rw(0, 2, 0, 0, 1, 1, sector),
                                lib.ext(0x4200, 0, 2048, 1, sector),   lib.rw(0, 3, 0, 0, 1, 1, sector)};
    };
    struct Case { const char *ini; std::vector<int> succeeds; };
    const Case cases[] = {
        {"", {1, 1, 1, 1, 1, 1}},
        {"fail=8", {0, 1, 1, 1, 1, 1}},
        {"fail=4100", {1, 0, 1, 1, 1, 1}},
        {"fail=0x4800, 3", {1, 1, 0, 1, 1, 0}},  // either way of writing them
        {"fail=2,4200", {1, 1, 1, 0, 0, 1}},
        {"[disk0]\nread_only=1", {1, 1, 1, 1, 1, 0}},
        {"[disk0]\nfail_read_lba=2048", {1, 1, 1, 1, 0, 1}},
        {"[disk0]\nimage=gone.img", {0, 0, 0, 0, 0, 0}},  // no disk at all
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ini);
        machine_.Create("98");
        Image("disk.img", 4096, {0, 2048});
        Ini(std::string("[disk0]\nimage=disk.img\n[int13]\nlog=int13.log\n") + c.ini);
        std::vector<int> got;
        for (int r : calls()) got.push_back(r != 0);
        EXPECT_EQ(got, c.succeeds);
    }
    EXPECT_EQ(Read(machine_.Dir() / "int13.log"),
              "DoInt13rw 0 8 0 0 1 0\nDoInt13Ext 0x4100 0 0 0\nDoInt13Ext 0x4800 0 0 0\n"
              "DoInt13rw 0 2 0 0 1 1\nDoInt13Ext 0x4200 0 2048 1\nDoInt13rw 0 3 0 0 1 1\n");
}

// A FAT volume image made by mkfs.fat, `label` in both the boot sector and
// the root directory.
fs::path FatImage(const fs::path &image, const std::string &label, const char *fatSize) {
    std::string cmd = "mkfs.fat -C -F " + std::string(fatSize) + (label.empty() ? "" : " -n " + label) + " " +
                      image.string() + (!std::strcmp(fatSize, "12") ? " 1440" : !std::strcmp(fatSize, "16") ? " 20000" : " 40000") + " >/dev/null";
    EXPECT_EQ(test::Run(cmd).status, 0);
    return image;
}

TEST_F(DiskHostTest, DriveKindsAndVolumeLabels) {
    fs::path dir = machine_.Dir();
    // The boot sector's copy of the label is not what Windows shows.
    Poke(FatImage(dir / "a.img", "ZAV_SERVICE", "12"), 43, "OTHER      ");
    Poke(FatImage(dir / "none.img", "", "16"), 43, "ZAV_SERVICE");
    FatImage(dir / "f32.img", "ZAV_SERVICE", "32");
    // A disk whose entry 1 holds f32.img at LBA 2048, visible, then hidden.
    Image("disk.img", 2048);
    std::string entry = std::string("\0\0\0\0\x0c\0\0\0\0\x08\0\0\0\0\0\0", 16);
    Poke(dir / "disk.img", 446 + 16, entry);
    Poke(dir / "disk.img", 510, "\x55\xAA");
    test::Run("dd if=" + (dir / "f32.img").string() + " of=" + (dir / "disk.img").string() +
              " bs=512 seek=2048 conv=notrunc status=none");
    fs::create_directories(dir / "net");
    Ini("[drive A]\nimage=a.img\n[drive B]\nimage=gone.img\n[drive D]\nimage=disk.img\npartition=1\n"
        "[drive E]\nimage=none.img\nkind=fixed\n[drive F]\nimage=disk.img\npartition=2\n"
        "[drive G]\npath=net\nkind=remote\nlabel=SHARE\n[drive H]\npath=net\nkind=tape\n");
    struct Case { const char *root; UINT kind; DWORD error; const char *label, *fs; };
    const Case cases[] = {
        {"A:\\", DRIVE_REMOVABLE, 0, "ZAV_SERVICE", "FAT"},
        {"b:\\", DRIVE_REMOVABLE, ERROR_NOT_READY, nullptr, nullptr},  // no medium
        {"C:\\", DRIVE_FIXED, 0, "", "FAT"},
        {"D:\\", DRIVE_FIXED, 0, "ZAV_SERVICE", "FAT32"},
        {"E:\\", DRIVE_FIXED, 0, "", "FAT"},                          // no root-directory label
        {"F:\\", DRIVE_NO_ROOT_DIR, ERROR_PATH_NOT_FOUND, nullptr, nullptr},  // an empty entry
        {"G:\\", DRIVE_REMOTE, 0, "SHARE", "FAT"},
        {"H:\\", DRIVE_UNKNOWN, 0, "", "FAT"},
        {"Q:\\", DRIVE_NO_ROOT_DIR, ERROR_PATH_NOT_FOUND, nullptr, nullptr},
        {"D:", DRIVE_NO_ROOT_DIR, ERROR_INVALID_NAME, nullptr, nullptr},
    };
    for (const Case &c : cases) {
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
