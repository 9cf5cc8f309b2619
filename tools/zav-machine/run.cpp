// zav-machine run: starts a Windows command line inside a machine the way
// Windows does: a quoted program path, or else the shortest space-separated
// prefix that names an existing program (".EXE" is tried when a prefix has
// no extension); the rest, after the spaces and tabs that follow the
// program, is the program's command line.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/host/machine.h"
#include "tools/zav-machine/zav_machine.h"

namespace fs = std::filesystem;

namespace zm {
namespace {

struct Resolved {
    fs::path program;
    std::string tail;
};

bool IsProgram(const fs::path &p) {
    std::error_code ec;
    return !p.empty() && fs::is_regular_file(p, ec);
}

fs::path FindProgram(const std::string &windowsPath) {
    fs::path direct = host::HostPathFor(windowsPath);
    if (IsProgram(direct)) return direct;
    std::string name = windowsPath.substr(windowsPath.find_last_of('\\') + 1);
    if (name.find('.') == std::string::npos) {
        fs::path withExe = host::HostPathFor(windowsPath + ".EXE");
        if (IsProgram(withExe)) return withExe;
    }
    return {};
}

std::string AfterProgram(const std::string &line, size_t end) {
    while (end < line.size() && (line[end] == ' ' || line[end] == '\t')) ++end;
    return line.substr(std::min(end, line.size()));
}

bool Resolve(const std::string &line, Resolved *out) {
    if (!line.empty() && line[0] == '"') {
        size_t close = line.find('"', 1);
        std::string path = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        out->program = FindProgram(path);
        out->tail = close == std::string::npos ? "" : AfterProgram(line, close + 1);
        return !out->program.empty();
    }
    for (size_t end = line.find(' '); ; end = line.find(' ', end + 1)) {
        std::string prefix = line.substr(0, end);
        out->program = FindProgram(prefix);
        if (!out->program.empty()) {
            out->tail = end == std::string::npos ? "" : AfterProgram(line, end);
            return true;
        }
        if (end == std::string::npos) return false;
    }
}

}  // namespace

int CmdRun(const Args &args) {
    if (args.size() != 2) return Fail("run needs a machine folder and one command line");
    if (!UseMachine(args[0])) return Fail(args[0] + " is no machine (no machine.ini)");
    Resolved resolved;
    if (!Resolve(args[1], &resolved)) return Fail("no program found in the machine for: " + args[1]);
    pid_t pid = fork();
    if (pid < 0) return Fail("cannot start a process");
    if (pid == 0) {
        // The program joins its arguments with spaces: one argument keeps
        // the command line exactly, double spaces included.
        std::string program = resolved.program.string();
        if (resolved.tail.empty()) {
            execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        } else {
            execl(program.c_str(), program.c_str(), resolved.tail.c_str(), static_cast<char *>(nullptr));
        }
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace zm
