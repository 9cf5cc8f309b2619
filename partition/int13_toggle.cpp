// The hidden-bit toggle of Windows 9x, through the BIOS disk services that
// kdo_32up.dll offers. It stops at the first service partition, writes at
// most once and never touches the disk signature.
#include "partition/mbr.h"
#include "partition/service_partition.h"
#include "platform/win.h"

namespace {

const int kFirstHardDisk = 0;
const int kFnReadParameters = 8;
const int kFnReadSectors = 2;
const int kFnWriteSectors = 3;
const int kExtInstallCheck = 0x4100;
const int kExtReadParameters = 0x4800;
const int kExtRead = 0x4200;
// Result areas handed to the probes; their contents are never examined.
const size_t kResultAreaSize = 12;

struct Int13Library {
    PFN_DOINT13RW pfnRw;
    PFN_DOINT13EXT pfnExt;
};

// GetProcAddress hands back a generic function pointer; going through
// void (*)() states that the real signature is known to us.
template <typename Fn>
Fn LookUp(HMODULE hLib, const char *pszName) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(hLib, pszName)));
}

// Loaded anew on every call and never freed: it stays until the program ends.
bool LoadInt13Library(Int13Library *pLib) {
    HMODULE hLib = LoadLibraryA("kdo_32up.dll");
    if (!hLib) return false;
    pLib->pfnRw = LookUp<PFN_DOINT13RW>(hLib, "DoInt13rw");
    pLib->pfnExt = LookUp<PFN_DOINT13EXT>(hLib, "DoInt13Ext");
    return pLib->pfnRw && pLib->pfnExt;
}

// Both probes must succeed; a failed probe only means LBA entries are skipped.
bool HasExtensions(const Int13Library &lib) {
    uint8_t abAreaB[kResultAreaSize] = {};
    if (!lib.pfnExt(kExtInstallCheck, kFirstHardDisk, 0, 0, abAreaB)) return false;
    return lib.pfnExt(kExtReadParameters, kFirstHardDisk, 0, 0, abAreaB) != 0;
}

// Reads a candidate's first sector the way its type is addressed; the type is
// tested before any read. CHS fields are used exactly as stored.
bool ReadCandidate(const Int13Library &lib, const PartitionEntry &entry, bool bExtensions, uint8_t *pSector) {
    switch (ServiceAccessForType(entry.Type())) {
    case SERVICE_ACCESS_CHS:
        return lib.pfnRw(kFirstHardDisk, kFnReadSectors, entry.StartCylinder(), entry.StartHead(), entry.StartSector(),
                         1, pSector) != 0;
    case SERVICE_ACCESS_LBA:
        return bExtensions && lib.pfnExt(kExtRead, kFirstHardDisk, entry.StartLba(), 1, pSector) != 0;
    default:
        return false;
    }
}

PartitionEntry *FindServiceEntry(const Int13Library &lib, MasterBootRecord *pMbr, bool bExtensions) {
    uint8_t abBootSector[kSectorSize];
    for (PartitionEntry &entry : pMbr->aEntries) {
        if (ReadCandidate(lib, entry, bExtensions, abBootSector) && IsServiceBootSector(abBootSector)) return &entry;
    }
    return nullptr;
}

UPD_RESULT ToggleThroughLibrary(const Int13Library &lib, int bHide, int *pnPartType) {
    uint8_t abAreaA[kResultAreaSize] = {};
    if (!lib.pfnRw(kFirstHardDisk, kFnReadParameters, 0, 0, 1, 0, abAreaA)) return IDS_DRIVE_NOT_DETECTED;
    bool bExtensions = HasExtensions(lib);
    MasterBootRecord mbr;
    if (!lib.pfnRw(kFirstHardDisk, kFnReadSectors, 0, 0, 1, 1, &mbr)) return IDS_DISK_READ_FAILED;
    if (!mbr.HasValidSignature()) return IDS_PARTITION_TABLE_CORRUPT;
    PartitionEntry *pEntry = FindServiceEntry(lib, &mbr, bExtensions);
    if (!pEntry) return IDS_NO_SERVICE_PARTITION;
    HiddenRequestResult request = ApplyHiddenRequest(pEntry->Type(), bHide);
    *pnPartType = static_cast<int>(request.nReportedType);
    if (request.bAlreadyInState) return UPD_OK;
    pEntry->SetType(request.nNewType);
    if (!lib.pfnRw(kFirstHardDisk, kFnWriteSectors, 0, 0, 1, 1, &mbr)) return IDS_PARTITION_UPDATE_FAILED;
    return UPD_OK;
}

}  // namespace

UPD_RESULT SetServicePartitionHidden9x(int bHide, int *pnPartType) {
    Int13Library lib;
    if (!LoadInt13Library(&lib)) return IDS_DLL_MISSING;
    return ToggleThroughLibrary(lib, bHide, pnPartType);
}
