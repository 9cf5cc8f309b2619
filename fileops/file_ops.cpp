#include "fileops/file_ops.h"

#include <string.h>

namespace {

const char kAllEntries[] = "*.*";

bool Cancelled(const CancelFlag *pCancel) { return pCancel && pCancel->load() != 0; }

// folder + "\" + name into a MAX_PATH buffer; FALSE when it would not fit,
// so that a cut path never names another file.
BOOL JoinPath(char *pszOut, const char *pszFolder, const char *pszName) {
    if (strlen(pszFolder) + 1 + strlen(pszName) >= MAX_PATH) return FALSE;
    strcpy(pszOut, pszFolder);
    strcat(pszOut, "\\");
    strcat(pszOut, pszName);
    return TRUE;
}

bool IsDotEntry(const char *pszName) { return strcmp(pszName, ".") == 0 || strcmp(pszName, "..") == 0; }

// One entry of a walk: a file, a link (removed as an entry, never
// followed), or a folder to walk.
UPD_RESULT DeleteEntry(const char *pszPath, const WIN32_FIND_DATAA &entry, const CancelFlag *pCancel) {
    bool bFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool bLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!bFolder) return DeleteOneFile(pszPath, pCancel);
    if (!bLink) return DeleteDirectoryTree(pszPath, pCancel);
    if (RemoveDirectoryA(pszPath)) return UPD_OK;
    return Cancelled(pCancel) ? UPD_OK : MapDisketteError(GetLastError());
}

// Deletes the entries of an enumeration that has delivered `entry`; the
// first failure ends the walk.
UPD_RESULT DeleteEntries(HANDLE hFind, const char *pszPrefix, WIN32_FIND_DATAA *pEntry, const CancelFlag *pCancel) {
    UPD_RESULT nLast = UPD_OK;
    do {
        if (Cancelled(pCancel)) break;
        if ((pEntry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsDotEntry(pEntry->cFileName)) continue;
        char szPath[MAX_PATH];
        if (strlen(pszPrefix) + strlen(pEntry->cFileName) >= MAX_PATH) return MapDisketteError(ERROR_FILENAME_EXCED_RANGE);
        strcpy(szPath, pszPrefix);
        strcat(szPath, pEntry->cFileName);
        nLast = DeleteEntry(szPath, *pEntry, pCancel);
        if (nLast != UPD_OK) break;
    } while (FindNextFileA(hFind, pEntry));
    return nLast;
}

}  // namespace

BOOL AppendWithinPath(char *pszBuffer, const char *pszTail) {
    if (strlen(pszBuffer) + strlen(pszTail) >= MAX_PATH) return FALSE;
    strcat(pszBuffer, pszTail);
    return TRUE;
}

UPD_RESULT MapDisketteError(DWORD nError) {
    switch (nError) {
    case ERROR_SUCCESS:
        return UPD_OK;
    case ERROR_WRITE_PROTECT:
        return IDS_FLOPPY_WRITE_PROTECTED;
    case ERROR_NOT_READY:
        return IDS_NO_DISKETTE;
    case ERROR_SHARING_VIOLATION:
        return IDS_FLOPPY_IN_USE;
    default:
        return IDS_DISKETTE_UNUSABLE;
    }
}

UPD_RESULT DeleteOneFile(const char *pszPath, const CancelFlag *pCancel) {
    if (DeleteFileA(pszPath)) return UPD_OK;
    if (Cancelled(pCancel)) return UPD_OK;
    DWORD nError = GetLastError();
    if (nError == ERROR_ACCESS_DENIED) {
        // A read-only (or hidden or system) file: plain attributes, then once more.
        if (!SetFileAttributesA(pszPath, FILE_ATTRIBUTE_NORMAL)) return MapDisketteError(GetLastError());
        if (DeleteFileA(pszPath)) return UPD_OK;
        nError = GetLastError();
    }
    return MapDisketteError(nError);
}

UPD_RESULT DeleteDirectoryTree(const char *pszFolder, const CancelFlag *pCancel) {
    char szPrefix[MAX_PATH], szPattern[MAX_PATH];
    if (strlen(pszFolder) + 1 + strlen(kAllEntries) >= MAX_PATH) return MapDisketteError(ERROR_FILENAME_EXCED_RANGE);
    strcpy(szPrefix, pszFolder);
    strcat(szPrefix, "\\");
    strcpy(szPattern, szPrefix);
    strcat(szPattern, kAllEntries);
    // "A:" gives the prefix "A:\": a drive root is emptied, never removed.
    bool bRoot = strlen(szPrefix) < 4;

    WIN32_FIND_DATAA entry;
    HANDLE hFind = FindFirstFileA(szPattern, &entry);
    if (hFind == INVALID_HANDLE_VALUE) return UPD_OK;  // missing, no medium, or an empty root
    UPD_RESULT nLast = DeleteEntries(hFind, szPrefix, &entry, pCancel);
    FindClose(hFind);

    if (bRoot || Cancelled(pCancel) || nLast != UPD_OK) return nLast;
    if (RemoveDirectoryA(pszFolder)) return UPD_OK;
    if (pCancel && !Cancelled(pCancel)) return IDS_FILES_NOT_DELETED;
    return MapDisketteError(GetLastError());
}

UPD_RESULT CopyOneFile(const char *pszSourceFolder, const char *pszTargetFolder, const char *pszSourceName,
                       const char *pszTargetName) {
    char szSource[MAX_PATH], szTarget[MAX_PATH];
    if (!JoinPath(szSource, pszSourceFolder, pszSourceName) || !JoinPath(szTarget, pszTargetFolder, pszTargetName))
        return IDS_FILES_NOT_REPLACED;
    return CopyFileA(szSource, szTarget, FALSE) ? UPD_OK : IDS_FILES_NOT_REPLACED;
}
