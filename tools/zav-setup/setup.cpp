// SETUP.EXE: the new version's installer on a sandbox machine. It installs
// version 1.1 (install.cpp) through the machine's own file and registry calls: the program
// folder and its Start-menu folder, the maker's keys as 1.1 keeps them, and
// last the completion flag the update waits for. The DOS files come from
// the package's DOS folder beside it. machine.ini's [installer]
// section makes it misbehave the ways an installer can:
//   flag=never | late | WORD   no flag; the flag written by a process left
//                              behind, late_ms= machine ms later (default
//                              5000); WORD instead of "complete"
//   install_path=0             no Salvix InstallPath
//   omit=VDG_INIT.EXE          that program is not installed
//   exit=N                     the exit code (the flag is written anyway)
// and "[program SETUP.EXE] broken=1" makes it no program at all.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/host/machine/machine.h"
#include "platform/win.h"
#include "tools/zav-setup/install.h"

namespace {

std::string Setting(const char *key, const std::string &fallback = "") {
    return host::MachineSetting("installer", key).value_or(fallback);
}

void Log(int argc, char **argv) {
    std::string name = argv[0];
    name = name.substr(name.find_last_of('/') + 1);
    std::string args;
    for (int i = 1; i < argc; ++i) args += (i > 1 ? " " : "") + std::string(argv[i]);
    std::ofstream(host::MachineDir() / "installer.log", std::ios::app) << name << " ran with: " << args << "\n";
}

// The flag the update waits for, as the machine wants it written.
void WriteFlag() {
    std::string flag = Setting("flag", "complete");
    if (flag == "never") return;
    if (flag != "late") {
        SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Install", "progress", flag);
        return;
    }
    if (fork() == 0) {  // a process it leaves behind writes it
        Sleep(static_cast<DWORD>(std::atoi(Setting("late_ms", "5000").c_str())));
        SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Install", "progress", "complete");
        std::exit(0);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (host::MachineDir().empty()) {
        std::fprintf(stderr, "SETUP.EXE: no machine (ZAV_MACHINE)\n");
        return 2;
    }
    Log(argc, argv);
    bool ok = InstallFiles(Setting("omit")) && RegisterKeys(Setting("install_path") != "0");
    if (ok) WriteFlag();
    return ok ? std::atoi(Setting("exit", "0").c_str()) : 1;
}
