// File operations shared by the second phase and the startup diskette:
// folder tree removal with an optional cancel flag, single-file copy, and
// the mapping of system errors to result codes.
#pragma once

#include <atomic>

#include "platform/win.h"
#include "ui/result_codes.h"

// The diskette's cancel flag: a 32-bit integer that another thread sets
// while a removal runs, so every check reads it anew.
typedef std::atomic<LONG> CancelFlag;
static_assert(sizeof(CancelFlag) == 4, "the flag is a 32-bit integer");

// 0 -> 108, 19 -> 132, 21 -> 133, 32 -> 131, anything else -> 134.
UPD_RESULT MapDisketteError(DWORD nError);

// Appends `pszTail` to a MAX_PATH buffer. FALSE, with the buffer
// untouched, when the result would not fit: a cut path or command could
// name another file.
BOOL AppendWithinPath(char *pszBuffer, const char *pszTail);

// Deletes one file, clearing its attributes and trying once more when they
// refuse it. With the cancel flag set a failure counts as 108: the caller
// reports the cancellation.
UPD_RESULT DeleteOneFile(const char *pszPath, const CancelFlag *pCancel);

// Empties `pszFolder` depth first and removes it, unless it is a drive root
// ("A:"), which is only emptied. A folder that cannot be enumerated (missing,
// no medium) gives 108. A folder that cannot be removed gives 114 with a
// cancel flag and the mapped error without. Links are removed, never
// followed.
UPD_RESULT DeleteDirectoryTree(const char *pszFolder, const CancelFlag *pCancel);

// Copies folder\name to folder\name, replacing the target: 108 or 116.
UPD_RESULT CopyOneFile(const char *pszSourceFolder, const char *pszTargetFolder, const char *pszSourceName,
                       const char *pszTargetName);
