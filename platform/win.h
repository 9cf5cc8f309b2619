// The one include through which logic code reaches the Win32 API and the
// runtime's multibyte string routines. On Windows it is the real SDK; on the
// host it is our own implementation acting on a sandbox machine.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <mbstring.h>
#include <stdlib.h>
// The program is written for 32-bit Windows; the 64-bit headers name the
// class cursor only for SetClassLongPtr, while the index stays -12.
#ifndef GCL_HCURSOR
#define GCL_HCURSOR (-12)
#endif
#else
#include "platform/host/win_types.h"
#include "platform/host/win_kernel.h"
#include "platform/host/win_registry.h"
#include "platform/host/win_user.h"
#include "platform/host/text/mbstring.h"
#endif
