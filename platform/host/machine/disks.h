// The disks machine.ini gives a machine: the first hard disk ([disk0]) and
// the image files drives may live in. Host-only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/host/machine/disk_image.h"
#include "platform/host/machine/ini_file.h"

namespace host {

struct DiskSetting {
    std::filesystem::path image;  // absolute
    bool allowDevice = false;
    unsigned heads = 255, sectorsPerTrack = 63;
    disk::Faults faults;
};

// [disk0]: image=, heads=, sectors=, allow_device=, fail_read_lba=,
// fail_write=, read_only=, read from `ini` of the machine in `dir`. Nothing
// when the machine names no image.
std::optional<DiskSetting> FirstDiskOf(const ini::File &ini, const std::filesystem::path &dir);
// The same for the current machine (ZAV_MACHINE).
std::optional<DiskSetting> FirstDisk();

// A machine.ini file name: relative names lie in the machine folder `dir`.
std::filesystem::path MachineFileIn(const std::filesystem::path &dir, const std::string &value);
// The same in the current machine.
std::filesystem::path MachineFile(const std::string &value);

}  // namespace host
