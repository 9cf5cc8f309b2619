#include "platform/host/machine/ini_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/host/machine/atomic_file.h"
#include "platform/host/text/ascii.h"

namespace host::ini {
namespace {

// The name of a "[name]" header line, or nothing.
std::optional<std::string> Header(std::string_view line) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
    return Trim(std::string_view(t).substr(1, t.size() - 2));
}

}  // namespace

std::optional<std::string> Section::Get(std::string_view key) const {
    std::optional<std::string> value;
    for (const std::string &line : lines) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') continue;
        size_t eq = t.find('=');
        if (eq != std::string::npos && EqualsIgnoringCase(Trim(std::string_view(t).substr(0, eq)), key)) {
            value = Trim(std::string_view(t).substr(eq + 1));
        }
    }
    return value;
}

File File::Parse(std::string_view text) {
    File file;
    file.sections_.emplace_back();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        if (auto name = Header(line)) file.sections_.push_back({*name, {}});
        file.sections_.back().lines.emplace_back(line);
    }
    return file;
}

std::optional<File> File::Load(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return Parse(text);
}

std::optional<std::pair<size_t, std::string>> File::FirstMalformedLine() const {
    size_t number = 0;
    for (const Section &section : sections_) {
        for (const std::string &line : section.lines) {
            ++number;
            std::string t = Trim(line);
            if (t.empty() || t[0] == ';' || t[0] == '#' || Header(t)) continue;
            size_t eq = t.find('=');
            if (eq == std::string::npos || Trim(std::string_view(t).substr(0, eq)).empty()) return {{number, line}};
        }
    }
    return std::nullopt;
}

std::optional<std::string> File::Get(std::string_view section, std::string_view key) const {
    std::optional<std::string> value;
    for (const Section &s : sections_) {
        if (!EqualsIgnoringCase(s.name, section)) continue;
        if (auto v = s.Get(key)) value = v;
    }
    return value;
}

void File::Append(const std::string &name, const std::vector<std::pair<std::string, std::string>> &values) {
    Section s{name, {"[" + name + "]"}, true};
    for (const auto &[key, value] : values) s.lines.push_back(key + "=" + value);
    sections_.push_back(std::move(s));
}

std::string File::Text() const {
    std::string text;
    for (const Section &s : sections_) {
        if (s.appended) {
            // One blank line before it, however often the file is rewritten.
            while (text.ends_with("\n\n")) text.pop_back();
            if (!text.empty()) text += "\n";
        }
        for (const std::string &line : s.lines) text += line + "\n";
    }
    while (text.ends_with("\n\n")) text.pop_back();
    return text;
}

std::string Save(const File &file, const std::filesystem::path &path) {
    int error = ReplaceFileAtomically(path, file.Text());
    return error ? "cannot write " + path.string() + ": " + std::strerror(error) : std::string();
}

}  // namespace host::ini
