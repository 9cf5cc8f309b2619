// kdo_32up.dll: the INT 13h access library, serving BIOS disk functions
// for the first hard disk from the disk image of the machine named by
// ZAV_MACHINE. It reads machine.ini on every call, as a library that asks
// the BIOS would see the disk as it is now:
//   [disk0] image=, heads=, sectors=, allow_device=, fail_read_lba=,
//           fail_write=, read_only=
//   [int13] fail=8,4100,...  functions (hex) that report failure
//           log=int13.log    one line appended per call
// Result areas (12 bytes, little-endian):
//   function 8:      u16 highest cylinder, u16 highest head, u16 sectors per
//                    track, u16 number of hard disks, u32 total sectors
//   function 0x4100: u16 0xAA55, u8 version 0x21, u8 0, u16 feature bits 1,
//                    six zero bytes
//   function 0x4800: u16 12 (size), u16 flags 2 (geometry valid), u32 total
//                    sectors (low 32 bits), u16 512 bytes per sector, u16 0
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/host/machine/disks.h"
#include "platform/host/machine/ini_file.h"

#define KDO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

namespace disk = host::disk;

// What the library knows of the machine for one call.
struct Machine {
    std::filesystem::path dir;
    host::ini::File ini;
    std::optional<host::DiskSetting> disk;

    std::string Get(const char *section, const char *key) const { return ini.Get(section, key).value_or(""); }
    unsigned Heads() const { return disk ? disk->heads : 255; }
    unsigned SectorsPerTrack() const { return disk ? disk->sectorsPerTrack : 63; }
};

Machine LoadMachine() {
    Machine m;
    const char *env = std::getenv("ZAV_MACHINE");
    if (!env || !*env) return m;
    m.dir = std::filesystem::absolute(env);
    m.ini = host::ini::File::Load(m.dir / "machine.ini").value_or(host::ini::File());
    m.disk = host::FirstDiskOf(m.ini, m.dir);
    return m;
}

void Log(const Machine &m, const std::string &line) {
    std::string name = m.Get("int13", "log");
    if (name.empty() || m.dir.empty()) return;
    std::ofstream(host::MachineFileIn(m.dir, name), std::ios::app) << line << "\n";
}

// [int13] fail= names functions the way they are written in register form:
// 8, 2, 3, 4100, 4800, 4200 (hexadecimal, "0x" optional).
bool Injected(const Machine &m, unsigned function) {
    return disk::ParseNumberList(m.Get("int13", "fail"), 16).count(function) != 0;
}

// Opens the machine's disk image; false when there is no usable one.
bool OpenDisk(const Machine &m, bool forWrite, disk::Image *image) {
    if (!m.disk || !disk::ImageAllowed(m.disk->image, m.disk->allowDevice)) return false;
    return image->Open(m.disk->image, forWrite && !m.disk->faults.readOnly, m.disk->faults) == 0;
}

void Put16(unsigned char *p, unsigned v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void Put32(unsigned char *p, uint64_t v) {
    Put16(p, static_cast<unsigned>(v & 0xFFFF));
    Put16(p + 2, static_cast<unsigned>((v >> 16) & 0xFFFF));
}

uint64_t TotalSectors(const disk::Image &image) { return image.Bytes() / disk::kSector; }

int DriveParameters(const Machine &m, unsigned char *area) {
    disk::Image image;
    if (!OpenDisk(m, false, &image)) return 0;
    uint64_t total = TotalSectors(image);
    uint64_t perCylinder = static_cast<uint64_t>(m.Heads()) * m.SectorsPerTrack();
    uint64_t cylinders = total / perCylinder;
    std::memset(area, 0, 12);
    Put16(area, static_cast<unsigned>(cylinders == 0 ? 0 : std::min<uint64_t>(cylinders - 1, 1023)));
    Put16(area + 2, m.Heads() - 1);
    Put16(area + 4, m.SectorsPerTrack());
    Put16(area + 6, 1);
    Put32(area + 8, std::min<uint64_t>(total, 0xFFFFFFFFu));
    return 1;
}

int ExtendedParameters(const Machine &m, unsigned char *area) {
    disk::Image image;
    if (!OpenDisk(m, false, &image)) return 0;
    std::memset(area, 0, 12);
    Put16(area, 12);
    Put16(area + 2, 2);
    Put32(area + 4, std::min<uint64_t>(TotalSectors(image), 0xFFFFFFFFu));
    Put16(area + 8, 512);
    return 1;
}

int InstallationCheck(const Machine &m, unsigned char *area) {
    disk::Image image;
    if (!OpenDisk(m, false, &image)) return 0;
    std::memset(area, 0, 12);
    Put16(area, 0xAA55);
    area[2] = 0x21;
    Put16(area + 4, 1);
    return 1;
}

// Transfers `count` sectors from `lba`; the BIOS moves at most 127 at once.
int Transfer(const Machine &m, bool write, uint64_t lba, int count, void *buffer) {
    if (count < 1 || count > 127 || !buffer) return 0;
    disk::Image image;
    if (!OpenDisk(m, write, &image)) return 0;
    uint64_t offset = lba * disk::kSector, bytes = static_cast<uint64_t>(count) * disk::kSector;
    disk::Status s = write ? image.Write(offset, buffer, bytes) : image.Read(offset, buffer, bytes);
    return s == disk::kOk;
}

}  // namespace

KDO_EXPORT int DoInt13rw(int drive, int function, unsigned short cylinder, unsigned short head,
                         unsigned short sector, int count, void *buffer) {
    Machine m = LoadMachine();
    char line[96];
    std::snprintf(line, sizeof line, "DoInt13rw %d %d %u %u %u %d", drive, function, cylinder, head, sector, count);
    Log(m, line);
    if (drive != 0 || function < 0 || Injected(m, static_cast<unsigned>(function))) return 0;
    if (function == 8) return buffer ? DriveParameters(m, static_cast<unsigned char *>(buffer)) : 0;
    if (function != 2 && function != 3) return 0;
    auto lba = disk::ChsToLba(cylinder, head, sector, m.Heads(), m.SectorsPerTrack());
    if (!lba) return 0;
    return Transfer(m, function == 3, *lba, count, buffer);
}

KDO_EXPORT int DoInt13Ext(int function, int drive, unsigned int lba, int count, void *buffer) {
    Machine m = LoadMachine();
    char line[96];
    std::snprintf(line, sizeof line, "DoInt13Ext 0x%X %d %u %d", static_cast<unsigned>(function), drive, lba, count);
    Log(m, line);
    if (drive != 0 || function < 0 || Injected(m, static_cast<unsigned>(function)) || !buffer) return 0;
    auto *area = static_cast<unsigned char *>(buffer);
    switch (function) {
    case 0x4100:
        return InstallationCheck(m, area);
    case 0x4800:
        return ExtendedParameters(m, area);
    case 0x4200:
        return Transfer(m, false, lba, count, buffer);
    default:
        return 0;
    }
}
