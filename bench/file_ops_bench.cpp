// The file operations against the system's own tools on the same data, side
// by side in one run: a tree of 100,000 files in 1,000 folders removed
// (rm -rf), a 1 GiB file copied on a folder drive (cp), a 16 MiB file copied
// into a FAT volume (mcopy). Argument 0 is ours, 1 the tool's.
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fileops/file_ops.h"
#include "platform/host/machine/machine.h"

namespace fs = std::filesystem;

namespace {

// A machine for one benchmark; the previous ZAV_MACHINE comes back after it.
class FileBenchMachine {
public:
    FileBenchMachine() {
        const char *previous = std::getenv("ZAV_MACHINE");
        previous_ = previous ? previous : "";
        std::string pattern = (fs::temp_directory_path() / "zav-filebench-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        fs::create_directories(dir_ / "drives" / "C");
        std::ofstream(dir_ / "machine.ini") << "[machine]\nos=2000\n[drive C]\npath=drives/C\n"
                                            << "[drive E]\nimage=fat.img\nkind=fixed\n";
        setenv("ZAV_MACHINE", dir_.c_str(), 1);
        host::ReloadMachine();
    }
    ~FileBenchMachine() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        if (previous_.empty()) unsetenv("ZAV_MACHINE");
        else setenv("ZAV_MACHINE", previous_.c_str(), 1);
        host::ReloadMachine();
    }
    fs::path C() const { return dir_ / "drives" / "C"; }
    fs::path Dir() const { return dir_; }

private:
    fs::path dir_;
    std::string previous_;
};

void Shell(const std::string &command) {
    if (std::system(command.c_str()) != 0) std::abort();
}

void MakeTree(const fs::path &root) {
    for (int d = 0; d < 1000; ++d) {
        fs::path folder = root / ("D" + std::to_string(d / 100)) / ("F" + std::to_string(d));
        fs::create_directories(folder);
        for (int f = 0; f < 100; ++f) std::ofstream(folder / ("FILE" + std::to_string(f) + ".TXT")) << "x";
    }
}

void BM_DeleteTree(benchmark::State &state) {
    FileBenchMachine machine;
    for (auto _ : state) {
        state.PauseTiming();
        MakeTree(machine.C() / "OLD");
        Shell("sync");
        state.ResumeTiming();
        if (state.range(0) == 0) {
            if (DeleteDirectoryTree("C:\\OLD", nullptr) != UPD_OK) state.SkipWithError("removal failed");
        } else {
            Shell("rm -rf '" + (machine.C() / "OLD").string() + "'");
        }
    }
    state.counters["files"] = 100000;
}
BENCHMARK(BM_DeleteTree)->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyBigFile(benchmark::State &state) {
    FileBenchMachine machine;
    Shell("head -c 1073741824 /dev/urandom > '" + (machine.C() / "BIG.BIN").string() + "'");
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(machine.C() / "COPY.BIN");
        Shell("sync");
        state.ResumeTiming();
        if (state.range(0) == 0) {
            if (CopyOneFile("C:", "C:", "BIG.BIN", "COPY.BIN") != UPD_OK) state.SkipWithError("copy failed");
        } else {
            Shell("cp '" + (machine.C() / "BIG.BIN").string() + "' '" + (machine.C() / "COPY.BIN").string() + "'");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) << 30);
}
BENCHMARK(BM_CopyBigFile)->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyIntoFat(benchmark::State &state) {
    FileBenchMachine machine;
    Shell("mkfs.fat -C -F 32 '" + (machine.Dir() / "fat.img").string() + "' 131072 >/dev/null");
    Shell("head -c 16777216 /dev/urandom > '" + (machine.C() / "MID.BIN").string() + "'");
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null mcopy -o -i '" + (machine.Dir() / "fat.img").string() +
                               "' '" + (machine.C() / "MID.BIN").string() + "' ::/MID.BIN";
    for (auto _ : state) {
        if (state.range(0) == 0) {
            if (CopyOneFile("C:", "E:", "MID.BIN", "MID.BIN") != UPD_OK) state.SkipWithError("copy failed");
        } else {
            Shell(mtools);
        }
    }
}
BENCHMARK(BM_CopyIntoFat)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
