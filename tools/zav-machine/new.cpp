// zav-machine new: a machine with a C: drive, the registry keys and folders
// Windows has, a first hard disk (disk.cpp), a diskette drive A, the update
// package in C:\UPDATE (UPDATE.EXE with its INT 13h access library, its
// installer, the startup diskette's batch file and DOS files) and, when
// asked for, version 1.0 of the product (old_version.cpp).
#include <strings.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/host/machine/diskette.h"
#include "tools/zav-machine/zav_machine.h"

namespace fs = std::filesystem;

namespace zm {
namespace {

const std::set<std::string> kSystems = {"95", "98", "me", "nt4", "2000"};

struct NewOptions {
    std::string dir;
    std::string os = "2000";
    std::string installer;
    std::string floppy = "none";
    DiskOptions disk;
    OldVersionOptions old;
};

bool ParseNew(const Args &args, NewOptions *options, std::string *error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        bool hasValue = i + 1 < args.size();
        if (a == "--os" && hasValue) {
            options->os = args[++i];
            if (!kSystems.count(options->os)) return *error = "unknown system '" + options->os + "'", false;
        } else if (a == "--installer" && hasValue) {
            options->installer = args[++i];
        } else if (a == "--floppy" && hasValue) {
            options->floppy = args[++i];
            if (!host::diskette::IsKind(options->floppy)) {
                return *error = "unknown diskette '" + options->floppy + "' (" + host::diskette::kKinds + ")", false;
            }
        } else if (ParseDiskOption(args, &i, &options->disk, error) ||
                   ParseOldVersionOption(args, &i, &options->old, error)) {
            if (!error->empty()) return false;
        } else if (a.rfind("--", 0) == 0) {
            return *error = "unknown or incomplete option '" + a + "'", false;
        } else if (options->dir.empty()) {
            options->dir = a;
        } else {
            return *error = "unexpected argument '" + a + "'", false;
        }
    }
    if (options->dir.empty()) return *error = "new needs a folder", false;
    if (options->installer.empty() && !options->old.without.count("installer")) {
        options->installer = "SETUP.EXE";  // the update package's own installer
    }
    // A bare file name, as the update's command line takes it, and none of
    // the files new installs itself.
    const std::string &name = options->installer;
    if (name.find_first_of("\\/:") != std::string::npos || name == "." || name == "..") {
        return *error = "--installer takes a bare file name, not '" + name + "'", false;
    }
    for (const char *own : {"UPDATE.EXE", "kdo_32up.dll", "KAUTO.BAT", "KCP.EXE", "DOS"}) {
        if (strcasecmp(name.c_str(), own) == 0) return *error = "--installer cannot be " + std::string(own), false;
    }
    return CheckDiskOptions(options->disk, error) && CheckOldVersionOptions(options->old, error);
}

fs::path ProgramBeside(const char *name) {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).parent_path() / name;
}

// Beside UPDATE.EXE: the batch file and the DOS program that the startup
// diskette takes from the program's folder, and the DOS files the
// installer installs.
bool InstallPackage(const fs::path &update, std::string *error) {
    std::string bootSector = host::diskette::BootSectorImage(update, error);
    if (bootSector.empty()) return false;
    const std::pair<const char *, std::string> kFiles[] = {
        {"KAUTO.BAT", "@ECHO OFF\r\nREM Finishes the update from the startup diskette.\r\nKCP.EXE\r\n"},
        {"KCP.EXE", "DOS program KCP 1.1\r\n"},
        {"DOS/FL_BOOT.DAT", bootSector},
        {"DOS/IO.SYS", "DOS system file 1.1\r\n"},
        {"DOS/MSDOS.SYS", "[Options]\r\nBootGUI=0\r\nLogo=0\r\n"},
        {"DOS/COMMAND.COM", "DOS command interpreter 1.1\r\n"},
    };
    std::error_code ec;
    fs::create_directories(update / "DOS", ec);
    for (const auto &[name, content] : kFiles) {
        std::ofstream out(update / name, std::ios::binary);
        if (!(out << content) || !out.flush()) return *error = "cannot write " + (update / name).string(), false;
    }
    return true;
}

std::string OldVersionSummary(const OldVersionOptions &old) {
    if (!old.install) return "";
    std::string text = ", version 1.0 build " + old.build;
    const char *separator = " without ";
    for (const std::string &piece : old.without) {
        text += separator + piece;
        separator = ", ";
    }
    return text;
}

}  // namespace

int CmdNew(const Args &args) {
    NewOptions options;
    std::string error;
    if (!ParseNew(args, &options, &error)) return Fail(error);
    fs::path dir(options.dir);
    std::error_code ec;
    // Never overwrite: a machine holds state somebody may still want.
    if (fs::exists(dir, ec) && !fs::is_empty(dir, ec)) return Fail(options.dir + " exists and is not empty");
    fs::path program = ProgramBeside("update");
    if (!fs::exists(program)) return Fail("cannot find the update program at " + program.string());
    fs::path library = ProgramBeside("kdo_32up.dll");
    if (!fs::exists(library)) return Fail("cannot find the INT 13h access library at " + library.string());
    fs::path update = dir / "drives" / "C" / "UPDATE";
    fs::create_directories(update, ec);
    if (ec) return Fail("cannot create " + update.string() + ": " + ec.message());
    std::string diskSections;
    if (!BuildDisk(dir, options.disk, &diskSections, &error)) return Fail(error);
    std::ofstream(dir / "machine.ini") << "[machine]\nos=" << options.os << "\n\n[drive C]\npath=drives/C\nkind=fixed\n"
                                       << "\n[drive A]\nimage=floppy.img\n" << diskSections;
    if (error = host::diskette::Make(dir / "floppy.img", options.floppy); !error.empty()) return Fail(error);
    std::ofstream(dir / "registry.reg") << "REGEDIT4\n\n";
    fs::copy_file(program, update / "UPDATE.EXE", fs::copy_options::overwrite_existing, ec);
    if (ec) return Fail("cannot install the update program: " + ec.message());
    fs::copy_file(library, update / "kdo_32up.dll", fs::copy_options::overwrite_existing, ec);
    if (ec) return Fail("cannot install the INT 13h access library: " + ec.message());
    if (!InstallPackage(update, &error)) return Fail(error);
    if (!options.installer.empty()) {
        fs::copy_file(ProgramBeside("zav-setup"), update / options.installer, fs::copy_options::overwrite_existing, ec);
        if (ec) return Fail("cannot install the installer: " + ec.message());
    }
    if (error = UseMachine(options.dir); !error.empty() || !InstallWindows(options.os, options.old, &error)) {
        return Fail(error);
    }
    std::string service = options.disk.service == "none" ? "no service partition"
                                                         : options.disk.service + (options.disk.hidden ? " hidden" : "") +
                                                               " service partition in entry " +
                                                               std::to_string(options.disk.entry);
    std::string floppy = options.floppy == "none" ? "no diskette" : options.floppy + " diskette";
    std::printf("machine %s: Windows %s, C:\\UPDATE\\UPDATE.EXE installed, %s, %s in A:%s\n", options.dir.c_str(),
                options.os.c_str(), service.c_str(), floppy.c_str(), OldVersionSummary(options.old).c_str());
    return 0;
}

}  // namespace zm
