// zav-machine run: starts a Windows command line inside a machine the way
// Windows does (command_line.h) and waits for it; its exit status is ours.
#include "tools/zav-machine/command_line.h"
#include "tools/zav-machine/zav_machine.h"

namespace zm {

int CmdRun(const Args &args) {
    if (args.size() != 2) return Fail("run needs a machine folder and one command line");
    if (std::string error = UseMachine(args[0]); !error.empty()) return Fail(error);
    Command command;
    if (!ResolveCommand(args[1], &command)) return Fail("no program found in the machine for: " + args[1]);
    int status = RunCommand(command);
    return status < 0 ? Fail("cannot start a process") : status;
}

}  // namespace zm
