// Rewrites a machine file so that a reader or a crash sees the old content
// or the new one, never a mix and never a torn or empty file: the new text
// goes to a file beside it, is flushed, renamed over the old one, and the
// folder is flushed. Host-only.
#pragma once

#include <filesystem>
#include <string_view>

namespace host {

// 0, or the errno of the step that failed (the old file is then untouched).
int ReplaceFileAtomically(const std::filesystem::path &path, std::string_view data);

// The Windows error that a failed write with this errno reports.
unsigned long WriteErrorFromErrno(int error);

}  // namespace host
