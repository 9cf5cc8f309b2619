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
    void Insert(const std::string &kind, const std::string &driveLines = "") {
        machine_.Create("nt4");
        machine_.InsertDiskette(kind);
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << driveLines;
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

TEST_F(DisketteAreaTest, BootSectorTakesTheDiskettesFormat) {
    Insert("blank");
    std::string before = Bytes(), image = BootImage(), original = image;
    ASSERT_EQ(WriteDisketteArea(reinterpret_cast<BYTE *>(image.data()), 'V'), UPD_OK);
    std::string after = Bytes();
    EXPECT_EQ(after.substr(0, 11), original.substr(0, 11));
    EXPECT_EQ(after.substr(11, 16), before.substr(11, 16)) << "the diskette keeps its own format";
    EXPECT_EQ(after.substr(27, 485), original.substr(27, 485));
    EXPECT_EQ(image, after.substr(0, 512)) << "the image carries the format it was given";
    EXPECT_EQ(after.substr(512), before.substr(512)) << "only the boot sector is written";
}

TEST_F(DisketteAreaTest, RootDirectoryOfEachSizeIsZeroed) {
    const struct {
        const char *kind;
        size_t offset, bytes;
    } cases[] = {{"full", 9728, 7168}, {"blank720", 3584, 3584}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        Insert(c.kind);
        // Old entries everywhere around the root, so a write off by a sector shows.
        std::string before = Bytes(), image = before.substr(0, 512);
        before.replace(c.offset - 512, c.bytes + 1024, c.bytes + 1024, 'Z');
        std::ofstream(Image(), std::ios::binary) << before;
        for (char mode : {'R', 'X'}) {
            ASSERT_EQ(WriteDisketteArea(reinterpret_cast<BYTE *>(image.data()), mode), UPD_OK);
            std::string after = Bytes();
            EXPECT_EQ(after.substr(c.offset, c.bytes), std::string(c.bytes, '\0'));
            EXPECT_EQ(after.substr(0, c.offset), before.substr(0, c.offset));
            EXPECT_EQ(after.substr(c.offset + c.bytes), before.substr(c.offset + c.bytes));
        }
    }
}

// Root entry count at offset 17, sectors per FAT at 22.
void SetWord(std::string &sector, size_t at, int value) {
    sector[at] = static_cast<char>(value & 0xFF);
    sector[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

TEST_F(DisketteAreaTest, FailuresAreToldAndLeaveTheDisketteAlone) {
    const struct {
        const char *why, *kind, *driveLines;
        char mode;
        size_t field;  // 0: image as made
        int value;
        UPD_RESULT result;
    } cases[] = {
        {"write-protected", "protected", "", 'V', 0, 0, IDS_FLOPPY_WRITE_PROTECTED},
        {"no diskette", "none", "", 'V', 0, 0, IDS_NO_DISKETTE},
        {"unreadable", "blank", "fail_read_lba=0\n", 'V', 0, 0, IDS_DISKETTE_UNUSABLE},
        {"unwritable", "blank", "fail_write=1\n", 'R', 0, 0, IDS_DISKETTE_UNUSABLE},
        {"root past the buffer", "blank", "", 'R', 17, 501, IDS_DISKETTE_UNUSABLE},
        {"negative root", "blank", "", 'R', 17, 0x8000, IDS_DISKETTE_UNUSABLE},
        {"negative FAT", "blank", "", 'R', 22, 0xFFFF, IDS_DISKETTE_UNUSABLE},
        {"diskette root past the buffer", "blank", "", 'V', 17, 501, IDS_DISKETTE_UNUSABLE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        Insert(c.kind, c.driveLines);
        std::string before = Bytes(), image = c.mode == 'V' ? BootImage() : before.substr(0, 512);
        if (c.field && c.mode == 'R') {
            SetWord(image, c.field, c.value);
            before.replace(9728, 16032, 16032, 'Z');
            std::ofstream(Image(), std::ios::binary) << before;
        }
        if (c.field && c.mode == 'V') {
            SetWord(before, c.field, c.value);
            std::ofstream(Image(), std::ios::binary) << before;
        }
        EXPECT_EQ(WriteDisketteArea(reinterpret_cast<BYTE *>(image.data()), c.mode), c.result);
        EXPECT_EQ(Bytes(), before);
    }
}

TEST_F(DisketteAreaTest, DisketteInUseIsTold) {
    Insert("blank");
    int fd = open(Image().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    std::string image = BootImage();
    EXPECT_EQ(WriteDisketteArea(reinterpret_cast<BYTE *>(image.data()), 'V'), IDS_FLOPPY_IN_USE);
    close(fd);
}

}  // namespace
