#include "tests/fault_walk.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/win.h"

namespace fs = std::filesystem;

namespace walk {

const std::set<std::string> kNeverFail = {"DefWindowProcA", "DispatchMessageA", "EnableWindow", "EndPaint",
                                          "GetStartupInfoA", "GetTickCount", "IsIconic", "IsWindow",
                                          "IsWindowEnabled", "IsWindowVisible", "PeekMessageA", "SendMessageA",
                                          "ShowWindow", "Sleep", "TranslateMessage", "GetSystemMetrics"};

namespace {

const std::set<std::string> kClosing = {"CloseHandle", "RegCloseKey", "FindClose"};

// Runs `op` afresh, its `n`-th call of `api` failing when one is named;
// returns the calls it made.
std::vector<std::string> Run(const Operation &op, UPD_RESULT *result, const std::string &api = "", unsigned n = 0) {
    op.arrange();
    host::fault::Clear();
    host::fault::Record();
    if (!api.empty()) host::fault::FailAt(api, n, ERROR_GEN_FAILURE);
    *result = op.act();
    std::vector<std::string> calls = host::fault::Calls();
    host::fault::Clear();
    return calls;
}

// Whether the run that failed `calls[at]` made only closing calls after it.
bool StoppedAfter(const std::vector<std::string> &faulted, size_t at) {
    return faulted.size() >= at + 1 &&
           std::all_of(faulted.begin() + static_cast<long>(at) + 1, faulted.end(),
                       [](const std::string &c) { return kClosing.count(c) || kNeverFail.count(c); });
}

}  // namespace

void Walk(const Operation &op) {
    SCOPED_TRACE(op.name);
    bool print = std::getenv("ZAV_FAULT_TABLE") != nullptr;
    UPD_RESULT ok;
    std::vector<std::string> calls = Run(op, &ok);
    EXPECT_EQ(ok, op.clean) << "with nothing failed";
    const std::set<std::string> all = op.done();
    std::map<std::string, unsigned> seen;
    std::set<std::string> before, failed;
    for (size_t at = 0; at < calls.size(); ++at) {
        const std::string &api = calls[at];
        unsigned n = ++seen[api];
        if (kNeverFail.count(api)) continue;
        Expect e = op.expect(api, n);
        if (!e.checked) continue;
        failed.insert(api);
        SCOPED_TRACE(api + " call " + std::to_string(n));
        UPD_RESULT result;
        std::vector<std::string> faulted = Run(op, &result, api, n);
        std::set<std::string> now = op.done();
        bool stopped = StoppedAfter(faulted, at);
        if (print) std::printf("    {\"%s\", %u, %d, %s},  // %zu done\n", api.c_str(), n, result, stopped ? "stops" : "goes on", now.size());
        if (e.orResult == 0 || result != e.orResult) {
            EXPECT_EQ(result, e.result);
        }
        if (!e.goesOn) {
            EXPECT_TRUE(stopped) << "calls after the failure";
            for (const std::string &change : before) EXPECT_TRUE(now.count(change)) << "undone: " << change;
            before = now;
        }
        for (const std::string &change : now) EXPECT_TRUE(all.count(change)) << "a change it never makes: " << change;
    }
    if (print) std::printf("  %s: %d; fails %s\n", op.name, ok, testing::PrintToString(failed).c_str());
    ASSERT_TRUE(Coverage().count(op.name)) << "no coverage entry";
    EXPECT_EQ(failed, Coverage().at(op.name)) << "the calls the walk fails";
}

DWORD RunThread(LPTHREAD_START_ROUTINE start, LPVOID param) {
    host::fault::HarnessScope harness;
    HANDLE hThread = CreateThread(nullptr, 1048576, start, param, 0, nullptr);
    DWORD nCode = 0;
    WaitForSingleObject(hThread, INFINITE);
    GetExitCodeThread(hThread, &nCode);
    CloseHandle(hThread);
    return nCode;
}

Expectation ByRow(Rows rows) {
    return [rows](const std::string &api, unsigned n) {
        auto it = rows.find({api, n});
        if (it != rows.end()) return it->second;
        ADD_FAILURE() << "no row for " << api << " call " << n;
        return Expect{0};
    };
}

std::set<std::string> Changes(const std::set<std::string> &before, const std::set<std::string> &now) {
    std::set<std::string> out;
    for (const auto &l : before) if (!now.count(l)) out.insert("-" + l);
    for (const auto &l : now) if (!before.count(l)) out.insert("+" + l);
    return out;
}

std::set<std::string> ChangedBytes(const fs::path &file, const std::string &original) {
    std::string now = test::ReadBytes(file).substr(0, original.size());
    std::set<std::string> out;
    for (size_t i = 0; i < original.size() && i < now.size(); ++i)
        if (now[i] != original[i]) out.insert(std::to_string(i));
    return out;
}

void PutBytes(const fs::path &file, const std::string &bytes) {
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).write(bytes.data(), bytes.size());
}

