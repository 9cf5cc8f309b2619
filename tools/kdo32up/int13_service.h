// The BIOS disk functions kdo_32up.dll serves, over any whole-sector disk.
// Shared by the library's host body (machine.ini) and its Windows body
// (an image file beside the DLL); neither knows the other's files.
#pragma once

#include <cstdint>
#include <optional>

namespace kdo {

constexpr uint64_t kSector = 512;

// A first hard disk as the BIOS sees it.
class Disk {
public:
    virtual ~Disk() = default;
    virtual bool Open(bool forWrite) = 0;  // false: no usable disk
    virtual uint64_t Bytes() const = 0;
    // Whole sectors inside the disk; false on any failure.
    virtual bool Read(uint64_t offset, void *buffer, uint64_t bytes) = 0;
    virtual bool Write(uint64_t offset, const void *buffer, uint64_t bytes) = 0;
    unsigned heads = 255, sectorsPerTrack = 63;
};

// Cylinder/head/sector to LBA with the disk's geometry; nothing for an
// address the BIOS would refuse (sector 0 or past the track, head past the
// heads, cylinder past 10 bits).
std::optional<uint64_t> ChsToLba(unsigned cylinder, unsigned head, unsigned sector, unsigned heads,
                                 unsigned sectorsPerTrack);

// DoInt13rw and DoInt13Ext as the library exports them: 1 on success, 0 on
// failure. Functions 8 (drive parameters), 2 and 3 (CHS read and write);
// 0x4100 (extensions check), 0x4800 (extended parameters), 0x4200 (LBA
// read). Drive 0 only.
int Int13rw(Disk &disk, int drive, int function, unsigned cylinder, unsigned head, unsigned sector, int count,
            void *buffer);
int Int13Ext(Disk &disk, int function, int drive, unsigned lba, int count, void *buffer);

}  // namespace kdo
