#include "platform/host/machine/disks.h"

#include <cstdlib>

namespace host {

std::filesystem::path MachineFileIn(const std::filesystem::path &dir, const std::string &value) {
    std::filesystem::path p(value);
    return p.is_absolute() ? p : dir / p;
}

std::optional<DiskSetting> FirstDiskOf(const ini::File &ini, const std::filesystem::path &dir) {
    auto image = ini.Get("disk0", "image");
    if (!image || image->empty() || dir.empty()) return std::nullopt;
    auto get = [&](const char *key) { return ini.Get("disk0", key).value_or(""); };
    DiskSetting d;
    d.image = MachineFileIn(dir, *image);
    d.allowDevice = disk::IsTrue(get("allow_device"));
    // A geometry the BIOS cannot express falls back to the usual one.
    unsigned long heads = std::strtoul(get("heads").c_str(), nullptr, 10);
    unsigned long spt = std::strtoul(get("sectors").c_str(), nullptr, 10);
    if (heads >= 1 && heads <= 255) d.heads = static_cast<unsigned>(heads);
    if (spt >= 1 && spt <= 63) d.sectorsPerTrack = static_cast<unsigned>(spt);
    d.faults = disk::FaultsFrom(get);
    return d;
}

}  // namespace host
