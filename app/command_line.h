// The command line of both phases: mode keyword, options and installer name.
#pragma once

#include "ui/result_codes.h"

// Mode values of ParseCommandLine.
enum {
    MODE_UNHIDE = 0,  // first phase
    MODE_HIDE = 1,    // second phase
    MODE_NONE = 2,    // no mode keyword seen
};

// Parses the command-line text after the program name into the mode, the
// service flag ("noservice" clears it) and the typec flag, sets
// g_szInstaller and g_nOsType, and refuses a newer installed build.
// Returns 108, 110 (unusable command line), 109 (unknown system) or 126.
UPD_RESULT ParseCommandLine(const char *pszCmdLine, int *pnMode, int *pnService, int *pnTypec);
