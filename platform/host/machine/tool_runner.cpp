#include "platform/host/machine/tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

extern char **environ;

namespace host {
namespace {

std::string FindTool(const std::string &name) {
    if (name.find('/') != std::string::npos) return name;
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    path += ":/usr/sbin:/sbin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t colon = path.find(':', start);
        std::string dir = path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return {};
}

std::vector<std::string> Environment(const std::vector<std::string> &extra) {
    std::vector<std::string> out;
    for (char **e = environ; e && *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string &x : extra) replaced |= x.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced) out.push_back(entry);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

std::vector<char *> Pointers(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (std::string &s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Feeds `input` and collects both outputs without letting either pipe fill.
void Exchange(int in, int out, int err, const std::string &input, ToolResult *result) {
    size_t written = 0;
    if (input.empty()) close(in), in = -1;
    char buffer[4096];
    while (out >= 0 || err >= 0) {
        pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (in >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(in, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if (n < 0 || written == input.size()) close(in), in = -1;
        }
        int *fd[2] = {&out, &err};
        std::string *text[2] = {&result->out, &result->err};
        for (int i = 0; i < 2; ++i) {
            if (*fd[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(*fd[i], buffer, sizeof buffer);
            if (n > 0) {
                text[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(*fd[i]);
                *fd[i] = -1;
            }
        }
    }
    if (in >= 0) close(in);
}

// ZAV_TOOL_LOG names a file that gets "TOOL MICROSECONDS" per run, so that
// a benchmark can tell how much of a phase the outside tools take.
void LogToolTime(const std::string &tool, std::chrono::steady_clock::time_point started) {
    const char *log = std::getenv("ZAV_TOOL_LOG");
    if (!log || !*log) return;
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    if (FILE *f = std::fopen(log, "a")) {
        std::fprintf(f, "%s %lld\n", tool.c_str(), static_cast<long long>(us));
        std::fclose(f);
    }
}

}  // namespace

ToolResult RunTool(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   const std::string &input) {
    auto started = std::chrono::steady_clock::now();
    ToolResult result;
    std::string program = argv.empty() ? std::string() : FindTool(argv[0]);
    if (program.empty()) return result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> args = argv, environment = Environment(env);
    std::vector<char *> argp = Pointers(args), envp = Pointers(environment);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return result;
    }
    // A tool that exits before reading its input must not kill us.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    Exchange(in[1], out[0], err[0], input, &result);
    sigaction(SIGPIPE, &previous, nullptr);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    LogToolTime(argv[0], started);
    return result;
}

}  // namespace host
