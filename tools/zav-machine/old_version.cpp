// zav-machine new: what Windows itself keeps that the update program reads
// (the start-up keys, the Start-menu folders) and, with --old-version,
// version 1.0 of the product installed the way the update expects to find
// it. Both are tables: registry entries and files, each tagged with the
// piece it belongs to and the systems that have it.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#include "platform/host/machine/diskette.h"
#include "platform/host/machine/machine.h"
#include "platform/host/registry/store.h"
#include "platform/win.h"
#include "tools/zav-machine/zav_machine.h"

namespace fs = std::filesystem;

namespace zm {
namespace {

// Which systems have an entry.
enum Systems { ALL, NINE_X, NT };

const char kProgramFolder[] = "C:\\Program Files\\ZAV backup and restore";

// "windows" is no piece of the product: every machine has it.
const char kWindows[] = "windows";

struct RegEntry {
    const char *piece;
    Systems systems;
    HKEY root;
    const char *key;
    const char *name;  // nullptr: the key alone
    DWORD type;
    const char *data;  // {PROGRAM} {COMMON} {USER} {SYSTEM} {BUILD} are expanded; REG_DWORD in decimal
};

#define WIN "Software\\Microsoft\\Windows\\CurrentVersion\\"
#define UNINSTALL_ZAV WIN "Uninstall\\ZAV backup and restore program"
#define SERVICES "SYSTEM\\CurrentControlSet\\Services\\"
#define KELDAN "Software\\Keldan\\"
#define HKLM HKEY_LOCAL_MACHINE

const RegEntry kRegistry[] = {
    // Windows: the keys the update opens (a missing Run key is a failure to
    // it, not "nothing installed"), a neighbour in each that must survive,
    // and the Start-menu folders.
    {kWindows, ALL, HKLM, WIN "Run", "SystemTray", REG_SZ, "SysTray.Exe"},
    {kWindows, ALL, HKLM, WIN "RunOnce", nullptr, 0, nullptr},
    {kWindows, NINE_X, HKLM, WIN "RunServices", "SchedulingAgent", REG_SZ, "mstask.exe"},
    {kWindows, NT, HKLM, SERVICES "EventLog", "Type", REG_DWORD, "32"},
    {kWindows, NT, HKLM, SERVICES "EventLog", "Start", REG_DWORD, "2"},
    {kWindows, NT, HKLM, SERVICES "EventLog", "ImagePath", REG_EXPAND_SZ, "%SystemRoot%\\system32\\services.exe"},
    {kWindows, NT, HKLM, SERVICES "EventLog\\Application", "MaxSize", REG_DWORD, "524288"},
    {kWindows, ALL, HKLM, WIN "Uninstall\\AddressBook", "NoDisplay", REG_DWORD, "1"},
    {kWindows, NT, HKLM, WIN "Explorer\\Shell Folders", "Common Programs", REG_SZ, "{COMMON}"},
    {kWindows, ALL, HKEY_CURRENT_USER, WIN "Explorer\\Shell Folders", "Programs", REG_SZ, "{USER}"},

    {"run", ALL, HKLM, WIN "Run", "SalvSA", REG_SZ, "\"{PROGRAM}\\SALVSA.EXE\" /background"},
    {"run", ALL, HKLM, WIN "Run", "Kicon", REG_SZ, "{PROGRAM}\\KICON.EXE"},

    {"runservices", NINE_X, HKLM, WIN "RunServices", "Kdagent", REG_SZ, "{PROGRAM}\\KDAGENT.EXE"},
    {"runservices", NINE_X, HKLM, WIN "RunServices", "Kdclient", REG_SZ, "{PROGRAM}\\KDCLIENT.EXE"},
    {"runservices", NINE_X, HKLM, WIN "RunServices", "kdgwsvc", REG_SZ, "{PROGRAM}\\KDGWSVC.EXE"},

    // Two service processes and a filter driver, each with subkeys so that
    // removing them takes a tree deletion (three levels deep for the driver).
    {"services", NT, HKLM, SERVICES "KDadminServer", "Type", REG_DWORD, "16"},
    {"services", NT, HKLM, SERVICES "KDadminServer", "Start", REG_DWORD, "2"},
    {"services", NT, HKLM, SERVICES "KDadminServer", "ErrorControl", REG_DWORD, "1"},
    {"services", NT, HKLM, SERVICES "KDadminServer", "ImagePath", REG_EXPAND_SZ, "{PROGRAM}\\KDADMSRV.EXE"},
    {"services", NT, HKLM, SERVICES "KDadminServer", "DisplayName", REG_SZ, "ZAV Administration Server"},
    {"services", NT, HKLM, SERVICES "KDadminServer", "ObjectName", REG_SZ, "LocalSystem"},
    {"services", NT, HKLM, SERVICES "KDadminServer\\Enum", "0", REG_SZ, "Root\\LEGACY_KDADMINSERVER\\0000"},
    {"services", NT, HKLM, SERVICES "KDadminServer\\Enum", "Count", REG_DWORD, "1"},
    {"services", NT, HKLM, SERVICES "kdAgentServer", "Type", REG_DWORD, "16"},
    {"services", NT, HKLM, SERVICES "kdAgentServer", "Start", REG_DWORD, "2"},
    {"services", NT, HKLM, SERVICES "kdAgentServer", "ErrorControl", REG_DWORD, "1"},
    {"services", NT, HKLM, SERVICES "kdAgentServer", "ImagePath", REG_EXPAND_SZ, "{PROGRAM}\\KDAGTSRV.EXE"},
    {"services", NT, HKLM, SERVICES "kdAgentServer", "DisplayName", REG_SZ, "ZAV Agent Server"},
    {"services", NT, HKLM, SERVICES "kdAgentServer\\Enum", "0", REG_SZ, "Root\\LEGACY_KDAGENTSERVER\\0000"},
    {"services", NT, HKLM, SERVICES "kdntflt", "Type", REG_DWORD, "1"},
    {"services", NT, HKLM, SERVICES "kdntflt", "Start", REG_DWORD, "1"},
    {"services", NT, HKLM, SERVICES "kdntflt", "ErrorControl", REG_DWORD, "1"},
    {"services", NT, HKLM, SERVICES "kdntflt", "Group", REG_SZ, "Filter"},
    {"services", NT, HKLM, SERVICES "kdntflt", "ImagePath", REG_EXPAND_SZ, "System32\\DRIVERS\\kdntflt.sys"},
    {"services", NT, HKLM, SERVICES "kdntflt", "DisplayName", REG_SZ, "kdntflt"},
    {"services", NT, HKLM, SERVICES "kdntflt\\Parameters", "DebugLevel", REG_DWORD, "0"},
    {"services", NT, HKLM, SERVICES "kdntflt\\Parameters\\Volumes", "C", REG_DWORD, "1"},

    {"uninstall", ALL, HKLM, UNINSTALL_ZAV, "DisplayName", REG_SZ, "ZAV backup and restore program"},
    {"uninstall", ALL, HKLM, UNINSTALL_ZAV, "UninstallString", REG_SZ, "\"{PROGRAM}\\UNINST.EXE\" /remove"},
    {"uninstall", ALL, HKLM, UNINSTALL_ZAV, "DisplayVersion", REG_SZ, "1.0"},

    {"keldan", ALL, HKLM, KELDAN "Info", "InstallPath", REG_SZ, "{PROGRAM}"},
    {"keldan", ALL, HKLM, KELDAN "Info", "BuildNumber", REG_SZ, "{BUILD}"},
    {"keldan", ALL, HKLM, KELDAN "Info", "DosFiles", REG_SZ, "{PROGRAM}\\DOS"},
    {"keldan", ALL, HKLM, KELDAN "Info", "Version", REG_SZ, "1.0"},
    {"keldan", ALL, HKLM, KELDAN "Install", "progress", REG_SZ, "complete"},
    {"keldan", ALL, HKLM, KELDAN "Install\\Components", "Backup", REG_DWORD, "1"},
    {"keldan", ALL, HKLM, KELDAN "Install\\Components", "Restore", REG_DWORD, "1"},
    {"keldan", ALL, HKLM, KELDAN "Salvix", "InstallPath", REG_SZ, "{PROGRAM}\\Salvix"},
};

struct FileEntry {
    const char *piece;
    Systems systems;
    const char *path;     // a Windows path, expanded like registry data
    const char *content;  // nullptr: a folder; kBootSector: a DOS boot sector
};

const char kBootSector[] = "<boot sector>";

const FileEntry kFiles[] = {
    {kWindows, NT, "{COMMON}", nullptr},
    {kWindows, ALL, "{USER}", nullptr},

    {"program-files", ALL, "{PROGRAM}\\SALVSA.EXE", "backup agent 1.0\r\n"},
    {"program-files", ALL, "{PROGRAM}\\KICON.EXE", "tray icon 1.0\r\n"},
    {"program-files", ALL, "{PROGRAM}\\KBACKUP.EXE", "backup program 1.0\r\n"},
    {"program-files", ALL, "{PROGRAM}\\UNINST.EXE", "uninstaller 1.0\r\n"},
    {"program-files", ALL, "{PROGRAM}\\README.TXT", "ZAV backup and restore program 1.0\r\n"},
    {"program-files", NINE_X, "{PROGRAM}\\KDAGENT.EXE", "agent 1.0\r\n"},
    {"program-files", NINE_X, "{PROGRAM}\\KDCLIENT.EXE", "client 1.0\r\n"},
    {"program-files", NINE_X, "{PROGRAM}\\KDGWSVC.EXE", "gateway 1.0\r\n"},
    {"program-files", NT, "{PROGRAM}\\KDADMSRV.EXE", "administration server 1.0\r\n"},
    {"program-files", NT, "{PROGRAM}\\KDAGTSRV.EXE", "agent server 1.0\r\n"},
    {"program-files", ALL, "{PROGRAM}\\Salvix\\SLX_REST.EXE", "old restore program 1.0\r\n"},
    {"program-files", ALL, "{PROGRAM}\\Salvix\\DIAG\\VDG_INIT.EXE", "old diagnostics program 1.0\r\n"},
    {"program-files", ALL, "{PROGRAM}\\DOS\\FL_BOOT.DAT", kBootSector},
    {"program-files", ALL, "{PROGRAM}\\DOS\\IO.SYS", "DOS system file\r\n"},
    {"program-files", ALL, "{PROGRAM}\\DOS\\MSDOS.SYS", "[Options]\r\nBootGUI=0\r\n"},
    {"program-files", ALL, "{PROGRAM}\\DOS\\COMMAND.COM", "DOS command interpreter\r\n"},
    {"services", NT, "{SYSTEM}\\DRIVERS\\KDNTFLT.SYS", "filter driver 1.0\r\n"},

    {"start-menu", NT, "{COMMON}\\ZAV backup and restore\\ZAV backup and restore.lnk", "-> {PROGRAM}\\KBACKUP.EXE\r\n"},
    {"start-menu", ALL, "{USER}\\ZAV backup and restore\\ZAV backup and restore.lnk", "-> {PROGRAM}\\KBACKUP.EXE\r\n"},
    {"start-menu", ALL, "{USER}\\ZAV backup and restore\\Uninstall.lnk", "-> {PROGRAM}\\UNINST.EXE\r\n"},
};

#undef WIN
#undef UNINSTALL_ZAV
#undef SERVICES
#undef KELDAN
#undef HKLM

const char *const kPieces[] = {"run",    "runservices",   "services",   "uninstall",
                               "keldan", "program-files", "start-menu", "installer"};

// Where each system keeps its folders.
struct SystemFolders {
    const char *os, *system, *common, *user;
};
const SystemFolders kFolders[] = {
    {"95", "C:\\WINDOWS\\SYSTEM", "", "C:\\WINDOWS\\Start Menu\\Programs"},
    {"98", "C:\\WINDOWS\\SYSTEM", "", "C:\\WINDOWS\\Start Menu\\Programs"},
    {"me", "C:\\WINDOWS\\SYSTEM", "", "C:\\WINDOWS\\Start Menu\\Programs"},
    {"nt4", "C:\\WINNT\\SYSTEM32", "C:\\WINNT\\Profiles\\All Users\\Start Menu\\Programs",
     "C:\\WINNT\\Profiles\\Administrator\\Start Menu\\Programs"},
    {"2000", "C:\\WINNT\\SYSTEM32", "C:\\Documents and Settings\\All Users\\Start Menu\\Programs",
     "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs"},
};

class Installer {
public:
    Installer(const std::string &os, const OldVersionOptions &options) : options_(options) {
        for (const SystemFolders &f : kFolders) {
            if (os == f.os) folders_ = f;
        }
        nt_ = os == "nt4" || os == "2000";
        vars_ = {{"{PROGRAM}", kProgramFolder}, {"{COMMON}", folders_.common}, {"{USER}", folders_.user},
                 {"{SYSTEM}", folders_.system}, {"{BUILD}", options.build}};
    }

