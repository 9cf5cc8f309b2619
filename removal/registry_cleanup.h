// Removal of the old version's registry values and key trees, and a small
// string reader. Every path is relative to HKEY_LOCAL_MACHINE unless a root
// is given.
#pragma once

#include "platform/win.h"

// Whether a removal found anything to remove.
enum CleanupStatus {
    CLEANUP_REMOVED = 0,     // at least one item existed and was deleted, nothing failed
    CLEANUP_NONE_FOUND = 1,  // none of the items existed; nothing changed
    CLEANUP_FAILED = 2,      // opening, enumerating or deleting failed
};

// Null-terminated lists of the names version 1.0 left behind.
extern const char *const g_apszRunValues[];
extern const char *const g_apszRunServicesValues[];
extern const char *const g_apszServiceKeys[];
extern const char *const g_apszUninstallKeys[];
extern const char *const g_apszSoftwareKeys[];

// Deletes the listed values of key `pszKeyPath`; a missing key fails.
CleanupStatus DeleteRegistryValues(const char *pszKeyPath, const char *const *apszNames);
// Deletes subkey `pszName` of the open key `hParent` (whose path is
// `pszParentPath`) with everything beneath it, children before parents.
CleanupStatus DeleteRegistryTree(HKEY hParent, const char *pszParentPath, const char *pszName);
// Deletes the listed subkey trees of key `pszKeyPath`; a missing key fails.
CleanupStatus DeleteRegistryKeys(const char *pszKeyPath, const char *const *apszNames);
// Reads a string value into a 260-byte buffer; returns the system error
// code (0 on success) and leaves an empty string on failure.
LONG ReadRegistryString(HKEY hRoot, const char *pszKeyPath, const char *pszValue, char *pszBuffer);
