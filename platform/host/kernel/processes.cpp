// Processes of the machine: CreateProcessA starts the host file behind a
// Windows path directly (no shell, no arguments but the ones given), in the
// same machine, and its handle can be waited for. A file that is no program
// fails as Windows fails (193); a missing one with 2 (3 when its folder is
// missing too).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/kernel/faults.h"
#include "platform/host/kernel/handles.h"
#include "platform/host/machine/disk_image.h"
#include "platform/host/machine/machine.h"
#include "platform/win.h"

extern char **environ;

namespace {

struct ProcessObject : host::Waitable {
    std::mutex mutex;
    pid_t pid = -1;
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;

    bool Reap() {
        std::lock_guard<std::mutex> lock(mutex);
        if (finished) return true;
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r != pid) return false;
        finished = true;
        exitCode = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status)) : 128u + WTERMSIG(status);
        return true;
    }
    bool Wait(double realMs) override {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double, std::milli>(realMs);
        for (;;) {
            if (Reap()) return true;
            if (realMs >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
};

// The process's first thread: only its handle exists here.
struct MainThreadObject : host::HandleObject {};

// An ELF binary or a script with "#!": what the host can start.
bool IsProgram(const std::filesystem::path &file) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char head[4] = {};
    bool program = read(fd, head, sizeof head) >= 2 &&
                   (std::memcmp(head, "\x7f" "ELF", 4) == 0 || std::memcmp(head, "#!", 2) == 0);
    close(fd);
    return program && access(file.c_str(), X_OK) == 0;
}

DWORD Locate(LPCSTR name, std::filesystem::path *file) {
    if (!name || !*name) return ERROR_PATH_NOT_FOUND;
    if (std::strlen(name) >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    *file = host::HostPathFor(name);
    struct stat st;
    if (file->empty() || stat(file->parent_path().c_str(), &st) != 0) return ERROR_PATH_NOT_FOUND;
    if (stat(file->c_str(), &st) != 0) return ERROR_FILE_NOT_FOUND;
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    // "[program NAME] broken=1": the machine's copy of that program is damaged.
    std::string section = "program " + file->filename().string();
    if (host::disk::IsTrue(host::MachineSetting(section, "broken").value_or(""))) return ERROR_BAD_EXE_FORMAT;
    return IsProgram(*file) ? 0 : ERROR_BAD_EXE_FORMAT;
}

// The arguments of a command line, split at blanks (no quoting: the
// program's installer takes none).
std::vector<std::string> Arguments(LPCSTR commandLine) {
    std::vector<std::string> out;
    std::string word;
    for (const char *p = commandLine ? commandLine : ""; *p; ++p) {
        if (*p == ' ' || *p == '\t') {
            if (!word.empty()) out.push_back(word);
            word.clear();
        } else {
            word += *p;
        }
    }
    if (!word.empty()) out.push_back(word);
    if (!out.empty()) out.erase(out.begin());  // the program's own name
    return out;
}

}  // namespace

void WINAPI GetStartupInfoA(LPSTARTUPINFOA info) {
    host::fault::ApiScope hostApiScope_(__func__);
    if (!info) return;
    std::memset(info, 0, sizeof *info);
    info->cb = sizeof *info;
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                           DWORD flags, LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION info) {
    HOST_API(FALSE)
    if (!application || !startup || !info || flags || environment || directory) {
        SetLastError(ERROR_INVALID_PARAMETER);  // the program uses none of these
        return FALSE;
    }
    std::filesystem::path file;
    if (DWORD error = Locate(application, &file)) {
        SetLastError(error);
        return FALSE;
    }
    std::vector<std::string> args = Arguments(commandLine);
    args.insert(args.begin(), file.string());
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    auto process = std::make_shared<ProcessObject>();
    // ZAV_MACHINE is inherited: the new process runs in the same machine.
    if (posix_spawn(&process->pid, file.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return FALSE;
    }
    info->hProcess = host::AddHandle(process);
    info->hThread = host::AddHandle(std::make_shared<MainThreadObject>());
    info->dwProcessId = static_cast<DWORD>(process->pid);
    info->dwThreadId = static_cast<DWORD>(process->pid);
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE h, LPDWORD code) {
    HOST_API(FALSE)
    auto process = host::FindHandleAs<ProcessObject>(h);
    if (!process || !code) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    process->Reap();
    std::lock_guard<std::mutex> lock(process->mutex);
    *code = process->exitCode;
    return TRUE;
}
