#include "diskette/diskette_area.h"

#include <stddef.h>
#include <string.h>

#include "fileops/file_ops.h"
#include "partition/boot_sector.h"

namespace {

const char kDisketteVolume[] = "\\\\.\\A:";
const DWORD kDirEntrySize = 32;
const DWORD kZeroBufferSize = 16000;
// Bytes 11 to 26: the format fields up to the low byte of the head count.
const size_t kFormatOffset = offsetof(FatBootSector, bpb);
const size_t kFormatBytes = offsetof(BiosParameterBlock, abHeads) + 1;
static_assert(kFormatOffset == 11 && kFormatBytes == 16, "the diskette keeps bytes 11 to 26");

// A root directory larger than the zero buffer, or a negative count, would
// make the clearing write read past the buffer and put garbage on the
// diskette: such a format is not usable.
bool IsClearable(const BiosParameterBlock &bpb) {
    short nSectorsPerFat = static_cast<short>(bpb.SectorsPerFat16());
    short nEntries = static_cast<short>(bpb.RootEntries());
    return nSectorsPerFat >= 0 && nEntries >= 0 && nEntries * kDirEntrySize <= kZeroBufferSize;
}

// The error of a failed call; a call that failed without one still fails.
DWORD LastError() {
    DWORD nError = GetLastError();
    return nError ? nError : ERROR_GEN_FAILURE;
}

DWORD WriteBootSector(HANDLE hVolume, BYTE *pImage) {
    FatBootSector diskette;
    DWORD nDone = 0;
    if (!ReadFile(hVolume, &diskette, sizeof diskette, &nDone, nullptr)) return LastError();
    if (!IsClearable(diskette.bpb)) return ERROR_INVALID_DATA;
    if (SetFilePointer(hVolume, 0, nullptr, FILE_BEGIN) != 0) return LastError();
    memcpy(pImage + kFormatOffset, reinterpret_cast<const BYTE *>(&diskette) + kFormatOffset, kFormatBytes);
    if (!WriteFile(hVolume, pImage, kSectorSize, &nDone, nullptr)) return LastError();
    return ERROR_SUCCESS;
}

// The root directory lies after one reserved sector and two FATs of
// 512-byte sectors, whatever the BPB says of those.
DWORD ClearRootDirectory(HANDLE hVolume, const BYTE *pImage) {
    FatBootSector image;
    memcpy(&image, pImage, sizeof image);
    if (!IsClearable(image.bpb)) return ERROR_INVALID_DATA;
    static const BYTE abZeros[kZeroBufferSize] = {};
    LONG nOffset = static_cast<short>(image.bpb.SectorsPerFat16()) * 1024 + 512;
    if (SetFilePointer(hVolume, nOffset, nullptr, FILE_BEGIN) != static_cast<DWORD>(nOffset)) return LastError();
    DWORD nBytes = static_cast<short>(image.bpb.RootEntries()) * kDirEntrySize, nDone = 0;
    if (!WriteFile(hVolume, abZeros, nBytes, &nDone, nullptr)) return LastError();
    return ERROR_SUCCESS;
}

}  // namespace

UPD_RESULT WriteDisketteArea(BYTE *pImage, char chMode) {
    HANDLE hVolume = CreateFileA(kDisketteVolume, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hVolume == INVALID_HANDLE_VALUE) return MapDisketteError(LastError());
    DWORD nError = chMode == 'V' ? WriteBootSector(hVolume, pImage) : ClearRootDirectory(hVolume, pImage);
    CloseHandle(hVolume);
    return MapDisketteError(nError);
}
