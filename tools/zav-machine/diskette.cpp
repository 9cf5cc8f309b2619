// zav-machine and the diskette in drive A: `show` lists its boot sector's
// fields and its files; `boot` starts from it when it is a startup
// diskette, which only a DOS machine could go on with.
#include <cstdio>
#include <fstream>

#include "partition/boot_sector.h"
#include "platform/host/machine/drives.h"
#include "platform/host/win_kernel.h"
#include "tools/zav-machine/zav_machine.h"

namespace zm {
namespace {

// Every entry below `folder`, depth first, in directory order.
void ListTree(const host::fat::Volume &volume, const std::string &folder, std::vector<std::string> *out) {
    auto entries = host::fat::List(volume, folder);
    if (!entries) return;
    for (const host::fat::Entry &e : *entries) {
        std::string path = folder.empty() ? e.name : folder + "\\" + e.name;
        out->push_back(path + (e.directory ? "\\" : "") + (e.readOnly ? " (read-only)" : ""));
        if (e.directory) ListTree(volume, path, out);
    }
}

void ShowBootSector(const FatBootSector &b) {
    const BiosParameterBlock &p = b.bpb;
    std::printf("  boot sector: OEM \"%.8s\", %u bytes per sector, %u per cluster, %u reserved, %u FATs, %u root "
                "entries, %u sectors, media %02X, %u per FAT, %u per track, %u heads, signature %s\n",
                reinterpret_cast<const char *>(b.abOemName), p.BytesPerSector(), p.nSectorsPerCluster,
                LoadLe16(p.abReservedSectors), p.nFatCount, p.RootEntries(), LoadLe16(p.abTotalSectors16),
                p.nMediaDescriptor, p.SectorsPerFat16(), LoadLe16(p.abSectorsPerTrack), LoadLe16(p.abHeads),
                b.HasValidSignature() ? "55 AA" : "missing");
}

bool ReadBootSector(const host::Drive &drive, FatBootSector *sector) {
    return drive.state == host::Drive::State::kReady && host::ReadSector(drive.fat.image, 0, sector);
}

}  // namespace

void ShowDiskettes() {
    for (char letter = 'A'; letter <= 'B'; ++letter) {
        host::Drive drive = host::FindDrive(letter);
        if (drive.kind != DRIVE_REMOVABLE || drive.fat.image.empty()) continue;
        FatBootSector sector;
        if (!ReadBootSector(drive, &sector)) {
            std::printf("diskette %c: none (%s)\n", letter, drive.fat.image.filename().c_str());
            continue;
        }
        std::printf("diskette %c: %s%s\n", letter, drive.fat.image.filename().c_str(),
                    drive.writeProtected ? ", write-protected" : "");
        ShowBootSector(sector);
        std::vector<std::string> files;
        ListTree(drive.fat, "", &files);
        std::printf("  files:%s\n", files.empty() ? " none" : "");
        for (const std::string &f : files) std::printf("    %s\n", f.c_str());
    }
}

bool StartupDisketteIn(char letter) {
    host::Drive drive = host::FindDrive(letter);
    FatBootSector sector;
    if (drive.kind != DRIVE_REMOVABLE || !ReadBootSector(drive, &sector) || !sector.HasValidSignature()) return false;
    auto root = host::fat::List(drive.fat, "");
    if (!root) return false;
    for (const host::fat::Entry &e : *root) {
        if (e.name == "IO.SYS" && !e.directory) return true;
    }
    return false;
}

}  // namespace zm
