#include "app/restart.h"

#include "ui/result_codes.h"

UINT RestartSystem(int nOsType) {
    if (nOsType == 1 || nOsType == 2) {
        // NT refuses to restart without the privilege; failures show up in
        // ExitWindowsEx below, so these results are not looked at.
        HANDLE hToken = nullptr;
        TOKEN_PRIVILEGES tkp = {};
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken);
        LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &tkp.Privileges[0].Luid);
        tkp.PrivilegeCount = 1;
        tkp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        AdjustTokenPrivileges(hToken, FALSE, &tkp, sizeof(TOKEN_PRIVILEGES), nullptr, nullptr);
    }
    if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)) return GetLastError();
    return UPD_OK;
}
