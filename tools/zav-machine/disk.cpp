// zav-machine new: the machine's first hard disk, a sparse image with a DOS
// partition table (sfdisk) and, when asked for, a service partition: a FAT
// volume (mkfs.fat) labelled ZAV_SERVICE holding the old version's
// RECOVERY programs (mtools).
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/tool_runner.h"
#include "tools/zav-machine/zav_machine.h"

namespace fs = std::filesystem;

namespace zm {
namespace {

struct ServiceKind {
    const char *name;
    unsigned type;  // visible partition type
    int fatBits;
    long minimumMb;  // smallest disk whose partition mkfs.fat formats as asked
};

const ServiceKind kKinds[] = {
    {"none", 0x00, 0, 1},         {"fat16", 0x06, 16, 16},     {"fat16-lba", 0x0E, 16, 16},
    {"fat32", 0x0B, 32, 34},      {"fat32-lba", 0x0C, 32, 34},
};

constexpr uint64_t kStartLba = 2048;          // the usual 1 MiB alignment
constexpr uint64_t kFat16MaxSectors = 4192256;  // 2047 MiB: FAT16 with 32 KiB clusters
constexpr long kMaxDiskMb = 2097151;          // 32-bit LBAs
constexpr long kDefaultDiskMb = 64;

const ServiceKind *Kind(const std::string &name) {
    for (const ServiceKind &k : kKinds) {
        if (name == k.name) return &k;
    }
    return nullptr;
}

bool Number(const std::string &text, long *out) {
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end) return false;
    *out = v;
    return true;
}

std::string ToolError(const char *what, const host::ToolResult &r) {
    if (r.status < 0) return std::string("cannot run ") + what;
    return std::string(what) + " failed: " + (r.err.empty() ? r.out : r.err);
}

bool WriteTable(const fs::path &image, const DiskOptions &o, uint64_t sectors, std::string *error) {
    std::string script = "label: dos\nunit: sectors\n\n";
    if (o.service != "none") {
        char line[160];
        std::snprintf(line, sizeof line, "%s%d : start=%llu, size=%llu, type=%x\n", image.c_str(), o.entry + 1,
                      static_cast<unsigned long long>(kStartLba), static_cast<unsigned long long>(sectors),
                      o.hidden ? Kind(o.service)->type | 0x10 : Kind(o.service)->type);
        script += line;
    }
    auto r = host::RunTool({"sfdisk", "--no-reread", "--no-tell-kernel", "--quiet", image.string()}, {}, script);
    if (r.status != 0) *error = ToolError("sfdisk", r);
    return r.status == 0;
}

bool Format(const fs::path &image, const DiskOptions &o, uint64_t sectors, std::string *error) {
    std::string start = std::to_string(kStartLba);
    auto r = host::RunTool({"mkfs.fat", "-F", std::to_string(Kind(o.service)->fatBits), "-n", "ZAV_SERVICE",
                            "--offset", start, "-h", start, "-g", "255/63", image.string(),
                            std::to_string(sectors / 2)});
    if (r.status != 0) *error = ToolError("mkfs.fat", r);
    return r.status == 0;
}

// The old version's 16-bit programs, small stand-ins that say what they are.
bool AddRecoveryFolder(const fs::path &image, std::string *error) {
    host::fat::Volume volume{image, kStartLba * 512};
    const struct {
        const char *name, *content;
    } kFiles[] = {{"SLX_REST.EXE", "old restore program 1.0\r\n"}, {"VDG_INIT.EXE", "old diagnostics program 1.0\r\n"}};
    fs::path scratch = image.parent_path() / ".recovery-file";
    bool ok = host::fat::MakeDir(volume, "RECOVERY");
    for (const auto &f : kFiles) {
        std::ofstream(scratch, std::ios::binary | std::ios::trunc) << f.content;
        ok = ok && host::fat::CopyIn(volume, scratch, std::string("RECOVERY\\") + f.name);
    }
    std::error_code ec;
    fs::remove(scratch, ec);
    if (!ok) *error = "cannot fill the service partition (mtools)";
    return ok;
}

}  // namespace

bool ParseDiskOption(const Args &args, size_t *i, DiskOptions *o, std::string *error) {
    const std::string &a = args[*i];
    bool hasValue = *i + 1 < args.size();
    if (a == "--hidden") {
        o->hidden = true;
    } else if (a == "--service" && hasValue) {
        o->service = args[++*i];
        if (!Kind(o->service)) *error = "unknown service partition kind '" + o->service + "'";
    } else if (a == "--service-entry" && hasValue) {
        long entry = -1;
        if (!Number(args[++*i], &entry) || entry < 0 || entry > 3) *error = "--service-entry takes 0 to 3";
        o->entry = static_cast<int>(entry);
    } else if (a == "--disk-mb" && hasValue) {
        if (!Number(args[++*i], &o->diskMb) || o->diskMb < 1 || o->diskMb > kMaxDiskMb) {
            *error = "--disk-mb takes 1 to " + std::to_string(kMaxDiskMb);
        }
    } else {
        return false;
    }
    return true;
}

bool CheckDiskOptions(const DiskOptions &o, std::string *error) {
    long minimum = Kind(o.service)->minimumMb;
    if (o.diskMb != 0 && o.diskMb < minimum) {
        *error = "a " + o.service + " service partition needs --disk-mb " + std::to_string(minimum) + " or more";
        return false;
    }
    if (o.hidden && o.service == "none") {
        *error = "--hidden needs a service partition (--service)";
        return false;
    }
    return true;
}

bool BuildDisk(const fs::path &dir, const DiskOptions &o, std::string *iniText, std::string *error) {
    fs::path image = dir / "disk.img";
    uint64_t total = static_cast<uint64_t>(o.diskMb ? o.diskMb : kDefaultDiskMb) * 2048;
    std::error_code ec;
    { std::ofstream create(image, std::ios::binary); }
    fs::resize_file(image, total * 512, ec);  // sparse: only what is written takes room
    if (ec) return *error = "cannot create " + image.string() + ": " + ec.message(), false;
    uint64_t sectors = total - kStartLba;
    if (Kind(o.service)->fatBits == 16) sectors = std::min(sectors, kFat16MaxSectors);
    if (!WriteTable(image, o, sectors, error)) return false;
    *iniText = "\n[disk0]\nimage=disk.img\nheads=255\nsectors=63\n";
    if (o.service == "none") return true;
    // No drive section: `zav-machine boot` mounts the visible partitions, as Windows does at start.
    return Format(image, o, sectors, error) && AddRecoveryFolder(image, error);
}

}  // namespace zm
