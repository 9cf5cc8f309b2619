// The machine's drive letters: a folder drive ([drive X] path=) or a FAT
// volume in an image file (image=, with partition=N for an entry of the
// image's partition table, read anew on every call). A partition is mounted
// only while its entry holds a visible FAT type, as Windows mounts it. An
// image without partition= is a diskette (removable by default): its write
// protection is the image file's own, so it goes with the diskette when
// another is put in. Host-only.
#pragma once

#include <filesystem>
#include <string>

#include "platform/host/machine/disk_image.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/win_types.h"

namespace host {

struct Drive {
    enum class State {
        kNoDrive,   // no such letter
        kNoVolume,  // a partition drive whose entry is hidden, empty or not FAT
        kNotReady,  // no medium: the folder or image is missing
        kReady,
    };
    State state = State::kNoDrive;
    UINT kind = 0;                 // DRIVE_*
    bool writeProtected = false;   // read_only=1, or a diskette image without write permission: writes fail with 19
    disk::Faults faults;           // an image drive's fail_read_lba= and fail_write=
    std::string section;           // "drive X"
    std::filesystem::path folder;  // a folder drive, or
    fat::Volume fat;               // a FAT volume in an image
};

Drive FindDrive(char letter);

// The first sector of a volume or disk image at `offset`.
bool ReadSector(const std::filesystem::path &image, uint64_t offset, void *sector);

}  // namespace host
