// One startup diskette build on a full 1.44 MB image, on the virtual clock:
// the worker alone, on the machine a whole update on Windows NT 4 leaves
// behind; the FAT tools' share is read from ZAV_TOOL_LOG.
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/globals.h"
#include "diskette/diskette_thread.h"
#include "platform/host/machine/diskette.h"
#include "platform/host/machine/machine.h"

namespace fs = std::filesystem;

namespace {

bool Sh(const std::string &command) { return std::system(command.c_str()) == 0; }

// Both phases with the prompt declined: the installed 1.1 files, the
// registry values and the update package are then where the worker looks.
bool MakeMachine(const fs::path &dir) {
    std::error_code ec;
    std::string tool = (fs::read_symlink("/proc/self/exe", ec).parent_path() / "zav-machine").string();
    std::string env = "ZAV_FRONTEND=noninteractive ZAV_CLOCK_SCALE=0 ZAV_ANSWERS=133=cancel ";
    return Sh(tool + " new " + dir.string() + " --os nt4 --service fat32 --hidden --old-version --floppy full >/dev/null") &&
           Sh(env + tool + " run " + dir.string() + " 'C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE' >/dev/null") &&
           Sh(env + tool + " boot " + dir.string() + " >/dev/null");
}

double ToolMilliseconds(const fs::path &log) {
    std::ifstream in(log);
    std::string tool;
    long long us = 0, total = 0;
    while (in >> tool >> us) total += us;
    return total / 1000.0;
}

void BM_DisketteBuild(benchmark::State &state) {
    std::error_code ec;
    fs::path dir = fs::temp_directory_path() / ("zav-diskette-" + std::to_string(getpid()));
    fs::remove_all(dir, ec);
    if (!MakeMachine(dir)) return state.SkipWithError("cannot make the machine");
    std::ofstream(dir / "machine.ini", std::ios::app) << "\n[machine]\nclock_scale=0\n";
    setenv("ZAV_MACHINE", dir.c_str(), 1);
    host::ReloadMachine();
    std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
    fs::path log = dir / "tools.log";
    setenv("ZAV_TOOL_LOG", log.c_str(), 1);
    for (auto _ : state) {
        state.PauseTiming();
        if (!host::diskette::Make(dir / "floppy.img", "full").empty()) state.SkipWithError("cannot make the diskette");
        fs::remove(log, ec);  // the last build's tool runs only
        state.ResumeTiming();
        CancelFlag cancel{0};
        DisketteParams params = {&cancel};
        HANDLE hThread = CreateThread(nullptr, 1048576, DisketteThread, &params, 0, nullptr);
        WaitForSingleObject(hThread, INFINITE);
        DWORD code = 0;
        GetExitCodeThread(hThread, &code);
        CloseHandle(hThread);
        if (code != UPD_OK) state.SkipWithError("the diskette was not made");
    }
    state.counters["tools_ms"] = ToolMilliseconds(log);
    unsetenv("ZAV_TOOL_LOG");
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_DisketteBuild)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
