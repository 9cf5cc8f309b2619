// Result areas (12 bytes, little-endian):
//   function 8:      u16 highest cylinder, u16 highest head, u16 sectors per
//                    track, u16 number of hard disks, u32 total sectors
//   function 0x4100: u16 0xAA55, u8 version 0x21, u8 0, u16 feature bits 1,
//                    six zero bytes
//   function 0x4800: u16 12 (size), u16 flags 2 (geometry valid), u32 total
//                    sectors (low 32 bits), u16 512 bytes per sector, u16 0
#include "tools/kdo32up/int13_service.h"

#include <algorithm>
#include <cstring>

namespace kdo {
namespace {

void Put16(unsigned char *p, unsigned v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void Put32(unsigned char *p, uint64_t v) {
    Put16(p, static_cast<unsigned>(v & 0xFFFF));
    Put16(p + 2, static_cast<unsigned>((v >> 16) & 0xFFFF));
}

uint64_t TotalSectors(const Disk &disk) { return disk.Bytes() / kSector; }

int DriveParameters(Disk &disk, unsigned char *area) {
    if (!disk.Open(false)) return 0;
    uint64_t total = TotalSectors(disk);
    uint64_t perCylinder = static_cast<uint64_t>(disk.heads) * disk.sectorsPerTrack;
    uint64_t cylinders = total / perCylinder;
    std::memset(area, 0, 12);
    Put16(area, static_cast<unsigned>(cylinders == 0 ? 0 : std::min<uint64_t>(cylinders - 1, 1023)));
    Put16(area + 2, disk.heads - 1);
    Put16(area + 4, disk.sectorsPerTrack);
    Put16(area + 6, 1);
    Put32(area + 8, std::min<uint64_t>(total, 0xFFFFFFFFu));
    return 1;
}

int ExtendedParameters(Disk &disk, unsigned char *area) {
    if (!disk.Open(false)) return 0;
    std::memset(area, 0, 12);
    Put16(area, 12);
    Put16(area + 2, 2);
    Put32(area + 4, std::min<uint64_t>(TotalSectors(disk), 0xFFFFFFFFu));
    Put16(area + 8, 512);
    return 1;
}

int InstallationCheck(Disk &disk, unsigned char *area) {
    if (!disk.Open(false)) return 0;
    std::memset(area, 0, 12);
    Put16(area, 0xAA55);
    area[2] = 0x21;
    Put16(area + 4, 1);
    return 1;
}

// Transfers `count` sectors from `lba`; the BIOS moves at most 127 at once.
int Transfer(Disk &disk, bool write, uint64_t lba, int count, void *buffer) {
    if (count < 1 || count > 127 || !buffer || !disk.Open(write)) return 0;
    uint64_t offset = lba * kSector, bytes = static_cast<uint64_t>(count) * kSector;
    uint64_t size = disk.Bytes();
    if (offset > size || bytes > size - offset) return 0;
    return write ? disk.Write(offset, buffer, bytes) : disk.Read(offset, buffer, bytes);
}

}  // namespace

std::optional<uint64_t> ChsToLba(unsigned cylinder, unsigned head, unsigned sector, unsigned heads,
                                 unsigned sectorsPerTrack) {
    if (sector == 0 || sector > sectorsPerTrack || head >= heads || cylinder > 1023) return std::nullopt;
    return (static_cast<uint64_t>(cylinder) * heads + head) * sectorsPerTrack + sector - 1;
}

int Int13rw(Disk &disk, int drive, int function, unsigned cylinder, unsigned head, unsigned sector, int count,
            void *buffer) {
    if (drive != 0) return 0;
    if (function == 8) return buffer ? DriveParameters(disk, static_cast<unsigned char *>(buffer)) : 0;
    if (function != 2 && function != 3) return 0;
    auto lba = ChsToLba(cylinder, head, sector, disk.heads, disk.sectorsPerTrack);
    if (!lba) return 0;
    return Transfer(disk, function == 3, *lba, count, buffer);
}

int Int13Ext(Disk &disk, int function, int drive, unsigned lba, int count, void *buffer) {
    if (drive != 0 || !buffer) return 0;
    auto *area = static_cast<unsigned char *>(buffer);
    switch (function) {
    case 0x4100:
        return InstallationCheck(disk, area);
    case 0x4800:
        return ExtendedParameters(disk, area);
    case 0x4200:
        return Transfer(disk, false, lba, count, buffer);
    default:
        return 0;
    }
}

}  // namespace kdo
