// The host clock behind Sleep, GetTickCount and timed waits.
#pragma once

#include "platform/host/win_types.h"

namespace host {

// Real milliseconds per program millisecond: 1 real time (default), 0.01 a
// hundred times faster, 0 virtual (sleeps return at once). Taken from env
// ZAV_CLOCK_SCALE, else machine.ini [machine] clock_scale.
double ClockScale();

// Moves the virtual clock on (what a sleep does on a virtual clock).
void AdvanceVirtualClock(DWORD ms);

}  // namespace host
