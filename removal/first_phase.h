// The first phase's work: remove the old registration and schedule the
// second phase in RunOnce.
#pragma once

#include "ui/result_codes.h"

// Removes version 1.0's services, start-up values and uninstall entry, then
// schedules the second phase. `bPartitionFound` is 1 when the service
// partition exists. Returns 108, 112, 113, 120, or 123 when neither the
// partition nor anything of version 1.0 was found (nothing changed).
UPD_RESULT RemoveOldRegistration(int nOsType, int bPartitionFound);

// Writes the RunOnce command that starts the second phase after the
// restart. Returns 108 or 120.
UPD_RESULT ScheduleSecondPhase(int bPartitionFound);
