// Fault injection at the platform seam: any host Win32 call can be made to
// fail on purpose, at its n-th call or at every call from the n-th on, with
// a chosen Windows error, and the calls the program made can be read back.
// Tests set rules in-process (FailAt, FailFrom); a whole program takes them
// from machine.ini's [faults] section (LoadMachineRules):
//
//   [faults]
//   DeleteFileA=3:32          ; the 3rd call fails with 32
//   SetFilePointer=2+:131     ; the 2nd and every later call fail with 131
//   RegOpenKeyExA=1:5,4:2     ; several rules for one call
//   log=faults.log            ; every call, one name a line, in the machine folder
//
// Calls are counted from the last Clear() (or from the start of the
// program). Only the program's own calls count: a host function that calls
// another one internally does not count (nor fail) that inner call. Host-only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/host/win_types.h"

namespace host::fault {

void FailAt(const std::string &api, unsigned n, DWORD error);
void FailFrom(const std::string &api, unsigned n, DWORD error);
// Runs `action` when the n-th call of `api` begins (before any rule fails
// it): what another thread or the user does at that very moment.
void OnCall(const std::string &api, unsigned n, std::function<void()> action);
// The same at every call from the n-th on.
void OnCallsFrom(const std::string &api, unsigned n, std::function<void()> action);
// Forgets every rule and count and empties the call record.
void Clear();
// Starts keeping the names of the calls made (rules start it too).
void Record();
// The calls made since the last Clear(), while recording, in order.
std::vector<std::string> Calls();

// Reads the current machine's [faults] section; empty, or a one-line error
// naming machine.ini and the bad entry.
std::string LoadMachineRules();

// One call of a host Win32 function: counts it when it is the program's own
// and tells the error it must fail with (0: none).
class ApiScope {
public:
    explicit ApiScope(const char *api);
    ~ApiScope();
    ApiScope(const ApiScope &) = delete;
    ApiScope &operator=(const ApiScope &) = delete;
    DWORD Fault() const { return fault_; }

private:
    DWORD fault_ = 0;
};

// Around a call back into the program (a dialog procedure): the calls it
// makes are the program's own again.
class ProgramScope {
public:
    ProgramScope();
    ~ProgramScope();
    ProgramScope(const ProgramScope &) = delete;
    ProgramScope &operator=(const ProgramScope &) = delete;

private:
    int saved_;
};

// Around a test harness's own calls (starting a worker as the program
// would, setting a dialog up): they are neither counted nor failed.
class HarnessScope {
public:
    HarnessScope();
    ~HarnessScope();
    HarnessScope(const HarnessScope &) = delete;
    HarnessScope &operator=(const HarnessScope &) = delete;
};

}  // namespace host::fault

// The first line of every host Win32 function that can fail: returns
// `failure`, with the injected error as the last error, when a rule says so.
#define HOST_API(failure)                                  \
    host::fault::ApiScope hostApiScope_(__func__);         \
    if (DWORD hostFault_ = hostApiScope_.Fault()) {        \
        SetLastError(hostFault_);                          \
        return failure;                                    \
    }

// The same for the registry functions, which return their error.
#define HOST_REG_API()                                     \
    host::fault::ApiScope hostApiScope_(__func__);         \
    if (DWORD hostFault_ = hostApiScope_.Fault()) return static_cast<LONG>(hostFault_);
