// zav-machine boot DIR: what Windows does when the machine starts, printed
// as it goes: the recorded restart request is consumed, the first hard
// disk's visible FAT partitions get drive letters, and each RunOnce value
// runs once. A startup diskette in A: would start DOS instead, which the
// sandbox does not run: the machine is then left as it is.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <vector>

#include "partition/mbr.h"
#include "platform/host/machine/disks.h"
#include "platform/host/machine/ini_file.h"
#include "platform/host/machine/machine.h"
#include "platform/host/text/ascii.h"
#include "platform/win.h"
#include "tools/zav-machine/command_line.h"
#include "tools/zav-machine/zav_machine.h"

namespace fs = std::filesystem;

namespace zm {
namespace {

const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

bool ClearRestart(std::string *error) {
    fs::path file = host::MachineDir() / "restart";
    std::ifstream in(file);
    if (!in) {
        std::printf("cold boot\n");
        return true;
    }
    std::string request;
    std::getline(in, request);
    in.close();
    std::error_code ec;
    fs::remove(file, ec);
    if (ec) return *error = "cannot clear the restart request: " + ec.message(), false;
    std::printf("restart request cleared (%s)\n", request.c_str());
    return true;
}

// --- Partitions -----------------------------------------------------------

struct TableEntry {
    int index;
    unsigned type;
};

// Why a partition gets no letter, or nullptr when it gets one.
const char *NotMounted(unsigned type) {
    if (IsMountableFatType(static_cast<uint8_t>(type & ~kTypeHiddenBit)) && (type & kTypeHiddenBit)) return "hidden";
    if (!IsMountableFatType(static_cast<uint8_t>(type))) return "not FAT";
    // Windows NT 4 has no FAT32 driver: which is why the update goes by diskette there.
    bool fat32 = type == kTypeFat32 || type == kTypeFat32Lba;
    if (fat32 && host::EqualsIgnoringCase(host::MachineSetting("machine", "os").value_or(""), "nt4")) {
        return "FAT32 on Windows NT 4";
    }
    return nullptr;
}

// The used entries of the first hard disk's partition table, in table order.
std::vector<TableEntry> ReadTable() {
    std::vector<TableEntry> entries;
    auto disk = host::FirstDisk();
    if (!disk) return entries;
    MasterBootRecord mbr;
    std::ifstream in(disk->image, std::ios::binary);
    if (!in.read(reinterpret_cast<char *>(&mbr), sizeof mbr) || !mbr.HasValidSignature()) return entries;
    for (int i = 0; i < static_cast<int>(MasterBootRecord::kEntryCount); ++i) {
        if (mbr.aEntries[i].Type() != 0) entries.push_back({i, mbr.aEntries[i].Type()});
    }
    return entries;
}

// The letter of a "[drive X]" section, or 0.
char DriveLetter(const host::ini::Section &s) {
    if (s.name.size() != 7 || !host::EqualsIgnoringCase(s.name.substr(0, 6), "drive ")) return 0;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(s.name[6])));
    return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

bool IsPartitionDrive(const host::ini::Section &s) { return DriveLetter(s) && s.Has("partition"); }

// What a start does with one partition table entry.
struct Mount {
    TableEntry entry;
    char letter;      // 0: not mounted
    const char *why;  // the reason when not mounted
};

void ShowMount(const Mount &m) {
    if (!m.letter) {
        std::printf("partition %d (type %02x) not mounted: %s\n", m.entry.index, m.entry.type, m.why);
        return;
    }
    char root[] = {m.letter, ':', '\\', 0}, label[MAX_PATH] = "";
    std::printf("mounted %c: = partition %d (type %02x, ", m.letter, m.entry.index, m.entry.type);
    if (GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0)) {
        std::printf("label %s)\n", label);
    } else {
        std::printf("no volume: error %u)\n", GetLastError());
    }
}

// Letters for the visible FAT partitions, in table order, from the first
// letters from C: that `used` leaves free.
std::vector<Mount> PlanMounts(bool used[26]) {
    std::vector<Mount> plan;
    for (const TableEntry &e : ReadTable()) {
        int free = 2;
        while (free < 26 && used[free]) ++free;
        Mount m{e, 0, NotMounted(e.type)};
        if (!m.why && free == 26) m.why = "no letter left";
        if (!m.why) {
            used[free] = true;
            m.letter = static_cast<char>('A' + free);
        }
        plan.push_back(m);
    }
    return plan;
}

