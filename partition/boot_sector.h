// The first sector of a FAT volume: jump and OEM name, the BIOS parameter
// block (BPB), the extended fields, which differ between FAT12/16 and FAT32,
// and the boot signature. Byte arrays with little-endian accessors, like the
// master boot record, so no unaligned or host-order read can happen. The one
// definition for the service partition's label test, the host's volumes and
// the startup diskette's boot sector.
#pragma once

#include <cstddef>
#include <cstdint>

#include "partition/mbr.h"

// Offsets 11 to 35: the format of the volume.
struct BiosParameterBlock {
    uint8_t abBytesPerSector[2];   // 11: 512 on every disk and diskette the program meets
    uint8_t nSectorsPerCluster;    // 13
    uint8_t abReservedSectors[2];  // 14: sectors before the first FAT, the boot sector included
    uint8_t nFatCount;             // 16: copies of the FAT, normally 2
    uint8_t abRootEntries[2];      // 17: 32-byte root directory entries; 0 on FAT32
    uint8_t abTotalSectors16[2];   // 19: 0 when the count needs the 32-bit field
    uint8_t nMediaDescriptor;      // 21: 0xF0 for a 1.44 MB diskette, 0xF8 for a fixed disk
    uint8_t abSectorsPerFat16[2];  // 22: 0 on FAT32, which keeps a 32-bit count
    uint8_t abSectorsPerTrack[2];  // 24
    uint8_t abHeads[2];            // 26
    uint8_t abHiddenSectors[4];    // 28: sectors before the volume on its disk
    uint8_t abTotalSectors32[4];   // 32

    uint16_t BytesPerSector() const { return LoadLe16(abBytesPerSector); }
    uint16_t RootEntries() const { return LoadLe16(abRootEntries); }
    uint16_t SectorsPerFat16() const { return LoadLe16(abSectorsPerFat16); }
};
static_assert(sizeof(BiosParameterBlock) == 25, "the BPB runs from offset 11 to 35");

// Offsets 36 to 509 of a FAT12 or FAT16 volume.
struct Fat16Extension {
    uint8_t nDriveNumber;      // 36
    uint8_t nReserved;         // 37
    uint8_t nBootSignature;    // 38: 0x29 when the three fields below are valid
    uint8_t abSerial[4];       // 39
    uint8_t abVolumeLabel[11]; // 43
    uint8_t abFsType[8];       // 54: "FAT12   " or "FAT16   ", informative only
    uint8_t abBootCode[448];   // 62
};

// Offsets 36 to 509 of a FAT32 volume.
struct Fat32Extension {
    uint8_t abSectorsPerFat32[4];  // 36
    uint8_t abFlags[2];            // 40
    uint8_t abVersion[2];          // 42
    uint8_t abRootCluster[4];      // 44
    uint8_t abFsInfoSector[2];     // 48
    uint8_t abBackupBootSector[2]; // 50
    uint8_t abReserved[12];        // 52
    uint8_t nDriveNumber;          // 64
    uint8_t nReserved;             // 65
    uint8_t nBootSignature;        // 66
    uint8_t abSerial[4];           // 67
    uint8_t abVolumeLabel[11];     // 71
    uint8_t abFsType[8];           // 82: "FAT32   "
    uint8_t abBootCode[420];       // 90
};

struct FatBootSector {
    uint8_t abJump[3];     // 0: a jump over the BPB to the boot code
    uint8_t abOemName[8];  // 3
    BiosParameterBlock bpb;
    union {
        Fat16Extension fat16;
        Fat32Extension fat32;
    };
    uint8_t abSignature[2];  // 510: 0x55 0xAA

    bool HasValidSignature() const { return abSignature[0] == 0x55 && abSignature[1] == 0xAA; }
    // A FAT32 volume keeps no 16-bit FAT size.
    bool IsFat32() const { return bpb.SectorsPerFat16() == 0; }
    uint32_t Serial() const { return LoadLe32(IsFat32() ? fat32.abSerial : fat16.abSerial); }
};
static_assert(sizeof(FatBootSector) == kSectorSize, "a boot sector is one sector");
static_assert(offsetof(FatBootSector, bpb) == 11, "the BPB starts at 11");
static_assert(offsetof(FatBootSector, fat16) == 36 && offsetof(FatBootSector, fat32) == 36, "extensions at 36");
static_assert(offsetof(FatBootSector, fat16.abSerial) == 39 && offsetof(FatBootSector, fat32.abSerial) == 67,
              "serial numbers at 39 and 67");
static_assert(offsetof(FatBootSector, fat16.abVolumeLabel) == kFat16LabelOffset &&
                  offsetof(FatBootSector, fat32.abVolumeLabel) == kFat32LabelOffset,
              "the label fields the service partition is recognised by");
static_assert(offsetof(FatBootSector, abSignature) == 510, "signature at 510");
