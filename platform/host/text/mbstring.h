// The runtime's multibyte string routines, following the host's ANSI code
// page (UTF-8 by default, code page 932 for a Shift_JIS locale).
#pragma once

#include <cstdlib>

#include "platform/host/win_types.h"

int _ismbblead(unsigned int c);
unsigned char *_mbschr(const unsigned char *str, unsigned int c);
unsigned char *_mbsrchr(const unsigned char *str, unsigned int c);
int _mbsicmp(const unsigned char *a, const unsigned char *b);
unsigned char *_mbsnbcpy(unsigned char *dest, const unsigned char *src, size_t count);
int _stricmp(const char *a, const char *b);

// The ANSI code page in force (65001 or 932).
UINT WINAPI GetACP(void);