// Rewrites machine.ini's partition drives: those of the last start go, one
// per partition mounted now comes, after the machine's own drives. The file
// is replaced at once: readers see the old one or the new one.
bool MountPartitions(std::string *error) {
    fs::path path = host::MachineDir() / "machine.ini";
    auto ini = host::ini::File::Load(path);
    if (!ini) return *error = "cannot read " + path.string(), false;
    bool used[26] = {true, true};  // A: and B: are the diskette drives' letters
    std::vector<host::ini::Section> &sections = ini->sections();
    std::erase_if(sections, IsPartitionDrive);
    for (const host::ini::Section &s : sections) {
        if (char letter = DriveLetter(s)) used[letter - 'A'] = true;
    }
    std::string image = host::MachineSetting("disk0", "image").value_or("");
    std::vector<Mount> plan = PlanMounts(used);
    for (const Mount &m : plan) {
        if (m.letter) {
            ini->Append("drive " + std::string(1, m.letter),
                        {{"image", image}, {"partition", std::to_string(m.entry.index)}, {"kind", "fixed"}});
        }
    }
    if (std::string failed = host::ini::Save(*ini, path); !failed.empty()) return *error = failed, false;
    host::ReloadMachine();
    for (const Mount &m : plan) ShowMount(m);
    return true;
}

// --- RunOnce --------------------------------------------------------------

// The value names in the order stored; what programs add while they run is
// for the next start.
std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD size = sizeof name;
        if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    return names;
}

// Reads a value and deletes it; false (with the reason printed) when it is
// gone or cannot be deleted, so that it does not run.
bool TakeValue(HKEY key, const std::string &name, DWORD *type, std::string *data) {
    DWORD size = 0;
    LONG r = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
    if (r == ERROR_FILE_NOT_FOUND) return false;  // an earlier command removed it
    data->assign(size, '\0');
    if (r == ERROR_SUCCESS) {
        r = RegQueryValueExA(key, name.c_str(), nullptr, type, reinterpret_cast<BYTE *>(data->data()), &size);
    }
    if (r == ERROR_SUCCESS) r = RegDeleteValueA(key, name.c_str());
    if (r != ERROR_SUCCESS) {
        std::printf("RunOnce %s: cannot take the value, error %ld; not run\n", name.c_str(), static_cast<long>(r));
        return false;
    }
    data->resize(std::min<size_t>(size, data->find('\0')));  // the text up to its terminator
    return true;
}

void RunValue(HKEY key, const std::string &name) {
    DWORD type = 0;
    std::string line;
    if (!TakeValue(key, name, &type, &line)) return;
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        std::printf("RunOnce %s: not a command (type %lu), removed\n", name.c_str(), static_cast<unsigned long>(type));
        return;
    }
    std::printf("RunOnce %s: %s\n", name.c_str(), line.c_str());
    Command command;
    if (!ResolveCommand(line, &command)) {
        std::printf("RunOnce %s: no program found, skipped\n", name.c_str());
        return;
    }
    int status = RunCommand(command);
    if (status < 0) {
        std::printf("RunOnce %s: cannot start the program\n", name.c_str());
    } else {
        std::printf("RunOnce %s: exit status %d\n", name.c_str(), status);
    }
}

bool RunOnce(std::string *error) {
    HKEY key;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (r == ERROR_FILE_NOT_FOUND) {
        std::printf("RunOnce: nothing to run\n");
        return true;
    }
    if (r != ERROR_SUCCESS) return *error = "cannot open RunOnce, error " + std::to_string(r), false;
    std::vector<std::string> names = ValueNames(key);
    if (names.empty()) std::printf("RunOnce: nothing to run\n");
    for (const std::string &name : names) RunValue(key, name);
    RegCloseKey(key);
    return true;
}

}  // namespace

int CmdBoot(const Args &args) {
    if (args.size() != 1) return Fail("boot needs a machine folder");
    if (std::string error = UseMachine(args[0]); !error.empty()) return Fail(error);
    if (StartupDisketteIn('A')) {
        std::printf("the machine starts from the startup diskette in A:; its DOS programs are not run here, "
                    "so the machine is left as it is\n");
        return 0;
    }
    std::string error;
    if (!ClearRestart(&error) || !MountPartitions(&error) || !RunOnce(&error)) return Fail(error);
    return 0;
}

}  // namespace zm