    bool Wanted(const char *piece, Systems systems) const {
        if (systems == (nt_ ? NINE_X : NT)) return false;
        if (std::string(piece) == kWindows) return true;
        return options_.install && !options_.without.count(piece);
    }

    std::string Expand(std::string text) const {
        for (const auto &[name, value] : vars_) {
            for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
                text.replace(at, name.size(), value);
            }
        }
        return text;
    }

    bool Registry(std::string *error) const {
        for (const RegEntry &e : kRegistry) {
            if (Wanted(e.piece, e.systems) && !Write(e, error)) return false;
        }
        LONG compacted = host::RegistryCompact();  // registry.reg alone holds it all
        if (compacted != ERROR_SUCCESS) *error = "cannot write the registry, error " + std::to_string(compacted);
        return compacted == ERROR_SUCCESS;
    }

    bool Files(std::string *error) const {
        for (const FileEntry &f : kFiles) {
            if (Wanted(f.piece, f.systems) && !Make(f, error)) return false;
        }
        return true;
    }

private:
    bool Write(const RegEntry &e, std::string *error) const {
        HKEY key;
        LONG r = RegCreateKeyExA(e.root, e.key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (r == ERROR_SUCCESS) {
            if (e.name) r = SetValue(key, e);
            RegCloseKey(key);
        }
        if (r != ERROR_SUCCESS) *error = std::string("cannot write ") + e.key + ", error " + std::to_string(r);
        return r == ERROR_SUCCESS;
    }

    LONG SetValue(HKEY key, const RegEntry &e) const {
        std::string data = Expand(e.data);
        if (e.type == REG_DWORD) {
            DWORD number = static_cast<DWORD>(std::strtoul(data.c_str(), nullptr, 10));
            return RegSetValueExA(key, e.name, 0, e.type, reinterpret_cast<const BYTE *>(&number), sizeof number);
        }
        return RegSetValueExA(key, e.name, 0, e.type, reinterpret_cast<const BYTE *>(data.c_str()),
                              static_cast<DWORD>(data.size() + 1));
    }

    // Windows paths of a new machine's C: drive: created with the case given.
    static fs::path HostPath(const std::string &windowsPath) {
        std::string rest = windowsPath.substr(3);
        for (char &c : rest) c = c == '\\' ? '/' : c;
        return host::DriveFolder('C') / rest;
    }

    bool Make(const FileEntry &f, std::string *error) const {
        fs::path path = HostPath(Expand(f.path));
        std::error_code ec;
        fs::create_directories(f.content ? path.parent_path() : path, ec);
        std::string content;
        if (!ec && f.content == kBootSector) {
            content = host::diskette::BootSectorImage(host::MachineDir(), error);
            if (content.empty()) return false;
        } else if (f.content) {
            content = Expand(f.content);
        }
        if (!ec && f.content) {
            std::ofstream out(path, std::ios::binary);
            out << content;
            if (!out.flush()) ec = std::make_error_code(std::errc::io_error);
        }
        if (ec) *error = "cannot create " + path.string() + ": " + ec.message();
        return !ec;
    }

    const OldVersionOptions &options_;
    SystemFolders folders_ = kFolders[0];
    bool nt_ = false;
    std::map<std::string, std::string> vars_;
};

// A build number as 1.0's installer writes it: 0 to 2147483647.
bool IsBuildNumber(const std::string &text) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::stoull(text) <= 2147483647ull;
}

}  // namespace