const std::map<std::string, std::set<std::string>> &Coverage() {
    static const std::map<std::string, std::set<std::string>> coverage = {
        {"hide on 2000", {"CloseHandle", "CreateFileA", "ReadFile", "SetFilePointer", "WriteFile"}},
        {"unhide on 98", {"GetProcAddress", "LoadLibraryA"}},
        {"service drive found", {"GetDriveTypeA", "GetVolumeInformationA"}},
        {"old registration removed and the second phase scheduled",
         {"RegCloseKey", "RegDeleteKeyA", "RegDeleteValueA", "RegEnumKeyExA", "RegOpenKeyExA", "RegSetValueExA"}},
        {"a folder tree removed",
         {"DeleteFileA", "FindClose", "FindFirstFileA", "FindNextFileA", "RemoveDirectoryA", "SetFileAttributesA"}},
        {"diskette builder",
         {"CloseHandle", "CopyFileA", "CreateFileA", "DeleteFileA", "FindClose", "ReadFile", "RegCloseKey", "RegOpenKeyExA",
          "RegQueryValueExA", "RemoveDirectoryA", "SetFileAttributesA", "SetFilePointer", "WriteFile"}},
        {"diskette boot sector", {"CloseHandle", "CreateFileA", "ReadFile", "SetFilePointer", "WriteFile"}},
        {"diskette root directory", {"CloseHandle", "CreateFileA", "SetFilePointer", "WriteFile"}},
        {"startup diskette attempt",
         {"CreateDialogParamA", "CreateThread", "DestroyWindow", "DialogBoxParamA", "EndDialog", "GetExitCodeThread",
          "GetModuleHandleA", "LoadCursorA", "SetClassLongA", "WaitForSingleObject"}},
        {"second phase",
         {"CreateDialogParamA", "CreateThread", "DestroyWindow", "GetExitCodeThread", "GetModuleHandleA", "LoadCursorA",
          "PostThreadMessageA", "SetClassLongA", "WaitForSingleObject"}},
        {"second phase worker",
         {"CloseHandle", "CopyFileA", "CreateProcessA", "DeleteFileA", "FindClose", "GetDriveTypeA", "GetVolumeInformationA",
          "PostThreadMessageA", "RegCloseKey", "RegDeleteKeyA", "RegEnumKeyExA", "RegOpenKeyExA", "RegQueryValueExA",
          "RemoveDirectoryA", "WaitForSingleObject"}},
        {"installer run",
         {"CloseHandle", "CreateProcessA", "RegCloseKey", "RegOpenKeyExA", "RegQueryValueExA", "WaitForSingleObject"}},
        {"program start",
         {"GetFileAttributesA", "GetModuleFileNameA", "GetModuleHandleA", "GetVersionExA", "RegCloseKey", "RegOpenKeyExA",
          "RegQueryValueExA"}},
        {"command line of the second phase", {"GetVersionExA", "RegCloseKey", "RegOpenKeyExA", "RegQueryValueExA"}},
        {"restart on 2000", {"AdjustTokenPrivileges", "ExitWindowsEx", "LookupPrivilegeValueA", "OpenProcessToken"}},
        {"welcome, cancelled",
         {"AppendMenuA", "DialogBoxParamA", "GetModuleHandleA", "GetSystemMenu", "LoadIconA", "LoadStringA"}},
        {"failure shown", {"DialogBoxParamA", "EndDialog", "GetDlgItem", "GetModuleHandleA", "LoadStringA", "SetWindowTextA"}},
        {"completion shown",
         {"DialogBoxParamA", "EndDialog", "GetDlgItem", "GetModuleHandleA", "LoadStringA", "SetWindowTextA"}},
        {"about box", {"DialogBoxParamA", "EndDialog", "GetModuleHandleA"}},
        {"retry question",
         {"DialogBoxParamA", "EndDialog", "GetDlgItem", "GetModuleHandleA", "GetWindowTextA", "GetWindowTextLengthA",
          "SetWindowTextA"}},
        {"minimised icon", {"BeginPaint", "DrawIcon", "GetClientRect"}},
    };
    return coverage;
}

}  // namespace walk
