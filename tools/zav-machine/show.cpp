// zav-machine show DIR: what a machine holds, as the program would find it:
// the first hard disk's partition table, the drives with their kind and
// label, and the registry.
#include <cstdio>
#include <fstream>

#include "partition/mbr.h"
#include "platform/host/machine/disks.h"
#include "platform/host/machine/machine.h"
#include "platform/host/registry/store.h"
#include "platform/win.h"
#include "tools/zav-machine/zav_machine.h"

namespace zm {
namespace {

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
    std::printf("  entry  type  state    start LBA     sectors\n");
    for (size_t i = 0; i < MasterBootRecord::kEntryCount; ++i) {
        const PartitionEntry &e = mbr.aEntries[i];
        const char *state = e.Type() == 0 ? "empty" : (e.Type() & kTypeHiddenBit) ? "hidden" : "visible";
        std::printf("  %-5zu  %02x    %-7s  %9u  %10u\n", i, e.Type(), state, e.StartLba(), e.SectorCount());
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
    std::printf("registry:\n");
    std::fflush(stdout);
    // As the program sees it: registry.reg with any journal a crash left.
    std::string text;
    if (LONG rc = host::RegistryExport(&text)) return Fail("cannot read the registry, error " + std::to_string(rc));
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

}  // namespace zm
