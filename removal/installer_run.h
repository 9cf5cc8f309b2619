// The new version's installer: started beside the update program, awaited,
// then its completion flag awaited in the registry.
#pragma once

#include "ui/result_codes.h"

// 108 once "Software\Keldan\Install" "progress" reads "complete" (any
// case); 118 when the installer cannot be started; 117 when its process
// cannot be waited for or the flag does not come within 180 attempts.
UPD_RESULT RunNewInstaller();
