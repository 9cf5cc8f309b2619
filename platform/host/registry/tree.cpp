// The registry's key tree and its REGEDIT4 text form (the format regedit
// imports and exports): "REGEDIT4", a blank line, then "[KEY]" sections
// followed by their value lines. Text is the host ANSI code page as bytes.
// Written with LF line ends (CRLF is read too); keys and values in the order
// they were created, a loaded file keeping its own order. Strings that the
// quoted form cannot carry exactly (no single final NUL, line breaks) are
// written as hex(1), and any other type as hex(N), so every value round-trips.
#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/host/text/ascii.h"
#include "platform/host/registry/internal.h"
#include "platform/host/win_registry.h"

namespace host::reg {

std::string Fold(std::string_view s) { return AsciiLower(s); }

std::vector<std::string_view> SplitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Fold(a) == Fold(b);
}

}  // namespace

// --- Keys -----------------------------------------------------------------

std::string Key::Path() const {
    if (!parent_ || !parent_->parent_) return name_;
    return parent_->Path() + "\\" + name_;
}

Key *Key::Child(std::string_view name) const {
    auto it = index_.find(Fold(name));
    return it == index_.end() ? nullptr : it->second;
}

Key *Key::AddChild(std::string_view name, bool *created) {
    std::string folded = Fold(name);
    auto it = index_.find(folded);
    if (created) *created = it == index_.end();
    if (it != index_.end()) return it->second;
    children_.push_back(std::make_unique<Key>(std::string(name), this));
    index_.emplace(std::move(folded), children_.back().get());
    return children_.back().get();
}

bool Key::RemoveChild(std::string_view name) {
    auto it = index_.find(Fold(name));
    if (it == index_.end()) return false;
    Key *child = it->second;
    index_.erase(it);
    children_.erase(std::find_if(children_.begin(), children_.end(),
                                 [child](const std::unique_ptr<Key> &k) { return k.get() == child; }));
    return true;
}

const Value *Key::FindValue(std::string_view name) const {
    for (const Value &v : values_) {
        if (SameName(v.name, name)) return &v;
    }
    return nullptr;
}

const Value &Key::SetValue(std::string_view name, DWORD type, std::vector<BYTE> data) {
    for (Value &v : values_) {
        if (SameName(v.name, name)) {
            v.type = type;
            v.data = std::move(data);
            return v;
        }
    }
    values_.push_back(Value{std::string(name), type, std::move(data)});
    return values_.back();
}

bool Key::DeleteValue(std::string_view name) {
    auto it = std::find_if(values_.begin(), values_.end(), [&](const Value &v) { return SameName(v.name, name); });
    if (it == values_.end()) return false;
    values_.erase(it);
    return true;
}

// --- Tree -----------------------------------------------------------------

Tree::Tree() {
    for (const char *root : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS"}) {
        top_.AddChild(root);
    }
}

Key *Tree::Root(std::string_view name) const { return top_.Child(name); }

Key *Tree::Find(std::string_view path) const {
    std::vector<std::string_view> parts = SplitKeyPath(path);
    Key *key = Root(parts[0]);
    for (size_t i = 1; key && i < parts.size(); ++i) key = key->Child(parts[i]);
    return key;
}

Key *Tree::Create(std::string_view path) {
    std::vector<std::string_view> parts = SplitKeyPath(path);
    Key *key = Root(parts[0]);
    for (size_t i = 1; key && i < parts.size(); ++i) {
        if (parts[i].empty()) return nullptr;
        key = key->AddChild(parts[i]);
    }
    return key;
}

bool Tree::Remove(Key *key) {
    if (!key || !key->parent() || key->parent() == &top_) return false;
    return key->parent()->RemoveChild(key->name());
}

// --- Reading ----------------------------------------------------------------

namespace {

// Where the line-by-line reader is: before the header, between lines, or
// inside a hex value continued with a trailing backslash.
enum class ParseState { Header, Body, HexContinued };

// How the text after "name"= is read, chosen by its leading tag.
enum class DataKind { String, Dword, Hex, HexTyped, Remove };

struct DataTag {
    std::string_view tag;
    DataKind kind;
};

constexpr std::array<DataTag, 5> kDataTags = {{
    {"\"", DataKind::String},
    {"dword:", DataKind::Dword},
    {"hex:", DataKind::Hex},
    {"hex(", DataKind::HexTyped},
    {"-", DataKind::Remove},
}};

bool StartsWithFolded(std::string_view s, std::string_view tag) {
    return s.size() >= tag.size() && Fold(s.substr(0, tag.size())) == tag;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to `maxDigits` hex digits making up all of `s`.
bool ParseHexNumber(std::string_view s, size_t maxDigits, DWORD *out) {
    if (s.empty() || s.size() > maxDigits) return false;
    DWORD v = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) return false;
        v = (v << 4) | static_cast<DWORD>(d);
    }
    *out = v;
    return true;
}

