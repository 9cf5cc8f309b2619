// zav-machine boot DIR: what Windows does when the machine starts, printed
// as it goes: the recorded restart request is consumed, the first hard
// disk's visible FAT partitions get drive letters, and each RunOnce value
// runs once.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/host/machine.h"
#include "platform/host/machine_disks.h"
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

std::string Lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

struct TableEntry {
    int index;
    unsigned type;
};

bool IsVisibleFat(unsigned type) {
    return type == 0x01 || type == 0x04 || type == 0x06 || type == 0x0B || type == 0x0C || type == 0x0E;
}

// Why a partition gets no letter, or nullptr when it gets one.
const char *NotMounted(unsigned type) {
    if (IsVisibleFat(type & ~0x10u) && (type & 0x10)) return "hidden";
    if (!IsVisibleFat(type)) return "not FAT";
    // Windows NT 4 has no FAT32 driver: which is why the update goes by diskette there.
    bool fat32 = type == 0x0B || type == 0x0C;
    if (fat32 && Lower(host::MachineSetting("machine", "os").value_or("")) == "nt4") return "FAT32 on Windows NT 4";
    return nullptr;
}

// The used entries of the first hard disk's partition table, in table order.
std::vector<TableEntry> ReadTable() {
    std::vector<TableEntry> entries;
    auto disk = host::FirstDisk();
    if (!disk) return entries;
    unsigned char mbr[512] = {};
    std::ifstream in(disk->image, std::ios::binary);
    if (!in.read(reinterpret_cast<char *>(mbr), sizeof mbr) || mbr[510] != 0x55 || mbr[511] != 0xAA) return entries;
    for (int i = 0; i < 4; ++i) {
        unsigned type = mbr[446 + 16 * i + 4];
        if (type != 0) entries.push_back({i, type});
    }
    return entries;
}

// One section of machine.ini, kept as written.
struct Section {
    std::string name;  // lower case, trimmed; "" before the first header
    std::vector<std::string> lines;

    bool HasKey(const std::string &key) const {
        for (const std::string &line : lines) {
            size_t eq = line.find('=');
            if (eq != std::string::npos && Lower(Trim(line.substr(0, eq))) == key) return true;
        }
        return false;
    }
    // The letter of a "[drive X]" section, or 0.
    char DriveLetter() const {
        if (name.size() != 7 || name.compare(0, 6, "drive ") != 0) return 0;
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[6])));
        return letter >= 'A' && letter <= 'Z' ? letter : 0;
    }
    bool IsPartitionDrive() const { return DriveLetter() && HasKey("partition"); }
};

std::vector<Section> ReadIni(const fs::path &file) {
    std::vector<Section> sections(1);
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        std::string t = Trim(line);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            sections.push_back({Lower(Trim(t.substr(1, t.size() - 2))), {}});
        }
        sections.back().lines.push_back(line);
    }
    return sections;
}

// Replaces machine.ini by `text` at once: readers see the old file or the
// new one, never half of it.
bool ReplaceIni(const std::string &text, std::string *error) {
    fs::path ini = host::MachineDir() / "machine.ini", fresh = host::MachineDir() / "machine.ini.new";
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    std::error_code ec;
    if (out) fs::rename(fresh, ini, ec);
    if (!out || ec) {
        fs::remove(fresh, ec);
        return *error = "cannot rewrite machine.ini", false;
    }
    host::ReloadMachine();
    return true;
}

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
// per partition mounted now comes, after the machine's own drives.
bool MountPartitions(std::string *error) {
    std::string text;
    bool used[26] = {true, true};  // A: and B: are the diskette drives' letters
    for (const Section &s : ReadIni(host::MachineDir() / "machine.ini")) {
        if (s.IsPartitionDrive()) continue;
        if (char letter = s.DriveLetter()) used[letter - 'A'] = true;
        for (const std::string &line : s.lines) text += line + "\n";
    }
    while (text.ends_with("\n\n")) text.pop_back();  // one blank line between sections, however often we boot
    std::string image = host::MachineSetting("disk0", "image").value_or("");
    std::vector<Mount> plan = PlanMounts(used);
    for (const Mount &m : plan) {
        if (!m.letter) continue;
        text += "\n[drive " + std::string(1, m.letter) + "]\nimage=" + image + "\npartition=" +
                std::to_string(m.entry.index) + "\nkind=fixed\n";
    }
    if (!ReplaceIni(text, error)) return false;
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
    if (!UseMachine(args[0])) return Fail(args[0] + " is no machine (no machine.ini)");
    std::string error;
    if (!ClearRestart(&error) || !MountPartitions(&error) || !RunOnce(&error)) return Fail(error);
    return 0;
}

}  // namespace zm
