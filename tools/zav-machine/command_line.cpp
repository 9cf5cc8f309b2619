// Command line resolution and process start for `run` and `boot`.
#include "tools/zav-machine/command_line.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/host/machine/machine.h"

namespace fs = std::filesystem;

namespace zm {
namespace {

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

}  // namespace

bool ResolveCommand(const std::string &line, Command *out) {
    if (!line.empty() && line[0] == '"') {
        size_t close = line.find('"', 1);
        std::string path = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        out->program = FindProgram(path);
        out->tail = close == std::string::npos ? "" : AfterProgram(line, close + 1);
        return !out->program.empty();
    }
    // Unquoted, every space may end the program's path: the shortest prefix
    // naming a program wins, which is why a path with spaces must be quoted.
    for (size_t end = line.find(' ');; end = line.find(' ', end + 1)) {
        out->program = FindProgram(line.substr(0, end));
        if (!out->program.empty()) {
            out->tail = end == std::string::npos ? "" : AfterProgram(line, end);
            return true;
        }
        if (end == std::string::npos) return false;
    }
}

int RunCommand(const Command &command) {
    std::fflush(nullptr);  // our lines before the program's
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // The program joins its arguments with spaces: one argument keeps
        // the command line exactly, double spaces included.
        const char *program = command.program.c_str();
        if (command.tail.empty()) {
            execl(program, program, static_cast<char *>(nullptr));
        } else {
            execl(program, program, command.tail.c_str(), static_cast<char *>(nullptr));
        }
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace zm
