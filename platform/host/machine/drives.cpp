#include "platform/host/machine/drives.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "partition/mbr.h"
#include "platform/host/machine/disk_image.h"
#include "platform/host/machine/disks.h"
#include "platform/host/machine/machine.h"
#include "platform/host/win_kernel.h"

namespace fs = std::filesystem;

namespace host {
namespace {

using State = Drive::State;

std::string Get(const std::string &section, const char *key) { return MachineSetting(section, key).value_or(""); }

UINT KindNamed(const std::string &name, UINT fallback) {
    static const struct {
        const char *name;
        UINT kind;
    } kKinds[] = {{"removable", DRIVE_REMOVABLE}, {"fixed", DRIVE_FIXED},     {"remote", DRIVE_REMOTE},
                  {"cdrom", DRIVE_CDROM},         {"ramdisk", DRIVE_RAMDISK}};
    if (name.empty()) return fallback;
    for (const auto &k : kKinds) {
        if (name == k.name) return k.kind;
    }
    return DRIVE_UNKNOWN;
}

// Where partition entry `index` of the image starts, when Windows would
// mount it: a visible FAT type (FAT12, FAT16, FAT32, with or without LBA).
std::optional<uint64_t> MountedPartition(const fs::path &image, int index) {
    MasterBootRecord mbr;
    if (index < 0 || index >= static_cast<int>(MasterBootRecord::kEntryCount) || !ReadSector(image, 0, &mbr) ||
        !mbr.HasValidSignature()) {
        return std::nullopt;
    }
    const PartitionEntry &entry = mbr.aEntries[index];
    if (!IsMountableFatType(entry.Type())) return std::nullopt;
    return entry.StartByteOffset();
}

bool OwnerMayWrite(const fs::path &file) {
    std::error_code ec;
    auto perms = fs::status(file, ec).permissions();
    return !ec && (perms & fs::perms::owner_write) != fs::perms::none;
}

void ResolveImage(Drive *d, const std::string &image) {
    std::string partition = Get(d->section, "partition");
    d->kind = KindNamed(Get(d->section, "kind"), partition.empty() ? DRIVE_REMOVABLE : DRIVE_FIXED);
    d->fat.image = MachineFile(image);
    std::error_code ec;
    bool allowDevice = disk::IsTrue(Get(d->section, "allow_device"));
    if (!fs::exists(d->fat.image, ec) || !disk::ImageAllowed(d->fat.image, allowDevice)) {
        d->state = State::kNotReady;  // an empty drive: no medium
        return;
    }
    if (partition.empty()) {
        d->state = State::kReady;
        // The diskette's write-protect tab; checked here because root may write anyway.
        d->writeProtected = d->writeProtected || !OwnerMayWrite(d->fat.image);
        return;
    }
    auto offset = MountedPartition(d->fat.image, std::atoi(partition.c_str()));
    d->state = offset ? State::kReady : State::kNoVolume;
    d->fat.offset = offset.value_or(0);
}

}  // namespace

bool ReadSector(const fs::path &image, uint64_t offset, void *sector) {
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = pread(fd, sector, kSectorSize, static_cast<off_t>(offset)) == kSectorSize;
    close(fd);
    return ok;
}

Drive FindDrive(char letter) {
    Drive d;
    d.section = std::string("drive ") + letter;
    d.writeProtected = disk::IsTrue(Get(d.section, "read_only"));
    std::string image = Get(d.section, "image"), path = Get(d.section, "path"), kind = Get(d.section, "kind");
    if (!image.empty()) {
        d.faults = disk::FaultsFrom([&](const char *key) { return Get(d.section, key); });
        ResolveImage(&d, image);
    } else if (!path.empty() || !kind.empty()) {
        d.kind = KindNamed(kind, DRIVE_FIXED);
        d.folder = DriveFolder(letter);
        std::error_code ec;
        d.state = fs::is_directory(d.folder, ec) ? State::kReady : State::kNotReady;
    }
    return d;
}


}  // namespace host
