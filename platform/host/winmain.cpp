// Host entry point: the command line is the arguments joined by single
// spaces; `zav-machine run` passes the exact text as one argument. A
// machine.ini the program cannot run on is refused before anything runs.
#include <cstdio>
#include <string>

#include "platform/afx/afxwin.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"

int main(int argc, char **argv) {
    if (!host::MachineDir().empty()) {
        std::string error = host::CheckMachine();
        if (error.empty()) error = host::fault::LoadMachineRules();
        if (!error.empty()) {
            std::fprintf(stderr, "zav: %s\n", error.c_str());
            return 2;
        }
    }
    std::string cmdLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) cmdLine += ' ';
        cmdLine += argv[i];
    }
    return AfxWinMain(cmdLine.c_str());
}
