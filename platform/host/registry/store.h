// Host-side helpers over the machine's registry for tools and tests. The
// registry itself is read and written with the Reg* API (win_registry.h);
// its files are described at the top of store.cpp.
#pragma once

#include <string>

#include "platform/host/win_types.h"

namespace host {

// Folds the journal (registry.reg.log) into registry.reg, so that the file
// alone holds the whole registry, e.g. before a tool shows it or someone
// edits it by hand. Returns a Win32 error code: ERROR_FILE_NOT_FOUND without
// a machine, ERROR_BADDB for a registry that does not parse.
LONG RegistryCompact();

// What every process does before it ends, once it has journalled a change
// (registered with atexit then): folds the journal into registry.reg, so
// that what is on disk is the whole registry. Same results.
LONG RegistryFinish();

// The whole registry as the program sees it (registry.reg and its journal),
// in REGEDIT4 text. Same results.
LONG RegistryExport(std::string *text);

}  // namespace host
