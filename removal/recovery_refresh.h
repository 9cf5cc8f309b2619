// The recovery programs on the service partition, replaced by those the new
// installation put on the hard disk.
#pragma once

#include "ui/result_codes.h"

// Waits for "Software\Keldan\Salvix" "InstallPath", then copies
// SLX_REST.EXE and DIAG\VDG_INIT.EXE from it into <letter>:\RECOVERY; 15
// failed attempts of both stages together end it. 108, 116 or 117.
UPD_RESULT RefreshRecoveryFiles(char chDrive);
