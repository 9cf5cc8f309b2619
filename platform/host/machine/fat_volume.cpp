#include "platform/host/machine/fat_volume.h"

#include <algorithm>

#include "platform/host/machine/tool_runner.h"

namespace host::fat {
namespace {

// mtools with no configuration but ours: no user or system drive letters
// matter for "-i image@@offset", and the checks that refuse partition
// images with unusual geometry are off.
ToolResult Mtool(const std::string &tool, const Volume &v, std::vector<std::string> args) {
    std::vector<std::string> argv = {tool, "-i", v.image.string() + "@@" + std::to_string(v.offset)};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunTool(argv, {"MTOOLS_SKIP_CHECK=1", "MTOOLSRC=/dev/null", "MTOOLS_LOWER_CASE=0", "LC_ALL=C"});
}

std::string InVolume(const std::string &dosPath) {
    std::string out = "::/";
    for (char c : dosPath) out += c == '\\' ? '/' : c;
    return out;
}

std::string TrimRight(std::string s) {
    s.erase(s.find_last_not_of(" \t\r\n") + 1);
    return s;
}

}  // namespace

std::optional<std::string> Label(const Volume &volume) {
    ToolResult r = Mtool("mlabel", volume, {"-s", "::"});
    if (r.status != 0) return std::nullopt;
    const std::string marker = "Volume label is ";
    size_t at = r.out.find(marker);
    if (at == std::string::npos) return std::string();  // "Volume has no label"
    std::string rest = r.out.substr(at + marker.size());
    return TrimRight(rest.substr(0, rest.find('\n')));
}

std::optional<std::vector<Entry>> List(const Volume &volume, const std::string &folder) {
    std::string base = InVolume(folder);
    if (base.back() != '/') base += '/';
    ToolResult r = Mtool("mdir", volume, {"-b", "-a", base});
    if (r.status != 0) return std::nullopt;
    // mdir tells folders from files, mattrib the read-only ones: "  A  R   ::/X/Y".
    ToolResult attributes = Mtool("mattrib", volume, {base + "*"});
    std::vector<std::string> readOnly;
    for (size_t at = 0; at < attributes.out.size();) {
        size_t end = attributes.out.find('\n', at);
        std::string line = attributes.out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? attributes.out.size() : end + 1;
        size_t path = line.find(base);
        if (path != std::string::npos && line.substr(0, path).find('R') != std::string::npos) {
            readOnly.push_back(line.substr(path + base.size()));
        }
    }
    std::vector<Entry> entries;
    size_t start = 0;
    while (start < r.out.size()) {
        size_t end = r.out.find('\n', start);
        std::string line = r.out.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? r.out.size() : end + 1;
        if (line.rfind(base, 0) != 0) continue;  // "mdir -b" prints full paths
        Entry e;
        e.name = line.substr(base.size());
        e.directory = !e.name.empty() && e.name.back() == '/';
        if (e.directory) e.name.pop_back();
        e.readOnly = std::find(readOnly.begin(), readOnly.end(), e.name) != readOnly.end();
        if (!e.name.empty() && e.name != "." && e.name != "..") entries.push_back(e);
    }
    return entries;
}

bool CopyIn(const Volume &volume, const std::filesystem::path &from, const std::string &to) {
    return Mtool("mcopy", volume, {"-o", "-m", from.string(), InVolume(to)}).status == 0;
}

bool CopyOut(const Volume &volume, const std::string &from, const std::filesystem::path &to) {
    return Mtool("mcopy", volume, {"-o", "-n", InVolume(from), to.string()}).status == 0;
}

bool Delete(const Volume &volume, const std::string &file) {
    return Mtool("mdel", volume, {InVolume(file)}).status == 0;
}

bool MakeDir(const Volume &volume, const std::string &folder) {
    return Mtool("mmd", volume, {InVolume(folder)}).status == 0;
}

bool RemoveDir(const Volume &volume, const std::string &folder) {
    return Mtool("mrd", volume, {InVolume(folder)}).status == 0;
}

std::optional<bool> ReadOnlyOf(const Volume &volume, const std::string &path) {
    ToolResult r = Mtool("mattrib", volume, {InVolume(path)});
    if (r.status != 0) return std::nullopt;
    size_t at = r.out.find("::/");
    return at != std::string::npos && r.out.substr(0, at).find('R') != std::string::npos;
}

bool SetReadOnly(const Volume &volume, const std::string &path, bool readOnly) {
    std::vector<std::string> args = {"-a", "-s", "-h", readOnly ? "+r" : "-r", InVolume(path)};
    return Mtool("mattrib", volume, args).status == 0;
}

}  // namespace host::fat