bool ParseOldVersionOption(const Args &args, size_t *i, OldVersionOptions *o, std::string *error) {
    const std::string &a = args[*i];
    bool hasValue = *i + 1 < args.size();
    if (a == "--old-version") {
        o->install = true;
    } else if (a == "--without" && hasValue) {
        std::string piece = args[++*i];
        bool known = false;
        for (const char *p : kPieces) known = known || piece == p;
        if (!known) *error = "unknown piece '" + piece + "' (run, runservices, services, uninstall, keldan, "
                             "program-files, start-menu, installer)";
        o->without.insert(piece);
    } else if (a == "--build" && hasValue) {
        o->build = args[++*i];
        o->install = o->buildGiven = true;
        if (!IsBuildNumber(o->build)) *error = "--build takes a build number from 0 to 2147483647";
    } else {
        return false;
    }
    return true;
}

bool CheckOldVersionOptions(const OldVersionOptions &o, std::string *error) {
    if (!o.without.empty() && !o.install) return *error = "--without needs --old-version", false;
    if (o.buildGiven && o.without.count("keldan")) return *error = "--build needs the keldan piece", false;
    return true;
}

bool InstallWindows(const std::string &os, const OldVersionOptions &options, std::string *error) {
    Installer installer(os, options);
    return installer.Files(error) && installer.Registry(error);
}


}  // namespace zm
