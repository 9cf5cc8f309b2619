// Host-side helpers over the machine's registry for tools and tests. The
// registry itself is read and written with the Reg* API (win_registry.h);
// its files are described at the top of registry_store.cpp.
#pragma once

#include "platform/host/win_types.h"

namespace host {

// Folds the journal (registry.reg.log) into registry.reg, so that the file
// alone holds the whole registry, e.g. before a tool shows it or someone
// edits it by hand. Returns a Win32 error code: ERROR_FILE_NOT_FOUND without
// a machine, ERROR_BADDB for a registry that does not parse.
LONG RegistryCompact();

}  // namespace host
