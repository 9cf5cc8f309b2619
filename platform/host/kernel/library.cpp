// LoadLibraryA and friends over real shared libraries: a bare file name is
// searched as Windows does it for this program, in the program's folder and
// then the machine's system folder; the file found is loaded with dlopen.
// A "[library NAME]" section of machine.ini takes a library away (absent=1)
// or some of its exports (missing=A,B), as a damaged installation would.
#include <dlfcn.h>

#include <mutex>
#include <set>
#include <vector>

#include "platform/host/kernel/faults.h"
#include "platform/host/kernel/libraries.h"
#include "platform/host/machine/disk_image.h"
#include "platform/host/machine/machine.h"
#include "platform/host/text/ascii.h"
#include "platform/win.h"

namespace {

struct Module {
    void *dl = nullptr;               // a loaded file, or
    host::TestExports testExports;    // a test double
    std::set<std::string> missing;    // exports the machine takes away
    int references = 0;
};

std::mutex g_mutex;
std::map<std::string, host::TestExports> g_testLibraries;  // by lower-case file name
std::map<std::string, uintptr_t> g_loaded;                 // "test:name" or the host path -> base
std::map<uintptr_t, Module> g_modules;                     // base -> module
uintptr_t g_nextBase = 0x10000000;

HMODULE Fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// The folders a bare name is searched in: the program's, then the system's.
std::vector<std::string> SearchFolders() {
    std::string program = host::ModuleWindowsPath();
    std::string programDir = program.substr(0, program.find_last_of('\\'));
    std::string system = host::MachineSetting("machine", "system")
                             .value_or(host::MachineIsNt() ? "C:\\WINNT\\SYSTEM32" : "C:\\WINDOWS\\SYSTEM");
    return {programDir, system};
}

std::filesystem::path FindLibraryFile(const std::string &name, const std::string &fileName) {
    std::error_code ec;
    if (name.find_first_of("\\/") != std::string::npos) {
        auto path = host::HostPathFor(name.substr(0, name.find_last_of("\\/") + 1) + fileName);
        return std::filesystem::is_regular_file(path, ec) ? path : std::filesystem::path();
    }
    for (const std::string &folder : SearchFolders()) {
        auto path = host::HostPathFor(folder + "\\" + fileName);
        if (!path.empty() && std::filesystem::is_regular_file(path, ec)) return path;
    }
    return {};
}

// Takes a reference on the module loaded under `key`, or makes one.
HMODULE Reference(const std::string &key, Module fresh) {
    auto it = g_loaded.find(key);
    if (it != g_loaded.end()) {
        Module &m = g_modules[it->second];
        ++m.references;
        if (fresh.dl) dlclose(fresh.dl);  // dlopen counted this load too
        return reinterpret_cast<HMODULE>(it->second);
    }
    uintptr_t base = g_nextBase;
    g_nextBase += 0x10000;
    fresh.references = 1;
    g_modules[base] = std::move(fresh);
    g_loaded[key] = base;
    return reinterpret_cast<HMODULE>(base);
}

std::string LibrarySection(const std::string &fileName) { return "library " + fileName; }

bool LibraryAbsent(const std::string &fileName) {
    return host::disk::IsTrue(host::MachineSetting(LibrarySection(fileName), "absent").value_or(""));
}

std::set<std::string> MissingExports(const std::string &fileName) {
    std::set<std::string> out;
    std::string list = host::MachineSetting(LibrarySection(fileName), "missing").value_or("");
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = host::Trim(std::string_view(list).substr(start, comma == std::string::npos ? std::string::npos
                                                                                                     : comma - start));
        if (!item.empty()) out.insert(item);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

}  // namespace

namespace host {

void RegisterTestLibrary(const std::string &name, const TestExports &exports) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_testLibraries[host::AsciiLower(name)] = exports;
}

void ClearTestLibraries() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_testLibraries.clear();
}

}  // namespace host

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    HOST_API(nullptr)
    if (!name || !*name) return Fail(ERROR_INVALID_PARAMETER);
    std::string full = name;
    std::string fileName = full.substr(full.find_last_of("\\/") + 1);
    if (fileName.empty()) return Fail(ERROR_MOD_NOT_FOUND);
    if (fileName.find('.') == std::string::npos) fileName += ".DLL";  // Windows supplies the extension
    std::string lowerName = host::AsciiLower(fileName);
    std::lock_guard<std::mutex> lock(g_mutex);
    auto test = g_testLibraries.find(lowerName);
    if (test != g_testLibraries.end()) {
        Module double_;
        double_.testExports = test->second;
        return Reference("test:" + lowerName, std::move(double_));
    }
    if (LibraryAbsent(lowerName)) return Fail(ERROR_MOD_NOT_FOUND);
    std::filesystem::path file = FindLibraryFile(full, fileName);
    if (file.empty()) return Fail(ERROR_MOD_NOT_FOUND);
    std::error_code ec;
    std::string key = std::filesystem::weakly_canonical(file, ec).string();
    Module loaded;
    // The first file found is the one Windows takes; a bad one is not skipped.
    loaded.dl = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!loaded.dl) return Fail(ERROR_BAD_EXE_FORMAT);
    loaded.missing = MissingExports(lowerName);
    return Reference(key, std::move(loaded));
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    HOST_API(nullptr)
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_modules.find(reinterpret_cast<uintptr_t>(module));
    if (it == g_modules.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const Module &m = it->second;
    FARPROC proc = nullptr;
    if (procName && !IS_INTRESOURCE(procName) && !m.missing.count(procName)) {  // ordinals are not served
        if (m.dl) {
            proc = reinterpret_cast<FARPROC>(dlsym(m.dl, procName));
        } else {
            auto e = m.testExports.find(procName);
            if (e != m.testExports.end()) proc = e->second;
        }
    }
    if (!proc) SetLastError(ERROR_PROC_NOT_FOUND);
    return proc;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    HOST_API(FALSE)
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_modules.find(reinterpret_cast<uintptr_t>(module));
    if (it == g_modules.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--it->second.references > 0) return TRUE;
    if (it->second.dl) dlclose(it->second.dl);
    for (auto l = g_loaded.begin(); l != g_loaded.end(); ++l) {
        if (l->second == it->first) {
            g_loaded.erase(l);
            break;
        }
    }
    g_modules.erase(it);
    return TRUE;
}
