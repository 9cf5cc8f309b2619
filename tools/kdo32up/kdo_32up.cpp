// kdo_32up.dll: the INT 13h access library, serving BIOS disk functions
// for the first hard disk from the disk image of the machine named by
// ZAV_MACHINE. It reads machine.ini on every call, as a library that asks
// the BIOS would see the disk as it is now:
//   [disk0] image=, heads=, sectors=, allow_device=, fail_read_lba=,
//           fail_write=, read_only=
//   [int13] fail=8,4100,...  functions (hex) that report failure
//           log=int13.log    one line appended per call
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/host/machine/disks.h"
#include "platform/host/machine/ini_file.h"
#include "tools/kdo32up/int13_service.h"

#define KDO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

namespace disk = host::disk;

// What the library knows of the machine for one call.
struct Machine {
    std::filesystem::path dir;
    host::ini::File ini;
    std::optional<host::DiskSetting> disk;

    std::string Get(const char *section, const char *key) const { return ini.Get(section, key).value_or(""); }
    unsigned Heads() const { return disk ? disk->heads : 255; }
    unsigned SectorsPerTrack() const { return disk ? disk->sectorsPerTrack : 63; }
};

Machine LoadMachine() {
    Machine m;
    const char *env = std::getenv("ZAV_MACHINE");
    if (!env || !*env) return m;
    m.dir = std::filesystem::absolute(env);
    m.ini = host::ini::File::Load(m.dir / "machine.ini").value_or(host::ini::File());
    m.disk = host::FirstDiskOf(m.ini, m.dir);
    return m;
}

void Log(const Machine &m, const std::string &line) {
    std::string name = m.Get("int13", "log");
    if (name.empty() || m.dir.empty()) return;
    std::ofstream(host::MachineFileIn(m.dir, name), std::ios::app) << line << "\n";
}

// [int13] fail= names functions the way they are written in register form:
// 8, 2, 3, 4100, 4800, 4200 (hexadecimal, "0x" optional).
bool Injected(const Machine &m, unsigned function) {
    return disk::ParseNumberList(m.Get("int13", "fail"), 16).count(function) != 0;
}

// The machine's disk image behind the BIOS functions, with its faults.
class MachineDisk : public kdo::Disk {
public:
    explicit MachineDisk(const Machine &m) : m_(m) {
        heads = m.Heads();
        sectorsPerTrack = m.SectorsPerTrack();
    }
    bool Open(bool forWrite) override {
        image_.emplace();
        if (!m_.disk || !disk::ImageAllowed(m_.disk->image, m_.disk->allowDevice)) return false;
        return image_->Open(m_.disk->image, forWrite && !m_.disk->faults.readOnly, m_.disk->faults) == 0;
    }
    uint64_t Bytes() const override { return image_->Bytes(); }
    bool Read(uint64_t offset, void *buffer, uint64_t bytes) override {
        return image_->Read(offset, buffer, bytes) == disk::kOk;
    }
    bool Write(uint64_t offset, const void *buffer, uint64_t bytes) override {
        return image_->Write(offset, buffer, bytes) == disk::kOk;
    }

private:
    const Machine &m_;
    std::optional<disk::Image> image_;
};

}  // namespace

KDO_EXPORT int DoInt13rw(int drive, int function, unsigned short cylinder, unsigned short head,
                         unsigned short sector, int count, void *buffer) {
    Machine m = LoadMachine();
    char line[96];
    std::snprintf(line, sizeof line, "DoInt13rw %d %d %u %u %u %d", drive, function, cylinder, head, sector, count);
    Log(m, line);
    if (function < 0 || Injected(m, static_cast<unsigned>(function))) return 0;
    MachineDisk disk(m);
    return kdo::Int13rw(disk, drive, function, cylinder, head, sector, count, buffer);
}

KDO_EXPORT int DoInt13Ext(int function, int drive, unsigned int lba, int count, void *buffer) {
    Machine m = LoadMachine();
    char line[96];
    std::snprintf(line, sizeof line, "DoInt13Ext 0x%X %d %u %d", static_cast<unsigned>(function), drive, lba, count);
    Log(m, line);
    if (function < 0 || Injected(m, static_cast<unsigned>(function))) return 0;
    MachineDisk disk(m);
    return kdo::Int13Ext(disk, function, drive, lba, count, buffer);
}
