// Windows command lines inside a machine: which program a line names and
// the text that program receives, resolved the way Windows does when no
// application name is given. Shared by `run` and `boot`.
#pragma once

#include <filesystem>
#include <string>

namespace zm {

struct Command {
    std::filesystem::path program;  // the machine file that is started
    std::string tail;               // its command line after the program name
};

// A quoted program path, or else the shortest space-separated prefix that
// names an existing program (".EXE" is tried when a prefix has no
// extension); the tail is what follows, without the spaces and tabs after
// the program. False when no program is found.
bool ResolveCommand(const std::string &line, Command *out);

// Starts the program and waits for it: its exit status, 128 + the signal
// that ended it, or -1 when it could not be started.
int RunCommand(const Command &command);

}  // namespace zm
