// The hidden-bit toggle through the raw first physical drive (NT family) and
// the dispatch between it and the INT 13h toggle.
#include "partition/service_partition.h"

#include "app/globals.h"
#include "partition/mbr.h"
#include "platform/win.h"

UPD_RESULT SetServicePartitionHidden(int nOsType, int bHide, int *pnPartType) {
    if (IsNtClass(nOsType)) return SetServicePartitionHiddenNt(bHide, nOsType, pnPartType);
    return SetServicePartitionHidden9x(bHide, pnPartType);
}

namespace {

// Positions the drive at a 64-bit byte offset. The low part is a multiple of
// 512, so it never equals INVALID_SET_FILE_POINTER on success and the return
// value alone tells failure apart.
BOOL SeekDrive(HANDLE hDrive, uint64_t nOffset) {
    LONG nHigh = static_cast<LONG>(nOffset >> 32);
    DWORD nLow = SetFilePointer(hDrive, static_cast<LONG>(nOffset & 0xFFFFFFFFu), &nHigh, FILE_BEGIN);
    return nLow != INVALID_SET_FILE_POINTER;
}

BOOL ReadSector(HANDLE hDrive, void *pBuffer) {
    DWORD nRead = 0;
    return ReadFile(hDrive, pBuffer, kSectorSize, &nRead, NULL);
}

// The first sector of a non-empty entry is read before its type is tested.
bool IsServiceEntry(HANDLE hDrive, const PartitionEntry &entry) {
    uint8_t abBootSector[kSectorSize];
    if (entry.Type() == 0) return false;
    if (!SeekDrive(hDrive, entry.StartByteOffset())) return false;
    if (!ReadSector(hDrive, abBootSector)) return false;
    if (ServiceAccessForType(entry.Type()) == SERVICE_ACCESS_NONE) return false;
    return IsServiceBootSector(abBootSector) != 0;
}

// Writes the whole copy back to sector 0: 108, or 106.
UPD_RESULT WriteMasterBootRecord(HANDLE hDrive, MasterBootRecord *pMbr, int nOsType) {
    if (nOsType == OS_CLASS_2000) pMbr->ClearDiskSignature();
    DWORD nWritten = 0;
    if (!WriteFile(hDrive, pMbr, kSectorSize, &nWritten, NULL)) return IDS_PARTITION_UPDATE_FAILED;
    return UPD_OK;
}

// Every service partition in the table is toggled and the whole copy written
// after each change, so the last write carries all changes made so far.
UPD_RESULT ToggleOnDrive(HANDLE hDrive, int bHide, int nOsType, int *pnPartType) {
    MasterBootRecord mbr;
    if (!ReadSector(hDrive, &mbr)) return IDS_DISK_READ_FAILED;
    if (!mbr.HasValidSignature()) return IDS_PARTITION_TABLE_CORRUPT;
    UPD_RESULT nResult = IDS_NO_SERVICE_PARTITION;
    for (PartitionEntry &entry : mbr.aEntries) {
        if (!IsServiceEntry(hDrive, entry)) continue;
        HiddenRequestResult request = ApplyHiddenRequest(entry.Type(), bHide);
        *pnPartType = static_cast<int>(request.nReportedType);
        // A partition already in state ends the walk; if the last write
        // failed, the earlier change never reached the disk, so that failure
        // must not turn into success here.
        if (request.bAlreadyInState)
            return nResult == IDS_PARTITION_UPDATE_FAILED ? IDS_PARTITION_UPDATE_FAILED : UPD_OK;
        entry.SetType(request.nNewType);
        // A drive that cannot be positioned for the write ends the walk: a
        // later entry's write must not report success for this one.
        if (!SeekDrive(hDrive, 0)) return IDS_PARTITION_UPDATE_FAILED;
        nResult = WriteMasterBootRecord(hDrive, &mbr, nOsType);
    }
    return nResult;
}

}  // namespace

UPD_RESULT SetServicePartitionHiddenNt(int bHide, int nOsType, int *pnPartType) {
    HANDLE hDrive = CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    // An unopenable drive is reported like a corrupted table, as the message
    // catalogue has it.
    if (hDrive == INVALID_HANDLE_VALUE) return IDS_PARTITION_TABLE_CORRUPT;
    UPD_RESULT nResult = ToggleOnDrive(hDrive, bHide, nOsType, pnPartType);
    CloseHandle(hDrive);
    return nResult;
}
