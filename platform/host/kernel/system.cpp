// Version, error state, module path, process token and the restart
// request, as the machine answers them.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/host/kernel/faults.h"
#include "platform/host/kernel/handles.h"
#include "platform/host/machine/atomic_file.h"
#include "platform/host/machine/machine.h"
#include "platform/win.h"

namespace {

thread_local DWORD t_lastError = 0;

DWORD SettingOr(const char *key, DWORD fallback) {
    auto v = host::MachineSetting("machine", key);
    return v ? static_cast<DWORD>(std::strtoul(v->c_str(), nullptr, 0)) : fallback;
}

// The shutdown privilege of this process's token; NT refuses a restart without it.
std::mutex g_tokenMutex;
bool g_shutdownEnabled = false;
constexpr DWORD kShutdownLuid = 19;
struct TokenObject : host::HandleObject {};


}  // namespace

DWORD WINAPI GetLastError(void) { return t_lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    HOST_API(FALSE)
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // An os= that names no system is refused at start (host::CheckMachine);
    // should anything ask all the same, it learns nothing.
    const host::OsVersion *os = host::MachineOs();
    if (!os) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    info->dwPlatformId = SettingOr("platform_id", os->platformId);
    info->dwMajorVersion = SettingOr("major", os->major);
    info->dwMinorVersion = SettingOr("minor", os->minor);
    info->dwBuildNumber = SettingOr("build", os->build);
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR buffer, DWORD size) {
    HOST_API(0)
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

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
    HOST_API(FALSE)
    if (!host::MachineIsNt()) {  // Windows 9x has no security services
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
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
    HOST_API(FALSE)
    if (!name || !luid || strcasecmp(name, SE_SHUTDOWN_NAME) != 0) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    luid->LowPart = kShutdownLuid;
    luid->HighPart = 0;
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD, PTOKEN_PRIVILEGES,
                                  PDWORD) {
    HOST_API(FALSE)
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
    HOST_API(FALSE)
    {
        std::lock_guard<std::mutex> lock(g_tokenMutex);
        if (host::MachineIsNt() && !g_shutdownEnabled) {
            SetLastError(ERROR_PRIVILEGE_NOT_HELD);
            return FALSE;
        }
    }
    auto dir = host::MachineDir();
    if (dir.empty()) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    // Recorded, never carried out: `zav-machine boot` plays the restart. A
    // request that cannot be recorded whole is refused, never left half.
    std::string request = "flags=" + std::to_string(flags) + "\nreason=" + std::to_string(reason) + "\n";
    if (int error = host::ReplaceFileAtomically(dir / "restart", request)) {
        SetLastError(static_cast<DWORD>(host::WriteErrorFromErrno(error)));
        return FALSE;
    }
    return TRUE;
}
