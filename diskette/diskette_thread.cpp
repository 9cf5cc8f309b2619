#include "diskette/diskette_thread.h"

#include <string.h>

#include "app/globals.h"
#include "diskette/diskette_area.h"
#include "partition/mbr.h"
#include "removal/registry_cleanup.h"

const char *const g_apszDisketteFiles[] = {"IO.SYS", "MSDOS.SYS", "COMMAND.COM", "KAUTO.BAT", "KCP.EXE", nullptr};

namespace {

const char kDiskette[] = "A:";
const char kBootImageName[] = "\\FL_BOOT.DAT";
// From this entry on the files lie beside the update program.
const char kBatchFile[] = "KAUTO.BAT";
const char kBatchTarget[] = "AUTOEXEC.BAT";

bool Cancelled(const CancelFlag *pCancel) { return pCancel->load() != 0; }


// The first 512 bytes of FL_BOOT.DAT in the DOS folder. A cancel given
// meanwhile wins over a failed read.
UPD_RESULT ReadBootImage(char *pszDosFolder, BYTE *pImage, const CancelFlag *pCancel) {
    size_t nFolderLength = strlen(pszDosFolder);
    if (!AppendWithinPath(pszDosFolder, kBootImageName)) return IDS_DOS_FILES_MISSING;
    HANDLE hFile = CreateFileA(pszDosFolder, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    pszDosFolder[nFolderLength] = '\0';
    if (hFile == INVALID_HANDLE_VALUE) return IDS_DOS_FILES_MISSING;
    DWORD nRead = 0;
    BOOL bRead = ReadFile(hFile, pImage, kSectorSize, &nRead, nullptr);
    CloseHandle(hFile);
    if (Cancelled(pCancel)) return IDS_USER_CANCELLED;
    return bRead && nRead >= kSectorSize ? UPD_OK : IDS_DOS_FILES_MISSING;
}

// The listed files: from the DOS folder up to the batch file, from the
// update program's own folder from there on.
UPD_RESULT CopyListedFiles(char *pszFolder, const CancelFlag *pCancel) {
    for (const char *const *ppszName = g_apszDisketteFiles; *ppszName; ++ppszName) {
        if (Cancelled(pCancel)) return IDS_USER_CANCELLED;
        const char *pszTarget = *ppszName;
        if (_stricmp(*ppszName, kBatchFile) == 0) {
            strcpy(pszFolder, g_szSelfPath);
            unsigned char *pszSlash = _mbsrchr(reinterpret_cast<unsigned char *>(pszFolder), '\\');
            if (pszSlash) *pszSlash = '\0';
            pszTarget = kBatchTarget;
        }
        if (CopyOneFile(pszFolder, kDiskette, *ppszName, pszTarget) != UPD_OK) return IDS_DOS_FILES_MISSING;
    }
    return UPD_OK;
}

UPD_RESULT CopyRecoveryPrograms(char *pszInstallPath, const CancelFlag *pCancel) {
    if (CopyOneFile(pszInstallPath, kDiskette, kRestoreProgram, kRestoreProgram) != UPD_OK)
        return IDS_FILES_NOT_REPLACED;
    if (Cancelled(pCancel)) return IDS_USER_CANCELLED;
    if (!AppendWithinPath(pszInstallPath, kDiagFolder) ||
        CopyOneFile(pszInstallPath, kDiskette, kDiagnosticsProgram, kDiagnosticsProgram) != UPD_OK)
        return IDS_FILES_NOT_REPLACED;
    return UPD_OK;
}

UPD_RESULT BuildDiskette(const CancelFlag *pCancel) {
    UPD_RESULT nResult = DeleteDirectoryTree(kDiskette, pCancel);
    if (nResult != UPD_OK) return nResult;
    if (Cancelled(pCancel)) return IDS_USER_CANCELLED;

    char szDosFolder[MAX_PATH], szInstallPath[MAX_PATH];
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, kInfoKey, "DosFiles", szDosFolder) != ERROR_SUCCESS ||
        ReadRegistryString(HKEY_LOCAL_MACHINE, kSalvixKey, "InstallPath", szInstallPath) != ERROR_SUCCESS)
        return IDS_REGISTRY_ACCESS_FAILED;

    BYTE abImage[kSectorSize];
    if ((nResult = ReadBootImage(szDosFolder, abImage, pCancel)) != UPD_OK) return nResult;
    if ((nResult = WriteDisketteArea(abImage, 'V')) != UPD_OK) return nResult;
    if (Cancelled(pCancel)) return IDS_USER_CANCELLED;
    if ((nResult = WriteDisketteArea(abImage, 'R')) != UPD_OK) return nResult;

    if ((nResult = CopyListedFiles(szDosFolder, pCancel)) != UPD_OK) return nResult;
    return CopyRecoveryPrograms(szInstallPath, pCancel);
}

}  // namespace

DWORD WINAPI DisketteThread(LPVOID pParams) {
    ExitThread(BuildDiskette(static_cast<const DisketteParams *>(pParams)->pCancel));
}
