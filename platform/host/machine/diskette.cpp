#include "platform/host/machine/diskette.h"

#include <fstream>
#include <iterator>

#include "platform/host/machine/drives.h"
#include "platform/host/machine/fat_volume.h"
#include "platform/host/machine/tool_runner.h"
#include "platform/host/win_kernel.h"

namespace fs = std::filesystem;

namespace host::diskette {

const char kKinds[] = "none|blank|blank720|protected|full";

namespace {

// What an old diskette holds; a null content is a folder.
struct OldEntry {
    const char *path;
    const char *content;
    bool readOnly;
};
const OldEntry kOldEntries[] = {
    {"README.TXT", "Notes kept on an old diskette\r\n", false},
    {"SETUP.LOG", "Installed 1999-05-04\r\n", true},
    {"OLD", nullptr, false},
    {"OLD\\LETTER.DOC", "Dear reader,\r\n", true},
    {"OLD\\DRIVERS", nullptr, false},
    {"OLD\\DRIVERS\\MOUSE.SYS", "mouse driver\r\n", false},
    {"OLD\\DRIVERS\\EMPTY", nullptr, false},
};

std::string Format(const fs::path &image, int kilobytes, const char *label, const char *volumeId = "0BAD5EED") {
    std::error_code ec;
    fs::remove(image, ec);
    std::vector<std::string> argv = {"mkfs.fat", "-C", "-i", volumeId};
    if (label) argv.insert(argv.end(), {"-n", label});
    argv.insert(argv.end(), {image.string(), std::to_string(kilobytes)});
    ToolResult r = RunTool(argv);
    if (r.status == 0) return "";
    return r.status < 0 ? "cannot run mkfs.fat" : "mkfs.fat failed: " + r.err;
}

std::string Fill(const fs::path &image) {
    fat::Volume volume{image, 0};
    fs::path scratch = image.string() + ".file";
    bool ok = true;
    for (const OldEntry &e : kOldEntries) {
        if (!e.content) {
            ok = ok && fat::MakeDir(volume, e.path);
            continue;
        }
        std::ofstream(scratch, std::ios::binary | std::ios::trunc) << e.content;
        ok = ok && fat::CopyIn(volume, scratch, e.path) && (!e.readOnly || fat::SetReadOnly(volume, e.path, true));
    }
    std::error_code ec;
    fs::remove(scratch, ec);
    return ok ? "" : "cannot fill the diskette (mtools)";
}

}  // namespace

bool IsKind(const std::string &kind) {
    for (const char *k : {"none", "blank", "blank720", "protected", "full"}) {
        if (kind == k) return true;
    }
    return false;
}

std::string Make(const fs::path &image, const std::string &kind) {
    if (!IsKind(kind)) return "unknown diskette '" + kind + "' (" + kKinds + ")";
    std::error_code ec;
    if (kind == "none") {
        fs::remove(image, ec);
        return ec ? "cannot take the diskette out: " + ec.message() : "";
    }
    fs::path fresh = image.string() + ".new";
    std::string error = Format(fresh, kind == "blank720" ? 720 : 1440, kind == "full" ? "OLDDISK" : nullptr);
    if (error.empty() && kind == "full") error = Fill(fresh);
    if (error.empty() && kind == "protected") {
        fs::permissions(fresh, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove, ec);
    }
    if (error.empty() && !ec) fs::rename(fresh, image, ec);
    if (error.empty() && ec) error = "cannot put the diskette in: " + ec.message();
    if (!error.empty()) fs::remove(fresh, ec);
    return error;
}

std::string Insert(char letter, const std::string &kind) {
    Drive drive = FindDrive(letter);
    if (drive.kind != DRIVE_REMOVABLE || drive.fat.image.empty()) {
        return std::string("the machine has no diskette drive ") + letter + ":";
    }
    return Make(drive.fat.image, kind);
}

std::string BootSectorImage(const fs::path &scratchDir, std::string *error) {
    fs::path scratch = scratchDir / ".boot-sector.img";
    *error = Format(scratch, 720, nullptr, "1D05B007");
    std::string sector;
    if (error->empty()) {
        std::ifstream in(scratch, std::ios::binary);
        sector.assign(std::istreambuf_iterator<char>(in), {});
        sector.resize(sector.size() >= 512 ? 512 : 0);
        if (sector.empty()) *error = "cannot read the boot sector mkfs.fat made";
    }
    std::error_code ec;
    fs::remove(scratch, ec);
    return sector;
}

}  // namespace host::diskette