// A quoted string at the start of `s` with \\ and \" escapes; `s` is left
// after the closing quote. Other backslashes are kept as written, since
// hand-written files often hold plain "C:\Dir" paths.
bool ParseQuoted(std::string_view &s, std::string *out) {
    if (s.empty() || s.front() != '"') return false;
    out->clear();
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) c = s[++i];
        out->push_back(c);
    }
    return false;
}

class Parser {
public:
    Parser(Tree &tree, bool withHeader) : tree_(tree), state_(withHeader ? ParseState::Header : ParseState::Body) {}

    std::optional<ParseError> Run(std::string_view text) {
        size_t pos = 0;
        while (pos < text.size() && !error_) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            ++line_;
            Line(TrimRight(text.substr(pos, end - pos)));
            pos = end + 1;
        }
        if (!error_ && state_ == ParseState::HexContinued) Fail("hex data continues past the end");
        if (!error_ && state_ == ParseState::Header) Fail("missing REGEDIT4 header");
        return error_;
    }

private:
    void Fail(std::string what) {
        if (!error_) error_ = ParseError{line_, std::move(what)};
    }

    void Line(std::string_view line) {
        switch (state_) {
        case ParseState::Header:
            if (line_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
            if (line != "REGEDIT4") return Fail("missing REGEDIT4 header");
            state_ = ParseState::Body;
            return;
        case ParseState::HexContinued:
            return HexText(TrimLeft(line));
        case ParseState::Body:
            break;
        }
        line = TrimLeft(line);
        if (line.empty() || line.front() == ';') return;
        if (line.front() == '[') return Section(line);
        if (line.front() == '"' || line.front() == '@') return ParseValue(line);
        Fail("unexpected line");
    }

    void Section(std::string_view line) {
        if (line.back() != ']') return Fail("section without closing ]");
        std::string_view path = line.substr(1, line.size() - 2);
        bool remove = !path.empty() && path.front() == '-';
        if (remove) path.remove_prefix(1);
        for (std::string_view part : SplitKeyPath(path)) {
            if (part.empty()) return Fail("empty key name in path");
        }
        if (!tree_.Root(SplitKeyPath(path)[0])) return Fail("unknown root key");
        key_ = nullptr;
        if (!remove) {
            key_ = tree_.Create(path);
            return;
        }
        if (Key *gone = tree_.Find(path)) {
            if (!tree_.Remove(gone)) Fail("a root key cannot be removed");
        }
    }

    void ParseValue(std::string_view line) {
        if (!key_) return Fail("value outside a key");
        if (line.front() == '@') {
            name_.clear();
            line.remove_prefix(1);
        } else if (!ParseQuoted(line, &name_)) {
            return Fail("unterminated value name");
        }
        line = TrimLeft(line);
        if (line.empty() || line.front() != '=') return Fail("missing = after value name");
        line = TrimLeft(line.substr(1));
        for (const DataTag &t : kDataTags) {
            if (StartsWithFolded(line, t.tag)) return Data(t.kind, line.substr(t.kind == DataKind::String ? 0 : t.tag.size()));
        }
        Fail("unknown value data type");
    }

    void Data(DataKind kind, std::string_view rest) {
        std::string text;
        DWORD number = 0;
        switch (kind) {
        case DataKind::String:
            if (!ParseQuoted(rest, &text) || !TrimLeft(rest).empty()) return Fail("malformed string data");
            text.push_back('\0');
            key_->SetValue(name_, REG_SZ, std::vector<BYTE>(text.begin(), text.end()));
            return;
        case DataKind::Dword:
            if (!ParseHexNumber(rest, 8, &number)) return Fail("malformed dword data");
            key_->SetValue(name_, REG_DWORD,
                           {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)});
            return;
        case DataKind::Remove:
            if (!rest.empty()) return Fail("malformed value removal");
            key_->DeleteValue(name_);
            return;
        case DataKind::Hex:
            type_ = REG_BINARY;
            break;
        case DataKind::HexTyped: {
            size_t close = rest.find("):");
            if (close == std::string_view::npos || !ParseHexNumber(rest.substr(0, close), 8, &type_)) {
                return Fail("malformed hex(type)");
            }
            rest.remove_prefix(close + 2);
            break;
        }
        }
        hex_.clear();
        HexText(rest);
    }

    // Collects hex text; a trailing backslash continues it on the next line.
    void HexText(std::string_view part) {
        bool more = !part.empty() && part.back() == '\\';
        if (more) part.remove_suffix(1);
        hex_.append(part);
        state_ = more ? ParseState::HexContinued : ParseState::Body;
        if (!more) HexDone();
    }

    void HexDone() {
        std::vector<BYTE> bytes;
        std::string_view s = hex_;
        while (!s.empty()) {
            size_t comma = s.find(',');
            std::string_view item = TrimRight(TrimLeft(s.substr(0, comma)));
            DWORD b = 0;
            if (!ParseHexNumber(item, 2, &b)) return Fail("malformed hex byte");
            bytes.push_back(static_cast<BYTE>(b));
            if (comma == std::string_view::npos) break;
            s.remove_prefix(comma + 1);
            if (TrimLeft(s).empty()) return Fail("hex data ends with a comma");
        }
        key_->SetValue(name_, type_, std::move(bytes));
    }

    Tree &tree_;
    ParseState state_;
    size_t line_ = 0;
    Key *key_ = nullptr;
    std::string name_;
    DWORD type_ = 0;
    std::string hex_;
    std::optional<ParseError> error_;
};

}  // namespace

