// machine.ini, the one reader and writer of it: "[section]" headers and
// "key=value" lines; ';' and '#' start comments. Names are matched without
// regard to case, a key given twice counts as its last value (so a test may
// append a section to override one), and a rewrite keeps every line it does
// not change as written. Host-only; shared by the host platform, zav-machine
// and the INT 13h access library.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host::ini {

struct Section {
    std::string name;                // as written inside the brackets, trimmed; "" before the first header
    std::vector<std::string> lines;  // the header first (when there is one), then the lines as written
    bool appended = false;           // added by Append, not read

    // The value of `key` in this section, trimmed; the last one given wins.
    std::optional<std::string> Get(std::string_view key) const;
    bool Has(std::string_view key) const { return Get(key).has_value(); }
};

class File {
public:
    static File Parse(std::string_view text);
    // Nothing when the file cannot be read.
    static std::optional<File> Load(const std::filesystem::path &path);

    // The value of `key` in every section named `section` (any case); the
    // last one given wins.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // The first line that is neither blank, a comment, a [section] nor
    // key=value, with its 1-based number; nothing when every line is one.
    std::optional<std::pair<size_t, std::string>> FirstMalformedLine() const;

    std::vector<Section> &sections() { return sections_; }
    const std::vector<Section> &sections() const { return sections_; }
    void Append(const std::string &name, const std::vector<std::pair<std::string, std::string>> &values);
    // The text again: the lines as read, then each appended section after
    // one blank line; no blank line at the end.
    std::string Text() const;

private:
    std::vector<Section> sections_;
};

// Writes the file anew at once (atomic_file.h). Empty, or what went wrong.
std::string Save(const File &file, const std::filesystem::path &path);

}  // namespace host::ini
