#include "removal/registry_cleanup.h"

#include <string.h>

const char *const g_apszRunValues[] = {"SalvSA", "Kicon", nullptr};
const char *const g_apszRunServicesValues[] = {"Kdagent", "Kdclient", "kdgwsvc", nullptr};
const char *const g_apszServiceKeys[] = {"KDadminServer", "kdAgentServer", "kdntflt", nullptr};
const char *const g_apszUninstallKeys[] = {"ZAV backup and restore program", nullptr};
const char *const g_apszSoftwareKeys[] = {"Keldan", nullptr};

namespace {

// Folds one item's outcome into the running status.
void Merge(CleanupStatus nItem, CleanupStatus *pnStatus) {
    if (nItem == CLEANUP_REMOVED) *pnStatus = CLEANUP_REMOVED;
}

// Deletes the subkeys of the open key `hKey` one by one, always taking the
// first, since the one just deleted is gone.
CleanupStatus DeleteSubkeys(HKEY hKey, const char *pszPath) {
    CleanupStatus nStatus = CLEANUP_NONE_FOUND;
    for (;;) {
        char szName[MAX_PATH];
        char szClass[MAX_PATH];
        DWORD cchName = MAX_PATH;
        DWORD cchClass = MAX_PATH;
        FILETIME ftWrite;
        LONG lResult = RegEnumKeyExA(hKey, 0, szName, &cchName, nullptr, szClass, &cchClass, &ftWrite);
        if (lResult == ERROR_NO_MORE_ITEMS) return nStatus;
        if (lResult != ERROR_SUCCESS) return CLEANUP_FAILED;
        CleanupStatus nChild = DeleteRegistryTree(hKey, pszPath, szName);
        if (nChild == CLEANUP_FAILED) return CLEANUP_FAILED;
        Merge(nChild, &nStatus);
    }
}

}  // namespace

CleanupStatus DeleteRegistryValues(const char *pszKeyPath, const char *const *apszNames) {
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKeyPath, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return CLEANUP_FAILED;
    CleanupStatus nStatus = CLEANUP_NONE_FOUND;
    for (const char *const *ppszName = apszNames; *ppszName; ++ppszName) {
        LONG lResult = RegDeleteValueA(hKey, *ppszName);
        if (lResult == ERROR_SUCCESS) {
            nStatus = CLEANUP_REMOVED;
        } else if (lResult != ERROR_FILE_NOT_FOUND) {
            RegCloseKey(hKey);
            return CLEANUP_FAILED;
        }
    }
    RegCloseKey(hKey);
    return nStatus;
}

CleanupStatus DeleteRegistryTree(HKEY hParent, const char *pszParentPath, const char *pszName) {
    // A path that does not fit cannot be opened safely: refuse it whole
    // rather than cut it and delete some other key.
    char szPath[MAX_PATH];
    if (strlen(pszParentPath) + 1 + strlen(pszName) >= MAX_PATH) return CLEANUP_FAILED;
    strcpy(szPath, pszParentPath);
    strcat(szPath, "\\");
    strcat(szPath, pszName);

    HKEY hKey;
    LONG lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szPath, 0, KEY_ALL_ACCESS, &hKey);
    if (lResult == ERROR_FILE_NOT_FOUND) return CLEANUP_NONE_FOUND;
    if (lResult != ERROR_SUCCESS) return CLEANUP_FAILED;
    CleanupStatus nStatus = DeleteSubkeys(hKey, szPath);
    RegCloseKey(hKey);
    if (nStatus == CLEANUP_FAILED) return CLEANUP_FAILED;

    lResult = RegDeleteKeyA(hParent, pszName);
    if (lResult == ERROR_SUCCESS) return CLEANUP_REMOVED;
    if (lResult == ERROR_FILE_NOT_FOUND) return nStatus;
    return CLEANUP_FAILED;
}

CleanupStatus DeleteRegistryKeys(const char *pszKeyPath, const char *const *apszNames) {
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKeyPath, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return CLEANUP_FAILED;
    CleanupStatus nStatus = CLEANUP_NONE_FOUND;
    for (const char *const *ppszName = apszNames; *ppszName; ++ppszName) {
        CleanupStatus nItem = DeleteRegistryTree(hKey, pszKeyPath, *ppszName);
        if (nItem == CLEANUP_FAILED) {
            RegCloseKey(hKey);
            return CLEANUP_FAILED;
        }
        Merge(nItem, &nStatus);
    }
    RegCloseKey(hKey);
    return nStatus;
}

LONG ReadRegistryString(HKEY hRoot, const char *pszKeyPath, const char *pszValue, char *pszBuffer) {
    HKEY hKey;
    LONG lResult = RegOpenKeyExA(hRoot, pszKeyPath, 0, KEY_READ, &hKey);
    if (lResult != ERROR_SUCCESS) {
        pszBuffer[0] = '\0';
        return lResult;
    }
    DWORD cbData = MAX_PATH;
    lResult = RegQueryValueExA(hKey, pszValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(pszBuffer), &cbData);
    RegCloseKey(hKey);
    // Callers use the buffer as a string: data that does not end inside
    // it would make them read past its end.
    if (lResult == ERROR_SUCCESS && memchr(pszBuffer, '\0', cbData) == nullptr) lResult = ERROR_INVALID_DATA;
    if (lResult != ERROR_SUCCESS) pszBuffer[0] = '\0';
    return lResult;
}
