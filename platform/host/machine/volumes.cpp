// The drive type and volume information of the machine's drives
// (drives.h): folder drives answer what their section says, FAT volumes what
// their boot sector and root directory hold.

#include <cctype>
#include <cstring>
#include <string>

#include "partition/boot_sector.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/drives.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/machine.h"
#include "platform/win.h"

namespace {

namespace fs = std::filesystem;

using host::Drive;
using State = host::Drive::State;

std::string Get(const std::string &section, const char *key) {
    return host::MachineSetting(section, key).value_or("");
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
    if (!host::ReadSector(d.fat.image, d.fat.offset, &boot)) return ERROR_NOT_READY;
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
    Drive d = host::FindDrive(*letter);
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
    } else if (d = host::FindDrive(*letter); d.state == State::kNoDrive || d.state == State::kNoVolume) {
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
