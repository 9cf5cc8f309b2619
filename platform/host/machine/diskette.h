// Diskettes for a machine's drive A: images formatted by mkfs.fat and
// filled by mtools, and the DOS boot sector image the product keeps.
// Host-only.
#pragma once

#include <filesystem>
#include <string>

namespace host::diskette {

// none (no diskette), blank (1.44 MB), blank720 (720 KB), protected (1.44
// MB, write-protected), full (1.44 MB with old files and folders, some of
// them read-only, and a label).
bool IsKind(const std::string &kind);
extern const char kKinds[];  // "none|blank|blank720|protected|full"

// Puts a diskette of `kind` at `image`, replacing what was there in one
// rename; "none" removes it. Empty, or why not.
std::string Make(const std::filesystem::path &image, const std::string &kind);

// Puts a diskette of `kind` into the current machine's drive `letter`.
std::string Insert(char letter, const std::string &kind);

// A DOS boot sector with its boot code: the first 512 bytes of a 720 KB
// diskette as mkfs.fat formats it, made in `scratchDir`. Empty, with
// *error set, when it cannot be made.
std::string BootSectorImage(const std::filesystem::path &scratchDir, std::string *error);

}  // namespace host::diskette
