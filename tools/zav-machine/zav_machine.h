// zav-machine: makes sandbox machines and runs Windows command lines in them.
#pragma once

#include <string>
#include <vector>

namespace zm {

typedef std::vector<std::string> Args;

int CmdNew(const Args &args);
int CmdRun(const Args &args);

// Prints "zav-machine: <message>" to standard error and returns 2.
int Fail(const std::string &message);

// Points this process at the machine in `dir` (absolute ZAV_MACHINE).
bool UseMachine(const std::string &dir);

}  // namespace zm
