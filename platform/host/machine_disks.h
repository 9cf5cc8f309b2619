// The disks machine.ini gives a machine: the first hard disk ([disk0]) and
// the image files drives may live in. Host-only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/host/disk_image.h"

namespace host {

struct DiskSetting {
    std::filesystem::path image;  // absolute
    bool allowDevice = false;
    unsigned heads = 255, sectorsPerTrack = 63;
    disk::Faults faults;
};

// [disk0]: image=, heads=, sectors=, allow_device=, fail_read_lba=,
// fail_write=, read_only=. Nothing when the machine names no image.
std::optional<DiskSetting> FirstDisk();

// A machine.ini file name: relative names lie in the machine folder.
std::filesystem::path MachineFile(const std::string &value);

}  // namespace host
