// The service partition on the first hard disk: the toggles of its hidden bit
// and the lookup of the drive letter it is mounted under.
#pragma once

#include "ui/result_codes.h"

// Hides (bHide non-zero) or unhides the service partition; stores its type
// byte without the hidden bit in *pnPartType when one is found. OS class 1
// and 2 use the raw first physical drive, every other value the INT 13h
// access library. Returns 108 (found, now in the requested state), 104 (none
// found, nothing written) or the code of the failure.
UPD_RESULT SetServicePartitionHidden(int nOsType, int bHide, int *pnPartType);

// The NT-family toggle over "\\.\PhysicalDrive0". OS class 2 also clears the
// disk signature of every master boot record it writes.
UPD_RESULT SetServicePartitionHiddenNt(int bHide, int nOsType, int *pnPartType);

// The Windows 9x toggle through kdo_32up.dll.
UPD_RESULT SetServicePartitionHidden9x(int bHide, int *pnPartType);

// Entry points of kdo_32up.dll (plain C calling convention). Both return
// non-zero when the BIOS operation succeeded.
// DoInt13rw(disk, function, cylinder, head, sector, count, buffer)
typedef int (*PFN_DOINT13RW)(int, int, unsigned short, unsigned short, unsigned short, int, void *);
// DoInt13Ext(function << 8, disk, lba, count, buffer)
typedef int (*PFN_DOINT13EXT)(int, int, unsigned int, int, void *);

// Finds the fixed drive from D: to Z: labelled "ZAV_SERVICE" (any case) and
// stores its letter in *pchLetter: 108. 111, with *pchLetter untouched, when
// there is none.
UPD_RESULT FindServiceDrive(char *pchLetter);
