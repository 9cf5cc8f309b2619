// The host registry at scale: a registry of 100,000 keys, a value read over
// and over, and a 1,000-key tree removed the way the program removes trees
// (enumerate index 0, recurse, RegDeleteKeyA per key).
#include <stdlib.h>
#include <sys/stat.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/host/machine/machine.h"
#include "platform/host/registry/store.h"
#include "platform/win.h"

namespace fs = std::filesystem;

namespace {

constexpr int kGroups = 100;
constexpr int kKeysPerGroup = 1000;
constexpr int kTreeBranches = 10;
constexpr int kLeavesPerBranch = 99;  // with the branches and the root: 1,000 keys

std::string BaseText(bool withTree) {
    std::string text = "REGEDIT4\n\n";
    char line[160];
    for (int g = 0; g < kGroups; ++g) {
        for (int k = 0; k < kKeysPerGroup; ++k) {
            std::snprintf(line, sizeof line,
                          "[HKEY_LOCAL_MACHINE\\Software\\Bench\\G%02d\\K%03d]\n\"Value\"=\"data %02d-%03d\"\n\n", g, k,
                          g, k);
            text += line;
        }
    }
    if (!withTree) return text;
    for (int b = 0; b < kTreeBranches; ++b) {
        for (int l = 0; l < kLeavesPerBranch; ++l) {
            std::snprintf(line, sizeof line, "[HKEY_LOCAL_MACHINE\\Software\\Bench\\Tree\\B%d\\L%02d]\n\"x\"=dword:%08x\n\n",
                          b, l, l);
            text += line;
        }
    }
    return text;
}

// A machine folder for the whole run, its registry.reg replaced on demand.
class BenchMachine {
public:
    BenchMachine() {
        std::string pattern = (fs::temp_directory_path() / "zav-regbench-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        std::ofstream(dir_ / "machine.ini") << "[machine]\nos=2000\n";
        setenv("ZAV_MACHINE", dir_.c_str(), 1);
        host::ReloadMachine();
        withTree_ = BaseText(true);
    }
    ~BenchMachine() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // A fresh registry.reg (a new file, as a writer would leave it), no journal.
    void Reset() {
        fs::remove(dir_ / "registry.reg.log");
        std::ofstream(dir_ / "registry.reg.new", std::ios::binary) << withTree_;
        fs::rename(dir_ / "registry.reg.new", dir_ / "registry.reg");
    }
    fs::path Dir() const { return dir_; }

private:
    fs::path dir_;
    std::string withTree_;
};

BenchMachine &Machine() {
    static BenchMachine machine;
    return machine;
}

LONG ReadOne(std::string *out) {
    HKEY h;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Bench\\G50\\K500", 0, KEY_READ, &h);
    if (rc) return rc;
    char buf[64];
    DWORD size = sizeof buf;
    rc = RegQueryValueExA(h, "Value", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size);
    RegCloseKey(h);
    out->assign(buf, size);
    return rc;
}

// How the program removes a tree: children first, one key at a time.
LONG DeleteTree(HKEY parent, const char *name) {
    HKEY h;
    LONG rc = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &h);
    if (rc) return rc;
    char sub[256];
    for (;;) {
        DWORD cch = sizeof sub;
        if (RegEnumKeyExA(h, 0, sub, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if ((rc = DeleteTree(h, sub)) != ERROR_SUCCESS) break;
    }
    RegCloseKey(h);
    return rc ? rc : RegDeleteKeyA(parent, name);
}

ino_t Inode(const fs::path &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

void BM_FirstRead(benchmark::State &state) {
    std::string value;
    for (auto _ : state) {
        state.PauseTiming();
        Machine().Reset();  // a new registry.reg: the next call parses it
        state.ResumeTiming();
        if (ReadOne(&value) != ERROR_SUCCESS) state.SkipWithError("read failed");
    }
}
BENCHMARK(BM_FirstRead)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReadValue(benchmark::State &state) {
    Machine().Reset();
    std::string value;
    ReadOne(&value);
    for (auto _ : state) {
        if (ReadOne(&value) != ERROR_SUCCESS) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ReadValue)->Unit(benchmark::kMicrosecond);

void BM_DeleteTree1000(benchmark::State &state) {
    fs::path base = Machine().Dir() / "registry.reg";
    int64_t rewrites = 0, journal = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Machine().Reset();
        std::string value;
        ReadOne(&value);  // parsed before the clock starts, as in a running program
        ino_t before = Inode(base);
        state.ResumeTiming();
        if (DeleteTree(HKEY_LOCAL_MACHINE, "Software\\Bench\\Tree") != ERROR_SUCCESS) {
            state.SkipWithError("delete failed");
        }
        state.PauseTiming();
        rewrites += Inode(base) != before;
        std::error_code ec;
        journal += static_cast<int64_t>(fs::file_size(Machine().Dir() / "registry.reg.log", ec));
        state.ResumeTiming();
    }
    state.counters["base_rewrites"] = benchmark::Counter(static_cast<double>(rewrites), benchmark::Counter::kAvgIterations);
    state.counters["journal_bytes"] = benchmark::Counter(static_cast<double>(journal), benchmark::Counter::kAvgIterations);
    state.counters["base_bytes"] = static_cast<double>(fs::file_size(base));
}
BENCHMARK(BM_DeleteTree1000)->Unit(benchmark::kMillisecond)->Iterations(3);

// One full rewrite of registry.reg: what every removed key would cost
// without the journal.
void BM_FullRewrite(benchmark::State &state) {
    std::string value;
    for (auto _ : state) {
        state.PauseTiming();
        Machine().Reset();
        ReadOne(&value);
        state.ResumeTiming();
        if (host::RegistryCompact() != ERROR_SUCCESS) state.SkipWithError("compaction failed");
    }
}
BENCHMARK(BM_FullRewrite)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
