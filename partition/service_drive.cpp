// The drive letter under which the system mounted the unhidden service
// partition.
#include <stdio.h>

#include "partition/mbr.h"
#include "partition/service_partition.h"
#include "platform/win.h"

namespace {

// The label as the platform returns it; far wider than any FAT label.
const DWORD kLabelBufferSize = 119;

bool HasServiceLabel(const char *pszRoot) {
    char szLabel[kLabelBufferSize];
    DWORD nSerial = 0, nMaxComponent = 0, nFlags = 0;
    if (!GetVolumeInformationA(pszRoot, szLabel, kLabelBufferSize, &nSerial, &nMaxComponent, &nFlags, NULL, 0))
        return false;
    // Mounted labels are compared as whole strings and without regard to
    // case, unlike the byte-exact boot-sector test.
    return _mbsicmp(reinterpret_cast<const unsigned char *>(szLabel),
                    reinterpret_cast<const unsigned char *>(kServiceLabel)) == 0;
}

}  // namespace

// A:, B: and C: are never the service partition; the lowest letter wins.
UPD_RESULT FindServiceDrive(char *pchLetter) {
    for (char chLetter = 'D'; chLetter <= 'Z'; ++chLetter) {
        char szRoot[8];
        sprintf(szRoot, "%c:\\", chLetter);
        if (GetDriveTypeA(szRoot) != DRIVE_FIXED) continue;
        if (!HasServiceLabel(szRoot)) continue;
        *pchLetter = chLetter;
        return UPD_OK;
    }
    return IDS_SERVICE_CONTENTS_UNEXPECTED;
}
