// Internals of the host registry shared by registry*.cpp: the key tree, its
// REGEDIT4 text form, and the store that keeps it in the machine's files.
// Not for logic code or tools (they use the Reg* API and registry_store.h).
#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/host/win_types.h"

namespace host::reg {

// Names compare without regard to ASCII case; this is the folded form.
std::string Fold(std::string_view s);

// Splits "A\B\C" at backslashes; empty parts are kept so callers can refuse them.
std::vector<std::string_view> SplitKeyPath(std::string_view path);

struct Value {
    std::string name;  // "" is the default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

class Key {
public:
    Key(std::string name, Key *parent) : name_(std::move(name)), parent_(parent) {}
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    const std::string &name() const { return name_; }
    Key *parent() const { return parent_; }
    // Full path from the root key, in the case the keys were created with.
    std::string Path() const;

    // Subkeys in the order they were created (a loaded file keeps its order).
    const std::vector<std::unique_ptr<Key>> &children() const { return children_; }
    Key *Child(std::string_view name) const;
    // The existing subkey of that name, or a new one appended at the end.
    Key *AddChild(std::string_view name, bool *created = nullptr);
    bool RemoveChild(std::string_view name);

    // Values in the order they were first set.
    const std::vector<Value> &values() const { return values_; }
    const Value *FindValue(std::string_view name) const;
    // Replaces the data of an existing value in place, or appends a new one.
    const Value &SetValue(std::string_view name, DWORD type, std::vector<BYTE> data);
    bool DeleteValue(std::string_view name);

private:
    std::string name_;
    Key *parent_;
    std::vector<std::unique_ptr<Key>> children_;
    std::unordered_map<std::string, Key *> index_;  // folded name -> child
    std::vector<Value> values_;
};

// The whole registry: the predefined roots and everything below them.
class Tree {
public:
    Tree();
    // A root by its full name ("HKEY_LOCAL_MACHINE"), or null.
    Key *Root(std::string_view name) const;
    const std::vector<std::unique_ptr<Key>> &roots() const { return top_.children(); }
    // The key at a full path ("HKEY_LOCAL_MACHINE\Software"), or null.
    Key *Find(std::string_view path) const;
    // Creates the key and any missing parents; null for a path with no known
    // root or an empty part.
    Key *Create(std::string_view path);
    // Removes a key and its subtree; roots cannot be removed.
    bool Remove(Key *key);

private:
    Key top_{"", nullptr};
};

struct ParseError {
    size_t line = 0;
    std::string what;
};

// Applies REGEDIT4 text to `tree`: sections create keys, "[-KEY]" removes a
// subtree, value lines set values and "name"=- removes one. With
// `withHeader` the text must begin with the REGEDIT4 line (a registry file);
// without it the text is journal records.
std::optional<ParseError> ApplyText(std::string_view text, Tree &tree, bool withHeader);

// The whole tree as a REGEDIT4 file.
std::string Serialize(const Tree &tree);

// Hash and size of a registry.reg content, as a journal names it.
std::string ContentStamp(std::string_view bytes);

// Lines of one change, in the same syntax (each ends with "\n").
std::string SectionLine(const Key &key);
std::string DeleteKeyLine(const Key &key);
std::string ValueLine(const Value &value);
std::string DeleteValueLine(std::string_view name);

// Identity of a file as far as change detection needs it.
struct FileId {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    bool operator==(const FileId &o) const;
};

// The registry of the current machine (MachineDir()) as kept in its files.
// Not thread-safe: registry.cpp serializes every call with its own mutex.
class Store {
    // The journal beside registry.reg: none, one that continues it (Valid,
    // or Torn when a writer was killed halfway through a record), or one a
    // crash left after it was folded in (Stale).
    enum class Journal { None, Valid, Stale, Torn };

public:
    Store() = default;
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Brings the tree up to date for reading. Returns ERROR_SUCCESS,
    // ERROR_FILE_NOT_FOUND (no machine) or ERROR_BADDB.
    LONG Read();
    // Takes the machine's registry lock and brings the tree up to date; the
    // lock is held until EndWrite(). Same results as Read(), or an I/O error.
    LONG BeginWrite();
    // Makes one change, already applied to tree(), durable and visible to
    // other processes. On failure the cached tree is dropped so that the
    // change is not seen in this process either.
    LONG Commit(const std::string &record);
    void EndWrite();
    // Folds the journal into registry.reg (inside BeginWrite/EndWrite).
    LONG Compact();
    // What a process does with the registry before it ends (inside
    // BeginWrite/EndWrite): a pending journal is folded in, one left
    // folded by a crash is removed.
    LONG Finish();
    // This process's changes went to a journal not yet folded in.
    bool JournalPending() const { return journal_ == Journal::Valid || journal_ == Journal::Torn; }

    Tree &tree() { return *tree_; }
    // A value that may not be set or deleted: in a protected key, or named
    // by registry.protected itself.
    bool ValueLocked(std::string_view keyPath, std::string_view name) const;
    // A key that may not be deleted: protected, or holding a protected
    // value; with `subtree`, the same for any key below it.
    bool KeyLocked(std::string_view keyPath, bool subtree) const;
    FILETIME Stamp() const;

private:
    bool Fresh() const;
    LONG Load();
    LONG LoadAll();
    LONG LoadTail(const FileId &log);
    LONG Refuse(const std::string &file, const ParseError &err);
    void LoadProtected();
    void Reset(const std::filesystem::path &dir);
    void ForgetFiles();
    void Drop();
    LONG Append(const std::string &record);
    LONG StartJournal(const std::string &record);
    void MarkFolded(const std::string &stamp);
    std::string JournalHeader() const;
    std::filesystem::path File(const char *name) const { return dir_ / name; }


    std::filesystem::path dir_;
    std::unique_ptr<Tree> tree_ = std::make_unique<Tree>();
    bool loaded_ = false;
    bool bad_ = false;
    FileId reported_;  // the bad file already reported on stderr
    int baseFd_ = -1;  // kept open so that the inode number cannot be reused
    FileId baseId_;
    std::string baseStamp_;  // hash and size of registry.reg, named in the journal header
    int logFd_ = -1;
    FileId logId_;
    off_t logEnd_ = 0;  // end of the last complete journal record
    Journal journal_ = Journal::None;
    FileId protectedId_;
    std::set<std::string> protectedKeys_;    // folded full key paths
    std::set<std::string> protectedValues_;  // folded "KEY\"NAME\"" lines
    int lockFd_ = -1;
};

}  // namespace host::reg
