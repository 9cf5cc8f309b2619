// Version, error state, module and file attributes, process token and the
// restart request, as the machine answers them.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/host/handles.h"
#include "platform/host/machine.h"
#include "platform/win.h"

namespace {

thread_local DWORD t_lastError = 0;

struct OsEntry {
    const char *name;
    DWORD platformId, major, minor, build;
};

// What GetVersionExA reports for each system a machine can run.
constexpr OsEntry kOsTable[] = {
    {"95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950},   {"98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998},
    {"me", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000}, {"nt4", VER_PLATFORM_WIN32_NT, 4, 0, 1381},
    {"2000", VER_PLATFORM_WIN32_NT, 5, 0, 2195},
};

DWORD SettingOr(const char *key, DWORD fallback) {
    auto v = host::MachineSetting("machine", key);
    return v ? static_cast<DWORD>(std::strtoul(v->c_str(), nullptr, 0)) : fallback;
}

// The shutdown privilege of this process's token; NT refuses a restart without it.
std::mutex g_tokenMutex;
bool g_shutdownEnabled = false;
constexpr DWORD kShutdownLuid = 19;
struct TokenObject : host::HandleObject {};

bool MachineIsNtClass() { return host::MachineIsNt(); }

}  // namespace

DWORD WINAPI GetLastError(void) { return t_lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::string os = host::MachineSetting("machine", "os").value_or("2000");
    OsEntry entry = kOsTable[4];
    for (const OsEntry &e : kOsTable) {
        if (strcasecmp(e.name, os.c_str()) == 0) entry = e;
    }
    info->dwPlatformId = SettingOr("platform_id", entry.platformId);
    info->dwMajorVersion = SettingOr("major", entry.major);
    info->dwMinorVersion = SettingOr("minor", entry.minor);
    info->dwBuildNumber = SettingOr("build", entry.build);
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR buffer, DWORD size) {
    if (hModule != nullptr && hModule != GetModuleHandleA(nullptr)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::string path = host::ModuleWindowsPath();
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // As Windows XP does: a path that does not fit is cut, left unterminated,
    // and the full buffer size is returned.
    if (path.size() >= size) {
        std::memcpy(buffer, path.data(), size);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
    if (!fileName || std::strlen(fileName) >= MAX_PATH) {
        SetLastError(fileName ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    auto path = host::HostPathFor(fileName);
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) {
        bool parentMissing = path.empty() || access(path.parent_path().c_str(), F_OK) != 0;
        SetLastError(parentMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attrs = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) attrs |= FILE_ATTRIBUTE_READONLY;
    return attrs;
}

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
    if (!MachineIsNtClass()) {  // Windows 9x has no security services
        SetLastError(120 /* ERROR_CALL_NOT_IMPLEMENTED */);
        return FALSE;
    }
    if (process != GetCurrentProcess() || !token) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *token = host::AddHandle(std::make_shared<TokenObject>());
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR, LPCSTR name, PLUID luid) {
    if (!name || !luid || strcasecmp(name, SE_SHUTDOWN_NAME) != 0) {
        SetLastError(1313 /* ERROR_NO_SUCH_PRIVILEGE */);
        return FALSE;
    }
    luid->LowPart = kShutdownLuid;
    luid->HighPart = 0;
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD, PTOKEN_PRIVILEGES,
                                  PDWORD) {
    if (!host::FindHandleAs<TokenObject>(token) || !state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(g_tokenMutex);
    if (disableAll) g_shutdownEnabled = false;
    for (DWORD i = 0; !disableAll && i < state->PrivilegeCount && i < 1; ++i) {
        if (state->Privileges[i].Luid.LowPart == kShutdownLuid)
            g_shutdownEnabled = (state->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
    {
        std::lock_guard<std::mutex> lock(g_tokenMutex);
        if (MachineIsNtClass() && !g_shutdownEnabled) {
            SetLastError(ERROR_PRIVILEGE_NOT_HELD);
            return FALSE;
        }
    }
    auto dir = host::MachineDir();
    if (dir.empty()) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    // Recorded, never carried out: `zav-machine boot` plays the restart.
    std::ofstream out(dir / "restart", std::ios::trunc);
    out << "flags=" << flags << "\nreason=" << reason << "\n";
    if (!out.flush()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}
