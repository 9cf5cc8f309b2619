#include "app/restart.h"

#include "app/globals.h"
#include "ui/result_codes.h"

UINT RestartSystem(int nOsType) {
    if (IsNtClass(nOsType)) {
        // NT refuses to restart without the privilege; failures show up in
        // ExitWindowsEx below, so these results are not looked at. The token
        // handle is left open on purpose: the system goes down with it, and
        // closing it is no part of this program's restart.
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
