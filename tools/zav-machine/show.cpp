// zav-machine show DIR: what a machine holds, as the program would find it:
// the first hard disk's partition table, the drives with their kind and
// label, the diskette in A, and the registry.
#include <cstdio>
#include <fstream>

#include "partition/mbr.h"
#include "platform/host/machine/disks.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/machine.h"
#include "platform/host/registry/store.h"
#include "platform/win.h"
#include "tools/zav-machine/zav_machine.h"

namespace fs = std::filesystem;

namespace zm {
namespace {

// The service partition's recovery programs, each with its first line.
void ShowRecovery(const host::fat::Volume &volume, size_t entry) {
    auto files = host::fat::List(volume, "RECOVERY");
    if (!files) return;
    std::printf("    partition %zu RECOVERY:", entry);
    fs::path scratch = host::MachineDir() / ".show-scratch";
    for (const host::fat::Entry &f : *files) {
        std::string first;
        if (!f.directory && host::fat::CopyOut(volume, "RECOVERY\\" + f.name, scratch)) {
            std::ifstream in(scratch);
            std::getline(in, first);
            if (!first.empty() && first.back() == '\r') first.pop_back();
        }
        std::printf(" %s \"%s\"", f.name.c_str(), first.c_str());
    }
    std::printf("\n");
    std::error_code ec;
    fs::remove(scratch, ec);
}

void ShowDisk() {
    auto disk = host::FirstDisk();
    if (!disk) {
        std::printf("disk0: none\n");
        return;
    }
    std::ifstream in(disk->image, std::ios::binary);
    MasterBootRecord mbr = {};
    in.read(reinterpret_cast<char *>(&mbr), sizeof mbr);
    in.seekg(0, std::ios::end);
    long long bytes = in ? static_cast<long long>(in.tellg()) : -1;
    std::printf("disk0: %s, %lld sectors, %u heads, %u sectors per track\n", disk->image.c_str(), bytes / 512,
                disk->heads, disk->sectorsPerTrack);
    if (bytes < kSectorSize || !mbr.HasValidSignature()) {
        std::printf("  no partition table\n");
        return;
    }
    std::printf("  entry  type  state    start LBA     sectors  label\n");
    for (size_t i = 0; i < MasterBootRecord::kEntryCount; ++i) {
        const PartitionEntry &e = mbr.aEntries[i];
        const char *state = e.Type() == 0 ? "empty" : (e.Type() & kTypeHiddenBit) ? "hidden" : "visible";
        // The label also of a partition Windows does not mount (hidden).
        host::fat::Volume volume{disk->image, e.StartByteOffset()};
        bool fat = IsMountableFatType(static_cast<uint8_t>(e.Type() & ~kTypeHiddenBit));
        std::string label = fat ? host::fat::Label(volume).value_or("(no FAT volume)") : "";
        std::printf("  %-5zu  %02x    %-7s  %9u  %10u%s%s\n", i, e.Type(), state, e.StartLba(), e.SectorCount(),
                    label.empty() ? "" : "  ", label.c_str());
        if (fat) ShowRecovery(volume, i);
    }
}

const char *KindName(UINT kind) {
    static const char *const kNames[] = {"unknown", "none", "removable", "fixed", "remote", "cdrom", "ramdisk"};
    return kind < 7 ? kNames[kind] : "unknown";
}

void ShowDrives() {
    std::printf("drives:\n");
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::string section = std::string("drive ") + letter;
        auto image = host::MachineSetting(section, "image"), path = host::MachineSetting(section, "path");
        if (!image && !path && !host::MachineSetting(section, "kind")) continue;
        std::string where = image ? *image : path.value_or("");
        if (auto partition = host::MachineSetting(section, "partition")) where += " partition " + *partition;
        char root[] = {letter, ':', '\\', 0}, label[MAX_PATH] = "", fs[MAX_PATH] = "";
        UINT kind = GetDriveTypeA(root);
        if (kind == DRIVE_NO_ROOT_DIR) {
            std::printf("  %c:  not mounted (%s)\n", letter, where.c_str());
        } else if (!GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr, fs, sizeof fs)) {
            std::printf("  %c:  %-9s  not ready, error %u (%s)\n", letter, KindName(kind), GetLastError(),
                        where.c_str());
        } else {
            std::printf("  %c:  %-9s  %-5s  label \"%s\" (%s)\n", letter, KindName(kind), fs, label, where.c_str());
        }
    }
}

}  // namespace

int CmdShow(const Args &args) {
    if (args.size() != 1) return Fail("show needs a machine folder");
    if (std::string error = UseMachine(args[0]); !error.empty()) return Fail(error);
    std::printf("machine %s: Windows %s\n", host::MachineDir().c_str(),
                host::MachineSetting("machine", "os").value_or("2000").c_str());
    ShowDisk();
    ShowDrives();
    ShowDiskettes();
    std::printf("registry:\n");
    std::fflush(stdout);
    // As the program sees it: registry.reg with any journal a crash left.
    std::string text;
    if (LONG rc = host::RegistryExport(&text)) return Fail("cannot read the registry, error " + std::to_string(rc));
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

}  // namespace zm
