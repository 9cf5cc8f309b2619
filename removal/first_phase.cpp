#include "removal/first_phase.h"

#include <string.h>

#include "app/globals.h"
#include "fileops/file_ops.h"
#include "partition/mbr.h"
#include "partition/service_partition.h"
#include "removal/registry_cleanup.h"
#include "ui/update_dlg.h"

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunServicesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kRunOnceValue[] = "ZV_UPDATE";


// The second phase's command line. The program path is quoted when it
// holds a space: unquoted, Windows would try "C:\Program.exe" first, and
// RunOnce runs with the system's rights. The text after the program name
// is the same either way.
BOOL BuildSecondPhaseCommand(int bPartitionFound, char *pszCommand) {
    pszCommand[0] = '\0';
    BOOL bQuote = _mbschr(reinterpret_cast<const unsigned char *>(g_szSelfPath), ' ') != nullptr;
    BOOL bFits = (!bQuote || AppendWithinPath(pszCommand, "\"")) && AppendWithinPath(pszCommand, g_szSelfPath) &&
                 (!bQuote || AppendWithinPath(pszCommand, "\"")) && AppendWithinPath(pszCommand, " hide ") &&
                 AppendWithinPath(pszCommand, g_szInstaller);
    if (bFits && !bPartitionFound) bFits = AppendWithinPath(pszCommand, " noservice");
    // NT 4 cannot reach a FAT32 partition: the second phase goes by diskette.
    BOOL bFat32 = g_nPartType == kTypeFat32 || g_nPartType == kTypeFat32Lba;
    if (bFits && g_nOsType == OS_CLASS_NT4 && bFat32) bFits = AppendWithinPath(pszCommand, " typec");
    return bFits;
}

}  // namespace

UPD_RESULT ScheduleSecondPhase(int bPartitionFound) {
    char szCommand[MAX_PATH];
    if (!BuildSecondPhaseCommand(bPartitionFound, szCommand)) return IDS_RUNONCE_FAILED;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
        return IDS_RUNONCE_FAILED;
    LONG lResult = RegSetValueExA(hKey, kRunOnceValue, 0, REG_SZ, reinterpret_cast<const BYTE *>(szCommand),
                                  static_cast<DWORD>(strlen(szCommand) + 1));
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS ? UPD_OK : IDS_RUNONCE_FAILED;
}

UPD_RESULT RemoveOldRegistration(int nOsType, int bPartitionFound) {
    BOOL bFound = FALSE;
    CleanupStatus nStatus;
    if (IsNtClass(nOsType)) {
        nStatus = DeleteRegistryKeys(kServicesKey, g_apszServiceKeys);
        if (nStatus == CLEANUP_FAILED) return IDS_REGISTRY_KEYS_NOT_DELETED;
    } else {
        nStatus = DeleteRegistryValues(kRunServicesKey, g_apszRunServicesValues);
        if (nStatus == CLEANUP_FAILED) return IDS_REGISTRY_ACCESS_FAILED;
    }
    if (nStatus == CLEANUP_REMOVED) bFound = TRUE;

    nStatus = DeleteRegistryValues(kRunKey, g_apszRunValues);
    if (nStatus == CLEANUP_FAILED) return IDS_REGISTRY_ACCESS_FAILED;
    if (nStatus == CLEANUP_REMOVED) bFound = TRUE;

    nStatus = DeleteRegistryKeys(kUninstallKey, g_apszUninstallKeys);
    if (nStatus == CLEANUP_FAILED) return IDS_REGISTRY_KEYS_NOT_DELETED;
    if (nStatus == CLEANUP_REMOVED) bFound = TRUE;

    if (!bPartitionFound && !bFound) return IDS_OLD_VERSION_ABSENT;
    return ScheduleSecondPhase(bPartitionFound);
}

void CUpdateDlg::OnOK() {
    g_bRestart = FALSE;
    g_nPartType = 0;
    UPD_RESULT nResult = SetServicePartitionHidden(g_nOsType, 0, &g_nPartType);
    if (nResult == UPD_OK) {
        g_bRestart = TRUE;
    } else if (nResult != IDS_NO_SERVICE_PARTITION) {
        EndDialog(static_cast<int>(nResult));
        return;
    }
    nResult = RemoveOldRegistration(g_nOsType, g_bRestart);
    if (nResult == UPD_OK) g_bRestart = TRUE;
    EndDialog(static_cast<int>(nResult));
}
