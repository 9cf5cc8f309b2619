// The check a machine passes before any program runs on it: machine.ini
// readable and well-formed, a system it can run, a usable clock, every
// file it names inside the machine folder, and a registry file.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/host/machine/disk_image.h"
#include "platform/host/machine/disks.h"
#include "platform/host/machine/ini_file.h"
#include "platform/host/machine/machine.h"
#include "platform/host/text/ascii.h"

namespace fs = std::filesystem;

namespace host {
namespace {

// Real ms per program ms: 0 (virtual) up to 100 times slower than real
// time; beyond that a wait's real length no longer fits its arithmetic.
constexpr double kSlowestClock = 100;
bool IsClockScale(const std::string &text) {
    errno = 0;
    char *end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0 && v >= 0 && v <= kSlowestClock;
}

// Every file a section names lies in the machine folder, unless the
// section admits another place with `permit`=1.
std::string OutsideFile(const ini::File &file, const fs::path &dir) {
    static const struct {
        const char *section;  // a name, or a prefix ending in a space
        const char *key, *permit;
    } kFileKeys[] = {
        {"drive ", "path", "allow_outside"}, {"drive ", "image", "allow_outside"},
        {"disk0", "image", "allow_device"},  {"int13", "log", nullptr},
        {"faults", "log", nullptr},
    };
    for (const ini::Section &section : file.sections()) {
        for (const auto &k : kFileKeys) {
            std::string prefix = k.section;
            std::string_view name = section.name;
            if (prefix.back() == ' ') name = name.substr(0, prefix.size());
            bool matches = EqualsIgnoringCase(name, prefix);
            auto value = section.Get(k.key);
            if (!matches || !value || value->empty()) continue;
            fs::path file = MachineFileIn(dir, *value);
            std::error_code ec;
            if (std::string(k.key) == "image" && fs::is_directory(file, ec))
                return "[" + section.name + "] image=" + *value + " is a folder, not an image";
            if (k.permit && disk::IsTrue(section.Get(k.permit).value_or(""))) continue;
            if (!LiesInside(file, dir)) {
                return "[" + section.name + "] " + k.key + "=" + *value + " lies outside the machine folder" +
                       (k.permit ? std::string(" (") + k.permit + "=1 admits it)" : std::string());
            }
        }
    }
    return {};
}

std::string CheckRegistryFile(const fs::path &dir) {
    fs::path reg = dir / "registry.reg";
    std::error_code ec;
    fs::file_status st = fs::status(reg, ec);
    if (!fs::exists(st)) return reg.string() + ": missing (a machine keeps its registry there)";
    if (!fs::is_regular_file(st)) return reg.string() + ": is no file";
    if (!LiesInside(reg, dir)) return reg.string() + ": lies outside the machine folder";
    if (!std::ifstream(reg)) return reg.string() + ": cannot be read: " + std::strerror(errno);
    return {};
}

}  // namespace

std::string CheckMachine() {
    fs::path dir = MachineDir(), iniPath = dir / "machine.ini";
    std::string where = iniPath.string() + ": ";
    std::error_code ec;
    if (!fs::is_regular_file(iniPath, ec)) return where + "missing, or no file";
    auto file = ini::File::Load(iniPath);
    if (!file) return where + "cannot be read: " + std::strerror(errno);
    if (auto bad = file->FirstMalformedLine()) {
        std::string shown = bad->second.size() > 40 ? bad->second.substr(0, 40) + "..." : bad->second;
        return where + "line " + std::to_string(bad->first) + " is no [section] and no key=value: \"" + shown + "\"";
    }
    bool hasMachine = false;
    for (const ini::Section &section : file->sections()) hasMachine |= EqualsIgnoringCase(section.name, "machine");
    if (!hasMachine) return where + "no [machine] section";
    if (!MachineOs()) {
        return where + "[machine] os=" + MachineSetting("machine", "os").value_or("") +
               " is no system this machine can run (95, 98, me, nt4 or 2000)";
    }
    if (auto scale = file->Get("machine", "clock_scale"); scale && !IsClockScale(*scale))
        return where + "[machine] clock_scale=" + *scale + " is no number from 0 to 100";
    if (const char *env = std::getenv("ZAV_CLOCK_SCALE"); env && *env && !IsClockScale(env))
        return std::string("ZAV_CLOCK_SCALE=") + env + " is no number from 0 to 100";
    if (std::string outside = OutsideFile(*file, dir); !outside.empty()) return where + outside;
    return CheckRegistryFile(dir);
}

}  // namespace host
