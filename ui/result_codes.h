// Result codes: each is the ID of the string resource holding its message.
#pragma once

#include "res/resource.h"

typedef unsigned int UPD_RESULT;

// Success, from every operation.
#define UPD_OK IDS_INSTALL_OK
