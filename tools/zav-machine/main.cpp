// zav-machine VERB ...: the sandbox machines the update program runs on.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/host/machine/machine.h"
#include "tools/zav-machine/zav_machine.h"

namespace {

const char kUsage[] =
    "usage: zav-machine new DIR [--os 95|98|me|nt4|2000] [--installer NAME]\n"
    "                           [--floppy none|blank|blank720|protected|full]\n"
    "                           [--service none|fat16|fat16-lba|fat32|fat32-lba] [--hidden]\n"
    "                           [--service-entry 0-3] [--disk-mb N]\n"
    "                           [--old-version] [--without PIECE]... [--build N]\n"
    "       zav-machine run DIR 'COMMAND LINE'\n"
    "       zav-machine show DIR\n"
    "       zav-machine boot DIR\n"
    "\n"
    "--old-version installs version 1.0 (build 4000, or --build N); --without leaves out a piece:\n"
    "  run            its Run values SalvSA and Kicon\n"
    "  runservices    its RunServices values (95, 98, me)\n"
    "  services       its service keys KDadminServer, kdAgentServer, kdntflt (nt4, 2000)\n"
    "  uninstall      its Add/Remove Programs entry\n"
    "  keldan         the maker's key tree Software\\Keldan\n"
    "  program-files  its program folder, with its DOS files\n"
    "  start-menu     its Start-menu folders\n"
    "  installer      the installer stand-in C:\\UPDATE\\SETUP.EXE\n"
    "--floppy puts a diskette into drive A: none (the default), blank (1.44 MB), blank720,\n"
    "  protected (write-protected), full (old files and folders, some read-only).\n"
    "boot: clears a restart request, mounts the visible FAT partitions, runs each RunOnce value once.\n";

}  // namespace

namespace zm {

int Fail(const std::string &message) {
    std::fprintf(stderr, "zav-machine: %s\n", message.c_str());
    return 2;
}

std::string UseMachine(const std::string &dir) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(dir, ec);
    if (ec || !std::filesystem::exists(absolute / "machine.ini")) return dir + " is no machine (no machine.ini)";
    setenv("ZAV_MACHINE", absolute.c_str(), 1);
    host::ReloadMachine();
    return host::CheckMachine();
}

}  // namespace zm

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string verb = argv[1];
    zm::Args args(argv + 2, argv + argc);
    if (verb == "new") return zm::CmdNew(args);
    if (verb == "run") return zm::CmdRun(args);
    if (verb == "show") return zm::CmdShow(args);
    if (verb == "boot") return zm::CmdBoot(args);
    if (verb == "--help" || verb == "-h" || verb == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fputs(kUsage, stderr);
    return zm::Fail("unknown verb '" + verb + "'");
}
