// The raw writer of the diskette's boot sector and root directory, on real
// diskette images: what lands where, and how each kind of failure is told.
#include <gtest/gtest.h>

#include <sys/file.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "diskette/diskette_area.h"
#include "partition/boot_sector.h"
#include "platform/host/machine/diskette.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

class DisketteAreaTest : public testing::Test {
protected:
    void Insert(const std::string &kind) {
        machine_.Create("nt4");
        machine_.InsertDiskette(kind);
    }
    fs::path Image() const { return machine_.Dir() / "floppy.img"; }
    std::string Bytes() const { return test::ReadBytes(Image()); }
    std::string BootImage() {
        std::string error, image = host::diskette::BootSectorImage(machine_.Dir(), &error);
        EXPECT_EQ(image.size(), 512u) << error;
        image.resize(512);
        return image;
    }
    test::TestMachine machine_;
};

// The boot sector takes the diskette's own format, in the caller's image
// too, so that the root directory is then cleared where the diskette has it:
// the boot image is a 720 KB one, and the full diskette 1.44 MB.
TEST_F(DisketteAreaTest, BootSectorThenRootDirectoryOfEachSize) {
    const struct { const char *kind; size_t offset, bytes; } cases[] = {{"full", 9728, 7168}, {"blank720", 3584, 3584}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        Insert(c.kind);
        // Old entries everywhere around the root, so a write off by a sector shows.
        std::string before = Bytes(), image = BootImage(), expected = image;
        before.replace(c.offset - 512, c.bytes + 1024, c.bytes + 1024, 'Z');
        std::ofstream(Image(), std::ios::binary) << before;
        expected.replace(11, 16, before.substr(11, 16));
        ASSERT_EQ(WriteDisketteArea(reinterpret_cast<BYTE *>(image.data()), 'V'), UPD_OK);
        EXPECT_EQ(image, expected) << "the image carries the format it was given";
        std::string cleared = expected + before.substr(512);
        EXPECT_EQ(Bytes(), cleared) << "only the boot sector is written";
        cleared.replace(c.offset, c.bytes, c.bytes, '\0');
        for (char mode : {'R', 'X'}) {
            ASSERT_EQ(WriteDisketteArea(reinterpret_cast<BYTE *>(image.data()), mode), UPD_OK);
            EXPECT_EQ(Bytes(), cleared) << mode;
        }
    }
}

// Errors of the raw calls are the fault table's walks (error 31) and
// MapDisketteError's table; here, what the machine itself answers, and
// formats the writer cannot cover.
TEST_F(DisketteAreaTest, FailuresAreToldAndLeaveTheDisketteAlone) {
    const struct {
        const char *why, *kind;
        char mode;
        size_t field;  // a word set to value: root entries at 17, sectors per FAT at 22; 0 none
        int value;
        UPD_RESULT result;
        bool locked = false;  // held by another process
    } cases[] = {
        {"write-protected", "protected", 'V', 0, 0, IDS_FLOPPY_WRITE_PROTECTED},
        {"no diskette", "none", 'V', 0, 0, IDS_NO_DISKETTE},
        {"in use", "blank", 'V', 0, 0, IDS_FLOPPY_IN_USE, true},
        {"root past the buffer", "blank", 'R', 17, 501, IDS_DISKETTE_UNUSABLE},
        {"negative root", "blank", 'R', 17, 0x8000, IDS_DISKETTE_UNUSABLE},
        {"negative FAT", "blank", 'R', 22, 0xFFFF, IDS_DISKETTE_UNUSABLE},
        {"diskette root past the buffer", "blank", 'V', 17, 501, IDS_DISKETTE_UNUSABLE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        Insert(c.kind);
        std::string before = Bytes(), image = c.mode == 'V' ? BootImage() : before.substr(0, 512);
        if (c.field) {  // the image's format for 'R', the diskette's own for 'V'
            std::string &sector = c.mode == 'R' ? image : before;
            sector[c.field] = static_cast<char>(c.value & 0xFF);
            sector[c.field + 1] = static_cast<char>((c.value >> 8) & 0xFF);
            if (c.mode == 'R') before.replace(9728, 16032, 16032, 'Z');  // old entries where a clearing would write
            std::ofstream(Image(), std::ios::binary) << before;
        }
        int fd = c.locked ? open(Image().c_str(), O_RDONLY) : -1;
        if (c.locked) { ASSERT_EQ(flock(fd, LOCK_EX), 0); }
        EXPECT_EQ(WriteDisketteArea(reinterpret_cast<BYTE *>(image.data()), c.mode), c.result);
        if (fd >= 0) close(fd);
        EXPECT_EQ(Bytes(), before);
    }
}

}  // namespace
