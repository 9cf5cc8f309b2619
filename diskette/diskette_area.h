// The startup diskette below its file system: the boot sector and the root
// directory of the diskette in drive A, written through the raw volume.
#pragma once

#include "platform/win.h"
#include "ui/result_codes.h"

// Mode 'V' puts the 512-byte boot-sector image on the diskette, first
// copying the diskette's own format (bytes 11 to 26) into the image; any
// other mode ('R') zeroes the root directory the image describes. 108, or
// the mapped system error (131 to 134); a format whose root directory the
// writer cannot cover is refused with 134 before anything is written.
UPD_RESULT WriteDisketteArea(BYTE *pImage, char chMode);
