// FAT volumes inside image files (a partition of the machine's disk image,
// or a diskette image), reached through mtools so that the host carries no
// FAT driver of its own. Host-only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace host::fat {

struct Volume {
    std::filesystem::path image;
    uint64_t offset = 0;  // byte offset of the volume's boot sector
};

struct Entry {
    std::string name;  // long name when it has one
    bool directory = false;
    bool readOnly = false;
};

// Paths inside a volume are DOS paths relative to its root: "RECOVERY\X.EXE"
// (either separator; an empty path is the root).

// The label Windows shows: the root directory's volume-label entry, without
// trailing blanks; empty when there is none. Nothing when the volume cannot
// be read.
std::optional<std::string> Label(const Volume &volume);
// The entries of a folder, without "." and "..", with their read-only
// attribute; nothing when it is missing.
std::optional<std::vector<Entry>> List(const Volume &volume, const std::string &folder);
// Copies a host file into the volume, replacing a file of that name.
bool CopyIn(const Volume &volume, const std::filesystem::path &from, const std::string &to);
bool CopyOut(const Volume &volume, const std::string &from, const std::filesystem::path &to);
bool Delete(const Volume &volume, const std::string &file);
bool MakeDir(const Volume &volume, const std::string &folder);
// Removes an empty folder.
bool RemoveDir(const Volume &volume, const std::string &folder);
// Whether the file is read-only; nothing when there is no such entry. One
// tool run, cheaper than listing its folder.
std::optional<bool> ReadOnlyOf(const Volume &volume, const std::string &path);
// Sets or clears the read-only attribute (the others are cleared with it).
bool SetReadOnly(const Volume &volume, const std::string &path, bool readOnly);

}  // namespace host::fat
