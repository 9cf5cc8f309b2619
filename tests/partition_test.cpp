// Service partition recognition, the hidden-bit rule, and the lookup of the
// mounted service drive.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <vector>

#include "partition/mbr.h"
#include "partition/service_partition.h"
#include "platform/host/machine/machine.h"
#include "tests/test_machine.h"

namespace {

// A sector of `fill` bytes with `label` at `offset`: neither the boot
// signature nor the file-system string takes part in the test.
TEST(PartitionFormat, IsServiceBootSector) {
    struct Row { const char *pszWhy; uint8_t fill; size_t nOffset; const char *pszLabel; int nExpected; } rows[] = {
        {"FAT16 label field", 0, 43, "ZAV_SERVICE", 1}, {"FAT32 label field, in 0xFF", 0xFF, 71, "ZAV_SERVICE", 1},
        {"one letter differs in case", 0, 71, "ZAV_SERVICe", 0}, {"last byte differs", 0xFF, 43, "ZAV_SERVIC", 0},
        {"shifted one byte right", 0, 44, "ZAV_SERVICE", 0}, {"shifted one byte left", 0, 70, "ZAV_SERVICE", 0},
    };
    for (const Row &row : rows) {
        uint8_t abSector[kSectorSize];
        std::memset(abSector, row.fill, sizeof abSector);
        std::memcpy(abSector + row.nOffset, row.pszLabel, std::strlen(row.pszLabel));
        EXPECT_EQ(IsServiceBootSector(abSector), row.nExpected) << row.pszWhy;
    }
}

TEST(PartitionFormat, ApplyHiddenRequest) {
    // The new type is checked only when a change is due.
    struct Row { uint8_t nType; int bHide; unsigned nReported; bool bAlready; uint8_t nNew; } rows[] = {
        {0x1C, 0, 12, false, 0x0C}, {0x0C, 1, 12, false, 0x1C},  // standard unhide and hide
        {0x0C, 0, 12, true, 0},                                  // already visible
        {0x1B, 7, 11, true, 0},                                  // any non-zero hide flag hides
        {0x9C, 0, 0x8C, false, 0x0C},  // unhiding clears every high bit, reporting only 0x10
        {0x86, 1, 0x86, false, 0x96},  // hiding keeps the other high bits
        {0x2B, 0, 0x2B, true, 0}, {0x2B, 1, 0x2B, false, 0x3B},  // 0x20 is no hidden bit
    };
    for (const Row &row : rows) {
        HiddenRequestResult result = ApplyHiddenRequest(row.nType, row.bHide);
        SCOPED_TRACE(testing::Message() << "type 0x" << std::hex << int{row.nType} << " hide " << row.bHide);
        EXPECT_EQ(result.nReportedType, row.nReported);
        EXPECT_EQ(result.bAlreadyInState, row.bAlready);
        if (!row.bAlready) { EXPECT_EQ(result.nNewType, row.nNew); }
    }
}

// Only the low nibble decides; 0x17 is the hidden form of an excluded type.
TEST(PartitionFormat, ServiceAccessForType) {
    for (uint8_t nType : {0x06, 0x16, 0x86, 0x0B, 0x1B}) EXPECT_EQ(ServiceAccessForType(nType), SERVICE_ACCESS_CHS);
    for (uint8_t nType : {0x0C, 0x1C, 0x0E, 0x9E}) EXPECT_EQ(ServiceAccessForType(nType), SERVICE_ACCESS_LBA);
    for (uint8_t nType : {0x00, 0x01, 0x04, 0x05, 0x0F, 0x07, 0x17}) {
        EXPECT_EQ(ServiceAccessForType(nType), SERVICE_ACCESS_NONE) << int{nType};
    }
}

// Folder drives given as "letter kind label" triples; a label of "-" makes a
// drive whose folder is missing, so its volume cannot be read.
// '?' as the letter: the caller's character stays as it was.
TEST(FindServiceDrive, Table) {
    using Drives = std::vector<std::array<const char *, 3>>;
    const struct { const char *pszWhy; Drives drives; UPD_RESULT nResult; char chLetter; } cases[] = {
        {"C: is never examined", {{"C", "fixed", "ZAV_SERVICE"}}, 111, '?'},
        {"lowest letter wins", {{"F", "fixed", "ZAV_SERVICE"}, {"D", "fixed", "ZAV_SERVICE"}}, 108, 'D'},
        {"case is ignored", {{"E", "fixed", "zav_Service"}}, 108, 'E'},
        {"removable, network, CD-ROM, RAM disk passed over", {{"D", "removable", "ZAV_SERVICE"}, {"E", "remote", "ZAV_SERVICE"},
         {"F", "cdrom", "ZAV_SERVICE"}, {"G", "ramdisk", "ZAV_SERVICE"}, {"H", "fixed", "ZAV_SERVICE"}}, 108, 'H'},
        {"Z: is examined", {{"Z", "fixed", "ZAV_SERVICE"}}, 108, 'Z'},
        {"whole label only", {{"D", "fixed", "ZAV_SERVICE1"}, {"E", "fixed", "XZAV_SERVICE"}}, 111, '?'},
        {"unreadable volume skipped", {{"D", "fixed", "-"}, {"H", "fixed", "ZAV_SERVICE"}}, 108, 'H'},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pszWhy);
        test::TestMachine machine;
        machine.Create("2000");
        std::ofstream ini(machine.Dir() / "machine.ini");
        ini << "[machine]\nos=2000\n";
        for (const auto &[pszLetter, pszKind, pszLabel] : c.drives) {
            bool bMissing = std::strcmp(pszLabel, "-") == 0;
            if (!bMissing) std::filesystem::create_directories(machine.Dir() / pszLetter);
            ini << "[drive " << pszLetter << "]\npath=" << pszLetter << "\nkind=" << pszKind
                << "\nlabel=" << (bMissing ? "ZAV_SERVICE" : pszLabel) << "\n";
        }
        ini.close();
        host::ReloadMachine();
        char chLetter = '?';
        EXPECT_EQ(FindServiceDrive(&chLetter), c.nResult);
        EXPECT_EQ(chLetter, c.chLetter);
    }
}

}  // namespace
