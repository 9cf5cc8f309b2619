// Drive letters and their volumes. A [drive X] section makes a folder drive
// (path=) or a FAT volume in an image file (image=, with partition=N for an
// entry of the image's partition table, read anew on every call). A
// partition is mounted only while its entry holds a visible FAT type, as
// Windows mounts it; otherwise the letter does not exist.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>

#include "partition/boot_sector.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/disk_image.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/machine.h"
#include "platform/host/machine/disks.h"
#include "platform/win.h"

namespace {

namespace fs = std::filesystem;

enum class State { kNoDrive, kNoVolume, kNotReady, kReady };

struct Drive {
    State state = State::kNoDrive;
    UINT kind = DRIVE_UNKNOWN;
    std::string section;
    fs::path folder;         // a folder drive, or
    host::fat::Volume fat;   // a FAT volume in an image
};

std::string Get(const std::string &section, const char *key) {
    return host::MachineSetting(section, key).value_or("");
}

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

bool ReadSector(const fs::path &image, uint64_t offset, void *sector) {
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = pread(fd, sector, kSectorSize, static_cast<off_t>(offset)) == kSectorSize;
    close(fd);
    return ok;
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

void ResolveImage(Drive *d, const std::string &image) {
    std::string partition = Get(d->section, "partition");
    d->kind = KindNamed(Get(d->section, "kind"), partition.empty() ? DRIVE_REMOVABLE : DRIVE_FIXED);
    d->fat.image = host::MachineFile(image);
    std::error_code ec;
    bool allowDevice = host::disk::IsTrue(Get(d->section, "allow_device"));
    if (!fs::exists(d->fat.image, ec) || !host::disk::ImageAllowed(d->fat.image, allowDevice)) {
        d->state = State::kNotReady;  // an empty drive: no medium
        return;
    }
    if (partition.empty()) {
        d->state = State::kReady;
        return;
    }
    auto offset = MountedPartition(d->fat.image, std::atoi(partition.c_str()));
    d->state = offset ? State::kReady : State::kNoVolume;
    d->fat.offset = offset.value_or(0);
}

Drive Find(char letter) {
    Drive d;
    d.section = std::string("drive ") + letter;
    std::string image = Get(d.section, "image"), path = Get(d.section, "path"), kind = Get(d.section, "kind");
    if (!image.empty()) {
        ResolveImage(&d, image);
    } else if (!path.empty() || !kind.empty()) {
        d.kind = KindNamed(kind, DRIVE_FIXED);
        d.folder = host::DriveFolder(letter);
        std::error_code ec;
        d.state = fs::is_directory(d.folder, ec) ? State::kReady : State::kNotReady;
    }
    return d;
}

// "X:\" exactly; NULL is the current directory's drive, the program's.
std::optional<char> RootLetter(LPCSTR root) {
    std::string r = root ? root : host::ModuleWindowsPath().substr(0, 3);
    if (r.size() != 3 || !std::isalpha(static_cast<unsigned char>(r[0])) || r[1] != ':' || r[2] != '\\') {
        return std::nullopt;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(r[0])));
}

struct VolumeInfo {
    std::string label, fsName;
    DWORD serial = 0, flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
};

// A folder drive answers what its section says (label=, fs=, serial=).
VolumeInfo FolderVolume(const Drive &d, char letter) {
    VolumeInfo v;
    v.label = Get(d.section, "label");
    v.fsName = Get(d.section, "fs");
    if (v.fsName.empty()) v.fsName = d.kind == DRIVE_CDROM ? "CDFS" : "FAT";
    std::string serial = Get(d.section, "serial");
    v.serial = serial.empty() ? 0x1A2B0000u + static_cast<DWORD>(letter)
                              : static_cast<DWORD>(std::strtoul(serial.c_str(), nullptr, 16));
    if (v.fsName == "NTFS") v.flags |= FILE_CASE_SENSITIVE_SEARCH | 0xF8;  // ACLs, compression, quotas...
    return v;
}

// A FAT volume: type and serial from its boot sector, the label from its
// root directory.
DWORD FatVolume(const Drive &d, VolumeInfo *v) {
    FatBootSector boot;
    if (!ReadSector(d.fat.image, d.fat.offset, &boot)) return ERROR_NOT_READY;
    if (!boot.HasValidSignature() || boot.bpb.BytesPerSector() != kSectorSize) return ERROR_UNRECOGNIZED_VOLUME;
    v->fsName = boot.IsFat32() ? "FAT32" : "FAT";
    v->serial = boot.Serial();
    auto label = host::fat::Label(d.fat);
    if (!label) return ERROR_UNRECOGNIZED_VOLUME;
    v->label = *label;
    return 0;
}

bool Fits(LPSTR buffer, DWORD size, const std::string &text) { return !buffer || text.size() < size; }

void Copy(LPSTR buffer, const std::string &text) {
    if (buffer) std::memcpy(buffer, text.c_str(), text.size() + 1);
}

}  // namespace

UINT WINAPI GetDriveTypeA(LPCSTR root) {
    HOST_API(DRIVE_UNKNOWN)
    auto letter = RootLetter(root);
    if (!letter) return DRIVE_NO_ROOT_DIR;
    Drive d = Find(*letter);
    if (d.state == State::kNoDrive || d.state == State::kNoVolume) return DRIVE_NO_ROOT_DIR;
    return d.kind;
}

BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR label, DWORD labelSize, LPDWORD serial, LPDWORD maxComponent,
                                  LPDWORD flags, LPSTR fsName, DWORD fsNameSize) {
    HOST_API(FALSE)
    auto letter = RootLetter(root);
    DWORD error = 0;
    Drive d;
    VolumeInfo v;
    if (!letter) {
        error = ERROR_INVALID_NAME;
    } else if (d = Find(*letter); d.state == State::kNoDrive || d.state == State::kNoVolume) {
        error = ERROR_PATH_NOT_FOUND;
    } else if (d.state == State::kNotReady) {
        error = ERROR_NOT_READY;
    } else if (d.folder.empty()) {
        error = FatVolume(d, &v);
    } else {
        v = FolderVolume(d, *letter);
    }
    if (!error && (!Fits(label, labelSize, v.label) || !Fits(fsName, fsNameSize, v.fsName))) error = ERROR_BAD_LENGTH;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    Copy(label, v.label);
    Copy(fsName, v.fsName);
    if (serial) *serial = v.serial;
    if (maxComponent) *maxComponent = 255;  // long names
    if (flags) *flags = v.flags;
    return TRUE;
}
