// zav-machine show DIR: what a machine holds, as the program would find it:
// the first hard disk's partition table, the drives with their kind and
// label, and the registry.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/host/machine.h"
#include "platform/host/machine_disks.h"
#include "platform/win.h"
#include "tools/zav-machine/zav_machine.h"

namespace zm {
namespace {

uint32_t Le32(const unsigned char *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void ShowDisk() {
    auto disk = host::FirstDisk();
    if (!disk) {
        std::printf("disk0: none\n");
        return;
    }
    std::ifstream in(disk->image, std::ios::binary);
    unsigned char mbr[512] = {};
    in.read(reinterpret_cast<char *>(mbr), sizeof mbr);
    in.seekg(0, std::ios::end);
    long long bytes = in ? static_cast<long long>(in.tellg()) : -1;
    std::printf("disk0: %s, %lld sectors, %u heads, %u sectors per track\n", disk->image.c_str(), bytes / 512,
                disk->heads, disk->sectorsPerTrack);
    if (bytes < 512 || mbr[510] != 0x55 || mbr[511] != 0xAA) {
        std::printf("  no partition table\n");
        return;
    }
    std::printf("  entry  type  state    start LBA     sectors\n");
    for (int i = 0; i < 4; ++i) {
        const unsigned char *e = mbr + 446 + 16 * i;
        const char *state = e[4] == 0 ? "empty" : (e[4] & 0x10) ? "hidden" : "visible";
        std::printf("  %-5d  %02x    %-7s  %9u  %10u\n", i, e[4], state, Le32(e + 8), Le32(e + 12));
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
    if (!UseMachine(args[0])) return Fail(args[0] + " is no machine (no machine.ini)");
    std::printf("machine %s: Windows %s\n", host::MachineDir().c_str(),
                host::MachineSetting("machine", "os").value_or("2000").c_str());
    ShowDisk();
    ShowDrives();
    std::printf("registry:\n");
    std::ifstream reg(host::MachineDir() / "registry.reg", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(reg)), std::istreambuf_iterator<char>());
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

}  // namespace zm
