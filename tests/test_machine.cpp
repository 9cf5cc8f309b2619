#include "tests/test_machine.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "platform/host/machine/diskette.h"
#include "platform/host/machine/machine.h"

namespace fs = std::filesystem;

namespace test {

TestMachine::TestMachine() {
    std::string pattern = (fs::temp_directory_path() / "zav-test-XXXXXX").string();
    char *made = mkdtemp(pattern.data());
    dir_ = made ? fs::path(made) : fs::path();
}

TestMachine::~TestMachine() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    unsetenv("ZAV_MACHINE");
    host::ReloadMachine();
}

void TestMachine::Create(const std::string &os, const std::string &extraMachineLines) {
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(dir_, ec)) fs::remove_all(entry.path(), ec);
    fs::create_directories(DriveC(), ec);
    std::ofstream(dir_ / "machine.ini") << "[machine]\nos=" << os << "\nclock_scale=0\n" << extraMachineLines
                                        << "\n[drive C]\npath=drives/C\nkind=fixed\n";
    std::ofstream(dir_ / "registry.reg") << "REGEDIT4\n\n";
    setenv("ZAV_MACHINE", dir_.c_str(), 1);
    host::ReloadMachine();
}

void TestMachine::CreateWithTool(const std::string &options) {
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(dir_, ec)) fs::remove_all(entry.path(), ec);
    RunResult r = Run(std::string(ZAV_BUILD_DIR) + "/zav-machine new " + dir_.string() + " " + options + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    std::ofstream(dir_ / "machine.ini", std::ios::app) << "\n[machine]\nclock_scale=0\n";
    setenv("ZAV_MACHINE", dir_.c_str(), 1);
    host::ReloadMachine();
}

fs::path TestMachine::InsertDiskette(const std::string &kind) {
    std::ofstream(dir_ / "machine.ini", std::ios::app) << "\n[drive A]\nimage=floppy.img\n";
    host::ReloadMachine();
    EXPECT_EQ(host::diskette::Make(dir_ / "floppy.img", kind), "");
    return dir_ / "floppy.img";
}

void TestMachine::WriteFile(const std::string &windowsPath, const std::string &content) {
    fs::path path = host::HostPathFor(windowsPath);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

void TestMachine::SetString(HKEY root, const std::string &key, const std::string &name, const std::string &value) {
    SetBinary(root, key, name, REG_SZ, std::string(value.c_str(), value.size() + 1));
}

void TestMachine::SetBinary(HKEY root, const std::string &key, const std::string &name, DWORD type,
                            const std::string &data) {
    HKEY hKey;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr), 0);
    const BYTE *pData = reinterpret_cast<const BYTE *>(data.data());
    ASSERT_EQ(RegSetValueExA(hKey, name.c_str(), 0, type, pData, static_cast<DWORD>(data.size())), 0);
    RegCloseKey(hKey);
}

bool TestMachine::RestartRecorded(unsigned *flags) const {
    std::ifstream in(dir_ / "restart");
    if (!in) return false;
    std::string line;
    std::getline(in, line);
    if (flags) *flags = static_cast<unsigned>(std::stoul(line.substr(line.find('=') + 1)));
    return true;
}

std::string ReadBytes(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

RunResult Run(const std::string &command) {
    RunResult result{-1, {}};
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::set<std::string> RegistryEntries(const std::filesystem::path &file) {
    std::ifstream in(file);
    std::set<std::string> entries;
    std::string key, line, value;
    while (std::getline(in, line)) {
        value += line;
        if (!value.empty() && value.back() == '\\' && value[0] != '[') {  // continued hex data
            value.pop_back();
            continue;
        }
        if (value.size() > 1 && value[0] == '[') key = value;
        if (!value.empty() && value != "REGEDIT4") entries.insert(value[0] == '[' ? key : key + value);
        value.clear();
    }
    return entries;
}

}  // namespace test
