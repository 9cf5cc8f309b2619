// The forced restart that ends a phase which changed the system.
#pragma once

#include "platform/win.h"

// Requests a forced reboot, enabling the shutdown privilege first on the NT
// family. Returns 108 when the request was accepted, else the system error.
UINT RestartSystem(int nOsType);
