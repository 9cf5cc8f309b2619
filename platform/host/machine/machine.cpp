// The sandbox machine: machine.ini settings and the mapping between Windows
// paths and the files of the machine's folder drives.
#include "platform/host/machine/machine.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/host/machine/disks.h"
#include "platform/host/machine/ini_file.h"
#include "platform/host/text/ascii.h"

namespace fs = std::filesystem;

namespace host {
namespace {

// machine.ini, read once per machine.
struct Settings {
    fs::path dir;
    ini::File file;
};

std::mutex g_mutex;
Settings *g_settings = nullptr;

Settings Load() {
    Settings s;
    const char *env = std::getenv("ZAV_MACHINE");
    if (!env || !*env) return s;
    s.dir = fs::absolute(env);
    s.file = ini::File::Load(s.dir / "machine.ini").value_or(ini::File());
    return s;
}

const Settings &Current() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_settings) g_settings = new Settings(Load());
    return *g_settings;
}

// Finds `name` in `dir` without regard to case; a missing entry keeps the
// name as given so that it can be created.
fs::path MatchEntry(const fs::path &dir, const std::string &name) {
    fs::path exact = dir / name;
    std::error_code ec;
    if (fs::exists(exact, ec)) return exact;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (EqualsIgnoringCase(it->path().filename().string(), name)) return it->path();
    }
    return exact;
}

std::vector<std::string> SplitPath(const std::string &rest) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : rest) {
        if (c == '\\' || c == '/') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

}  // namespace

fs::path MachineDir() { return Current().dir; }

std::optional<DiskSetting> FirstDisk() {
    const Settings &s = Current();
    return FirstDiskOf(s.file, s.dir);
}

fs::path MachineFile(const std::string &value) { return MachineFileIn(MachineDir(), value); }

std::optional<std::string> MachineSetting(const std::string &section, const std::string &key) {
    return Current().file.Get(section, key);
}

const OsVersion *MachineOs() {
    auto os = MachineSetting("machine", "os");
    for (const OsVersion &v : kSystems) {
        if (EqualsIgnoringCase(v.name, os.value_or("2000"))) return &v;
    }
    return nullptr;
}

bool MachineIsNt() {
    auto id = MachineSetting("machine", "platform_id");
    if (id) return std::atoi(id->c_str()) == VER_PLATFORM_WIN32_NT;
    const OsVersion *os = MachineOs();
    return os && os->platformId == VER_PLATFORM_WIN32_NT;
}

fs::path DriveFolder(char letter) {
    std::string section = std::string("drive ") + static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    auto path = MachineSetting(section, "path");
    if (!path) return {};
    fs::path p(*path);
    return p.is_absolute() ? p : MachineDir() / p;
}

fs::path HostPathFor(const std::string &windowsPath) {
    if (windowsPath.size() >= 260 || windowsPath.size() < 2 || windowsPath[1] != ':') return {};
    if (!std::isalpha(static_cast<unsigned char>(windowsPath[0]))) return {};
    fs::path dir = DriveFolder(windowsPath[0]);
    if (dir.empty()) return {};
    std::string rest = windowsPath.substr(2);
    if (!rest.empty() && rest[0] != '\\' && rest[0] != '/') return {};  // drive-relative paths are not served
    std::vector<std::string> parts;  // "." and ".." applied; ".." never leaves the drive
    for (std::string &part : SplitPath(rest)) {
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (part != ".") {
            parts.push_back(std::move(part));
        }
    }
    // The exact names first, in one look: a tree walk passes the names its
    // enumeration gave, so the folders are scanned only for a name in
    // another case.
    fs::path exact = dir;
    for (const std::string &part : parts) exact /= part;
    std::error_code ec;
    fs::path found = exact;
    if (fs::symlink_status(exact, ec).type() == fs::file_type::not_found || ec) {
        found = dir;
        for (const std::string &part : parts) found = MatchEntry(found, part);
    }
    // A symbolic link inside the drive may lead anywhere: such a path is
    // not served, as ".." is kept within the drive.
    return LiesInside(found, dir) ? found : fs::path();
}

bool LiesInside(const fs::path &file, const fs::path &dir) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(file, ec);
    if (ec) return false;
    fs::path root = fs::weakly_canonical(dir, ec);
    if (ec) return false;
    fs::path rel = real.lexically_relative(root);
    return !rel.empty() && *rel.begin() != "..";
}

std::string WindowsPathFor(const fs::path &hostPath) {
    std::error_code ec;
    fs::path file = fs::weakly_canonical(hostPath, ec);
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        fs::path drive = DriveFolder(letter);
        if (drive.empty()) continue;
        fs::path root = fs::weakly_canonical(drive, ec);
        fs::path rel = file.lexically_relative(root);
        if (rel.empty() || *rel.begin() == "..") continue;
        std::string out = std::string(1, letter) + ":";
        for (const auto &part : rel) {
            if (part == ".") continue;
            out += "\\" + part.string();
        }
        if (out.size() == 2) out += "\\";
        return out;
    }
    return {};
}

std::string ModuleWindowsPath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    std::string inside = ec ? std::string() : WindowsPathFor(exe);
    if (!inside.empty()) return inside;
    return MachineSetting("machine", "program").value_or("C:\\UPDATE\\UPDATE.EXE");
}

void ReloadMachine() {
    std::lock_guard<std::mutex> lock(g_mutex);
    delete g_settings;
    g_settings = nullptr;
}

}  // namespace host
