// The sandbox machine a fuzz target acts on: a folder of its own (in
// memory when /dev/shm exists), named by ZAV_MACHINE for the whole run and
// removed at exit. Nothing outside it is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace fuzz {

// Makes the machine once: Windows 2000 by default, drive C, an empty
// registry, [disk0] disk.img and drive A's floppy.img; `extraIni` goes at
// the end of machine.ini.
const std::filesystem::path &Machine(const std::string &extraIni = "");

// Writes `size` bytes into the machine file `name`, padded with zeros to
// `minBytes` (whole sectors for images).
void WriteMachineFile(const std::string &name, const uint8_t *data, size_t size, size_t minBytes = 0);

std::string ReadMachineFile(const std::string &name);

// A finding: prints why and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const std::string &why);

}  // namespace fuzz
