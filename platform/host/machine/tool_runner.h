// Runs a system tool (mtools, sfdisk, mkfs.fat) directly, never through a
// shell, so that file names are passed as they are. Host-only.
#pragma once

#include <string>
#include <vector>

namespace host {

struct ToolResult {
    int status = -1;  // exit status; -1 when the tool could not be started
    std::string out, err;
};

// argv[0] is looked up in PATH, then /usr/sbin and /sbin. `env` holds
// "NAME=value" entries added to (or replacing those of) this process's
// environment; `input` is the tool's standard input.
ToolResult RunTool(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                   const std::string &input = "");

}  // namespace host
