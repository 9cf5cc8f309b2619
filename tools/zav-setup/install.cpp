#include "tools/zav-setup/install.h"

#include "platform/win.h"

namespace {

const char kProgram[] = "C:\\Program Files\\ZAV backup and restore";
const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Each folder on the way, then the file.
bool WriteFileAt(const std::string &path, const std::string &content) {
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    return CloseHandle(h) && ok;
}

std::string UserPrograms() {
    char buffer[MAX_PATH] = "";
    DWORD size = sizeof buffer;
    HKEY h;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ, &h) != ERROR_SUCCESS) return "";
    LONG rc = RegQueryValueExA(h, "Programs", nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS ? buffer : "";
}

// The folder SETUP.EXE was started from: the update package.
std::string PackageFolder() {
    char path[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, n < sizeof path ? n : 0);
    return self.substr(0, self.find_last_of('\\'));
}

}  // namespace

bool SetString(HKEY root, const char *key, const char *name, const std::string &value) {
    HKEY h;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != ERROR_SUCCESS) return false;
    LONG rc = RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

bool InstallFiles(const std::string &omit) {
    const std::string program = kProgram;
    const std::pair<std::string, std::string> files[] = {
        {program + "\\KBACKUP.EXE", "backup program 1.1\r\n"},
        {program + "\\README.TXT", "ZAV backup and restore program 1.1\r\n"},
        {program + "\\Salvix\\SLX_REST.EXE", "new restore program 1.1\r\n"},
        {program + "\\Salvix\\DIAG\\VDG_INIT.EXE", "new diagnostics program 1.1\r\n"},
    };
    bool ok = true;
    for (const auto &[path, content] : files) {
        if (!omit.empty() && path.size() >= omit.size() && path.compare(path.size() - omit.size(), omit.size(), omit) == 0)
            continue;
        ok = WriteFileAt(path, content) && ok;
    }
    // The DOS files the startup diskette is made of come with the package;
    // one without them installs the rest (the diskette then lacks them).
    std::string package = PackageFolder();
    CreateDirectoryA((program + "\\DOS").c_str(), nullptr);
    for (const char *name : {"FL_BOOT.DAT", "IO.SYS", "MSDOS.SYS", "COMMAND.COM"}) {
        if (omit == name) continue;
        CopyFileA((package + "\\DOS\\" + name).c_str(), (program + "\\DOS\\" + name).c_str(), FALSE);
    }
    // A Start menu it cannot write to is no reason to fail the installation.
    std::string menu = UserPrograms();
    if (!menu.empty()) WriteFileAt(menu + "\\ZAV backup and restore\\ZAV backup and restore.lnk", "-> " + program + "\\KBACKUP.EXE\r\n");
    return ok;
}

bool RegisterKeys(bool salvixInstallPath) {
    const std::string program = kProgram;
    bool ok = SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "InstallPath", program) &&
              SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "DosFiles", program + "\\DOS") &&
              SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "BuildNumber", "4076") &&
              SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "Version", "1.1");
    if (ok && salvixInstallPath)
        ok = SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Salvix", "InstallPath", program + "\\Salvix");
    return ok;
}