std::optional<ParseError> ApplyText(std::string_view text, Tree &tree, bool withHeader) {
    return Parser(tree, withHeader).Run(text);
}

// --- Writing ----------------------------------------------------------------

namespace {

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::string NameText(std::string_view name) { return name.empty() ? "@" : Quote(name); }

// A REG_SZ that reads back byte for byte from "..." form: one terminating
// NUL and no line breaks. Anything else is written as hex(1).
bool PlainString(const Value &v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
    return std::none_of(v.data.begin(), v.data.end() - 1, [](BYTE b) { return b == 0 || b == '\r' || b == '\n'; });
}

// Hex bytes wrapped like regedit: lines under 80 columns, continued with a
// trailing backslash and two spaces of indent.
std::string HexData(std::string prefix, const std::vector<BYTE> &data) {
    std::string out = std::move(prefix);
    size_t column = out.size();
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0 && column + 3 > 77) {
            out += "\\\n  ";
            column = 2;
        }
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
        if (i + 1 < data.size()) out += ',';
        column += 3;
    }
    return out;
}

void WriteKey(const Key &key, const std::string &path, bool isRoot, std::string &out) {
    if (!isRoot || !key.values().empty()) {
        out += "[" + path + "]\n";
        for (const Value &v : key.values()) out += ValueLine(v);
        out += "\n";
    }
    for (const auto &child : key.children()) WriteKey(*child, path + "\\" + child->name(), false, out);
}

}  // namespace

std::string SectionLine(const Key &key) {
    std::string out = "[";
    return out.append(key.Path()).append("]\n");
}

std::string DeleteKeyLine(const Key &key) {
    std::string out = "[-";
    return out.append(key.Path()).append("]\n");
}

std::string DeleteValueLine(std::string_view name) { return NameText(name) + "=-\n"; }

std::string ValueLine(const Value &v) {
    std::string head = NameText(v.name) + "=";
    if (PlainString(v)) {
        return head + Quote(std::string_view(reinterpret_cast<const char *>(v.data.data()), v.data.size() - 1)) + "\n";
    }
    if (v.type == REG_DWORD && v.data.size() == 4) {
        char text[24];
        DWORD n = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<DWORD>(v.data[3]) << 24;
        std::snprintf(text, sizeof text, "dword:%08x\n", static_cast<unsigned>(n));
        return head + text;
    }
    if (v.type == REG_BINARY) return HexData(head + "hex:", v.data) + "\n";
    char tag[24];
    std::snprintf(tag, sizeof tag, "hex(%x):", static_cast<unsigned>(v.type));
    return HexData(head + tag, v.data) + "\n";
}

std::string Serialize(const Tree &tree) {
    std::string out = "REGEDIT4\n\n";
    for (const auto &root : tree.roots()) WriteKey(*root, root->name(), true, out);
    return out;
}

}  // namespace host::reg
