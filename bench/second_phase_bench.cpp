// The UI thread while the second phase's worker runs, on the real clock and
// the noninteractive frontend (or ZAV_BENCH_FRONTEND's): the longest time
// between two looks at its message queue (the pump waits at most 200 ms on
// the worker each time).
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/globals.h"
#include "app/update_app.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"
#include "platform/host/user/internal.h"

namespace fs = std::filesystem;

namespace {

void BM_UiThreadStall(benchmark::State &state) {
    std::error_code ec;
    fs::path tool = fs::read_symlink("/proc/self/exe", ec).parent_path() / "zav-machine";
    fs::path dir = fs::temp_directory_path() / ("zav-stall-" + std::to_string(getpid()));
    fs::remove_all(dir, ec);
    std::string make = tool.string() + " new " + dir.string() + " --os 2000 --service fat32 --old-version >/dev/null";
    if (std::system(make.c_str()) != 0) return state.SkipWithError("cannot make the machine");
    std::ofstream(dir / "machine.ini", std::ios::app) << "\n[drive D]\nimage=disk.img\npartition=1\n";
    setenv("ZAV_MACHINE", dir.c_str(), 1);
    const char *frontend = std::getenv("ZAV_BENCH_FRONTEND");  // "dialog" needs a terminal
    setenv("ZAV_FRONTEND", frontend && *frontend ? frontend : "noninteractive", 1);
    host::ReloadMachine();
    host::ResetFrontendForTesting();
    g_nOsType = OS_CLASS_2000;
    std::strcpy(g_szSelfPath, "C:\\UPDATE\\UPDATE.EXE");
    std::strcpy(g_szInstaller, "SETUP.EXE");
    double longest = 0;
    for (auto _ : state) {
        auto last = std::chrono::steady_clock::now();
        host::fault::OnCallsFrom("PeekMessageA", 1, [&] {
            auto now = std::chrono::steady_clock::now();
            longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        if (theApp.RunSecondPhase(1, 0) != UPD_OK) state.SkipWithError("the second phase failed");
        host::fault::Clear();
    }
    state.counters["longest_stall_ms"] = longest;
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_UiThreadStall)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
