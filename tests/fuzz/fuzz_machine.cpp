#include "tests/fuzz/fuzz_machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/host/machine/machine.h"

namespace fs = std::filesystem;

namespace fuzz {
namespace {

fs::path g_dir;

void RemoveMachine() {
    std::error_code ec;
    fs::remove_all(g_dir, ec);
}

}  // namespace

const fs::path &Machine(const std::string &extraIni) {
    if (!g_dir.empty()) return g_dir;
    std::error_code ec;
    fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "zav-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) Fail("cannot make the machine folder");
    g_dir = pattern;
    std::atexit(RemoveMachine);
    fs::create_directories(g_dir / "drives/C/UPDATE");
    std::ofstream(g_dir / "machine.ini") << "[machine]\nos=2000\nclock_scale=0\n\n[drive C]\npath=drives/C\nkind=fixed\n\n"
                                            "[drive A]\nimage=floppy.img\n\n[disk0]\nimage=disk.img\n\n"
                                         << extraIni;
    std::ofstream(g_dir / "registry.reg") << "REGEDIT4\n\n";
    // The INT 13h access library of Windows 9x, where the program looks for it.
    fs::copy_file(fs::path(ZAV_BUILD_DIR) / "kdo_32up.dll", g_dir / "drives/C/UPDATE/kdo_32up.dll", ec);
    setenv("ZAV_MACHINE", g_dir.c_str(), 1);
    host::ReloadMachine();
    return g_dir;
}

void WriteMachineFile(const std::string &name, const uint8_t *data, size_t size, size_t minBytes) {
    // One write of the whole padded image: the image is what each run costs.
    static std::string buffer;
    buffer.assign(reinterpret_cast<const char *>(data), size);
    if (buffer.size() < minBytes) buffer.resize(minBytes, '\0');
    std::FILE *file = std::fopen((Machine() / name).c_str(), "wb");
    if (!file || std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size() || std::fclose(file) != 0)
        Fail("cannot write the machine file " + name);
}

std::string ReadMachineFile(const std::string &name) {
    std::string text;
    std::FILE *file = std::fopen((Machine() / name).c_str(), "rb");
    if (!file) return text;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    std::fclose(file);
    return text;
}

void Fail(const std::string &why) {
    std::fprintf(stderr, "fuzz finding: %s\n", why.c_str());
    std::abort();
}

}  // namespace fuzz
