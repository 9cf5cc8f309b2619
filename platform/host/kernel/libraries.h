// Test doubles for libraries the program loads by name. Host-only: a test
// registers a double, and LoadLibraryA of that file name (any folder, any
// case) returns it instead of searching the machine.
#pragma once

#include <map>
#include <string>

#include "platform/win.h"

namespace host {

typedef std::map<std::string, FARPROC> TestExports;

// `name` is a file name such as "kdo_32up.dll"; `exports` maps export names
// to functions (reinterpret_cast<FARPROC>(&Function)).
void RegisterTestLibrary(const std::string &name, const TestExports &exports);
void ClearTestLibraries();

}  // namespace host
