// The service partition's hidden bit in the first hard disk's partition table.
#pragma once

#include "ui/result_codes.h"

// Hides (bHide non-zero) or unhides the service partition; reports its type
// byte without the hidden bit in *pnPartType. Returns 108, or 104 when there
// is no service partition, or the code of the failure.
UPD_RESULT SetServicePartitionHidden(int nOsType, int bHide, int *pnPartType);
