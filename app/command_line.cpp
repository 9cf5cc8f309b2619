#include "app/command_line.h"

#include <string.h>

#include "app/globals.h"

namespace {

// The last build that this update may replace.
const unsigned int kLastReplaceableBuild = 4076;
const size_t kTokenSize = kInstallerNameSize;

const unsigned char *Mbs(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

// A token that names a folder or a drive could start a program outside the
// update's own folder. The scan is multibyte-aware: a trail byte 0x5C of a
// double-byte character is no backslash.
bool LooksLikePath(const char *pszToken) {
    return _mbschr(Mbs(pszToken), '\\') || _mbschr(Mbs(pszToken), '/') || _mbschr(Mbs(pszToken), ':');
}

// Applies one token; returns 108 or 110.
UPD_RESULT ApplyToken(const char *pszToken, int *pnMode, int *pnService, int *pnTypec) {
    if (_mbsicmp(Mbs(pszToken), Mbs("hide")) == 0) {
        *pnMode = MODE_HIDE;
    } else if (_mbsicmp(Mbs(pszToken), Mbs("noservice")) == 0) {
        *pnService = 0;
    } else if (_mbsicmp(Mbs(pszToken), Mbs("typec")) == 0) {
        *pnTypec = 1;
    } else if (_mbsicmp(Mbs(pszToken), Mbs("unhide")) == 0) {
        *pnMode = MODE_UNHIDE;
    } else {
        if (LooksLikePath(pszToken)) return IDS_PARAMETER_MISSING;
        strcpy(g_szInstaller, pszToken);
    }
    return UPD_OK;
}

UPD_RESULT ParseTokens(const char *pszCmdLine, int *pnMode, int *pnService, int *pnTypec) {
    const char *pszStart = pszCmdLine;
    for (;;) {
        const char *pszSpace = reinterpret_cast<const char *>(_mbschr(Mbs(pszStart), ' '));
        size_t nLength = pszSpace ? static_cast<size_t>(pszSpace - pszStart) : strlen(pszStart);
        // A cut name could start a different program: refuse it whole.
        if (nLength >= kTokenSize) return IDS_PARAMETER_MISSING;
        char szToken[kTokenSize];
        memcpy(szToken, pszStart, nLength);
        szToken[nLength] = '\0';
        UPD_RESULT nResult = ApplyToken(szToken, pnMode, pnService, pnTypec);
        if (nResult != UPD_OK) return nResult;
        if (!pszSpace) return UPD_OK;
        pszStart = pszSpace + 1;
    }
}

UPD_RESULT ClassifySystem() {
    static_assert(sizeof(OSVERSIONINFOA) == 148, "the structure every Windows version knows");
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    GetVersionExA(&info);
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        g_nOsType = OS_CLASS_9X;
    } else if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        g_nOsType = info.dwMajorVersion == 5 ? OS_CLASS_2000 : OS_CLASS_NT4;
    } else {
        return IDS_VERSION_NOT_DETECTED;
    }
    return UPD_OK;
}

// No registration, or an unreadable one, is no obstacle to the update.
UPD_RESULT CheckInstalledBuild() {
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInfoKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return UPD_OK;
    char szBuild[MAX_PATH];
    DWORD cbBuild = sizeof szBuild;
    LONG lResult = RegQueryValueExA(hKey, "BuildNumber", nullptr, nullptr, reinterpret_cast<LPBYTE>(szBuild), &cbBuild);
    RegCloseKey(hKey);
    // Data that does not end inside the buffer is no number we can trust.
    if (lResult != ERROR_SUCCESS || cbBuild == 0 || memchr(szBuild, '\0', cbBuild) == nullptr) return UPD_OK;
    unsigned int nBuild = static_cast<unsigned int>(atoi(szBuild));
    return nBuild > kLastReplaceableBuild ? IDS_NEWER_VERSION_INSTALLED : UPD_OK;
}

}  // namespace

UPD_RESULT ParseCommandLine(const char *pszCmdLine, int *pnMode, int *pnService, int *pnTypec) {
    *pnMode = MODE_NONE;
    *pnService = 1;
    *pnTypec = 0;
    UPD_RESULT nResult = ParseTokens(pszCmdLine ? pszCmdLine : "", pnMode, pnService, pnTypec);
    if (nResult != UPD_OK) return nResult;
    if (*pnMode == MODE_NONE || g_szInstaller[0] == '\0') return IDS_PARAMETER_MISSING;
    nResult = ClassifySystem();
    if (nResult != UPD_OK) return nResult;
    return CheckInstalledBuild();
}
