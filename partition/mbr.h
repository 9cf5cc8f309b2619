// On-disk formats of the first hard disk: the master boot record, its four
// partition entries and the service partition's boot-sector label, plus the
// rule that turns a hide or unhide request into a new type byte. No I/O here.
// The layout is header-only, so that the host's volumes and zav-machine read
// disks through the same definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

const unsigned int kSectorSize = 512;

// Multi-byte fields on disk are little-endian.
inline uint16_t LoadLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t LoadLe32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The volume label of the service partition: exactly the 11-byte width of a
// FAT label field, so it carries no blanks and no terminator there.
const char kServiceLabel[] = "ZAV_SERVICE";
const size_t kServiceLabelSize = 11;

// Label fields of a partition boot sector.
const size_t kFat16LabelOffset = 43;
const size_t kFat32LabelOffset = 71;

// Partition types that can hold the service partition, each beside its
// standard hidden form. Only the low nibble decides.
const uint8_t kTypeHiddenBit = 0x10;
const uint8_t kTypeFat16 = 0x06, kTypeFat16Hidden = 0x16;
const uint8_t kTypeFat32 = 0x0B, kTypeFat32Hidden = 0x1B;
const uint8_t kTypeFat32Lba = 0x0C, kTypeFat32LbaHidden = 0x1C;
const uint8_t kTypeFat16Lba = 0x0E, kTypeFat16LbaHidden = 0x1E;
// The smaller FAT types, which Windows mounts too but which never hold the
// service partition.
const uint8_t kTypeFat12 = 0x01, kTypeFat16Small = 0x04;

// True for the visible FAT types that Windows mounts as a drive.
inline bool IsMountableFatType(uint8_t nType) {
    return nType == kTypeFat12 || nType == kTypeFat16Small || nType == kTypeFat16 || nType == kTypeFat32 ||
           nType == kTypeFat32Lba || nType == kTypeFat16Lba;
}

// How the first sector of a candidate entry is addressed.
enum ServiceAccess {
    SERVICE_ACCESS_NONE,  // the type can never be the service partition
    SERVICE_ACCESS_CHS,   // types 6 and 11: by the stored cylinder/head/sector
    SERVICE_ACCESS_LBA,   // types 12 and 14: by LBA, given the INT 13h extensions
};
ServiceAccess ServiceAccessForType(uint8_t nType);

// One 16-byte partition table entry, kept as raw bytes: fields are decoded
// explicitly (little-endian) so no unaligned or host-order read can happen.
struct PartitionEntry {
    static const size_t kStartHead = 1;
    static const size_t kStartSectorCylHigh = 2;  // bits 0-5 sector, 6-7 cylinder bits 8-9
    static const size_t kStartCylLow = 3;
    static const size_t kType = 4;
    static const size_t kStartLba = 8;
    static const size_t kSectorCount = 12;

    uint8_t abRaw[16];

    uint8_t Type() const { return abRaw[kType]; }
    void SetType(uint8_t nType) { abRaw[kType] = nType; }
    uint16_t StartCylinder() const;
    uint16_t StartHead() const { return abRaw[kStartHead]; }
    uint16_t StartSector() const { return abRaw[kStartSectorCylHigh] & 0x3F; }
    uint32_t StartLba() const { return LoadLe32(abRaw + kStartLba); }
    uint32_t SectorCount() const { return LoadLe32(abRaw + kSectorCount); }
    // LBA x 512 in 64 bits: a partition at 4 GiB or beyond must not wrap.
    uint64_t StartByteOffset() const { return uint64_t{StartLba()} * kSectorSize; }
};
static_assert(sizeof(PartitionEntry) == 16, "a partition entry is 16 bytes");

// The first sector of the disk, read whole, changed in place, written whole.
struct MasterBootRecord {
    static const size_t kEntryCount = 4;

    uint8_t abBootCode[440];
    uint8_t abDiskSignature[4];
    uint8_t abReserved[2];
    PartitionEntry aEntries[kEntryCount];
    uint8_t abSignature[2];  // 0x55 0xAA

    bool HasValidSignature() const { return abSignature[0] == 0x55 && abSignature[1] == 0xAA; }
    void ClearDiskSignature() { std::memset(abDiskSignature, 0, sizeof abDiskSignature); }
};
static_assert(sizeof(MasterBootRecord) == kSectorSize, "the MBR is one sector");
static_assert(offsetof(MasterBootRecord, abDiskSignature) == 440, "disk signature at 440");
static_assert(offsetof(MasterBootRecord, aEntries) == 446, "partition table at 446");
static_assert(offsetof(MasterBootRecord, abSignature) == 510, "signature at 510");

// 1 when the 512-byte boot sector carries the service label, byte-exact, in
// either the FAT12/16 or the FAT32 label field; otherwise 0.
int IsServiceBootSector(const uint8_t *pSector);

// What a hide (bHide non-zero) or unhide request does to a type byte.
struct HiddenRequestResult {
    unsigned int nReportedType;  // the type without the hidden bit, always delivered
    bool bAlreadyInState;        // nothing to write
    uint8_t nNewType;            // valid only when !bAlreadyInState
};
HiddenRequestResult ApplyHiddenRequest(uint8_t nType, int bHide);
