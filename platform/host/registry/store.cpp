// The registry store: the machine's registry kept in files that several
// processes share (the update program, its worker thread, an installer,
// the zav-machine tool).
//
// Files in the machine folder:
//   registry.reg        the registry in REGEDIT4 text as of the last compaction.
//   registry.reg.log    the journal: every change made since, in order, in the
//                       same syntax ("[KEY]", "[-KEY]", "\"v\"=...", "\"v\"=-"),
//                       one record per change, each ending with a blank line.
//                       Its header "REGEDIT4" / "; base <hash>-<size>" names the
//                       registry.reg content it continues; a last record
//                       "; folded into <hash>-<size>" names the registry.reg
//                       that took it in. It lives only while a process works:
//                       each process folds it in before it ends.
//   registry.lock       flock: exclusive for writers, shared for readers that
//                       have to read the files.
//   registry.protected  one a line: a full key path, a key that may not be
//                       deleted and whose values may not change; or
//                       KEY\"NAME", a value that may not be changed or
//                       deleted (nor may its key be deleted).
//
// Why a journal: every change has to be in the files before its call returns
// (another process reads them next), but rewriting a registry of 100,000 keys
// once per key of a removed tree would be ruinous. So a change is appended to
// the journal (write, fdatasync) and the journal is folded into registry.reg
// once it outgrows a quarter of it, which keeps rewrites amortized to a
// constant factor of the bytes changed. A registry under 64 KiB costs about
// as much to rewrite as to journal, so it is simply rewritten on every
// change. Either way registry.reg holds everything once a process is done
// with the registry (host::RegistryFinish folds the journal in at exit, one
// rewrite), so people and tools may edit it by hand between runs; only a
// crash leaves a journal behind, which the next process takes up.
//
// Soundness:
// - Rewrites (compaction, a new journal) go to a new file in the same folder,
//   fsync'd, renamed over the old one, then the folder is fsync'd: a crash
//   leaves the old file or the new one, never a torn one.
// - A journal continues one particular registry.reg content (its hash and size
//   in the header). Before a compaction renames the new registry.reg into
//   place, the journal is marked with that file's stamp, so a journal left
//   behind by a crash between the rename and its removal is known as folded
//   and never applied twice. A journal that continues neither the file there
//   nor names it as folded (registry.reg was edited or replaced meanwhile) is
//   refused with the registry (ERROR_BADDB), never silently dropped.
// - A record counts once it is complete (its blank line is there). A writer
//   killed halfway leaves a torn tail that readers skip and the next writer
//   compacts away.
// - Writers work under the exclusive lock and re-read whatever changed before
//   applying their change, so concurrent writers never lose each other's work.
// - Readers keep the parsed tree and reuse it while registry.reg and the
//   journal keep their device, inode, size and mtime. Both files are kept open
//   so that their inode numbers cannot be reused by a later file. When only the
//   journal grew, just the new records are read.
// - A file that does not parse is refused (ERROR_BADDB), reported once on
//   standard error, and never written.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "platform/host/machine/atomic_file.h"
#include "platform/host/machine/machine.h"
#include "platform/host/registry/internal.h"

namespace fs = std::filesystem;

namespace host::reg {

bool FileId::operator==(const FileId &o) const {
    if (exists != o.exists) return false;
    return !exists || (dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
                       mtime.tv_nsec == o.mtime.tv_nsec);
}

namespace {

// Below this size registry.reg is rewritten on every change.
constexpr off_t kJournalFrom = 64 * 1024;

constexpr const char *kBaseFile = "registry.reg";
constexpr const char *kLogFile = "registry.reg.log";
constexpr const char *kLockFile = "registry.lock";
constexpr const char *kProtectedFile = "registry.protected";

FileId IdOf(const struct stat &st) {
    FileId id;
    id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtime = st.st_mtim;
    return id;
}

FileId StatPath(const fs::path &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? IdOf(st) : FileId{};
}

FileId StatFd(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? IdOf(st) : FileId{};
}

void CloseFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool ReadFrom(int fd, off_t from, std::string *out) {
    out->clear();
    char buf[65536];
    for (;;) {
        ssize_t n = pread(fd, buf, sizeof buf, from);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out->append(buf, static_cast<size_t>(n));
        from += n;
    }
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool SyncDir(const fs::path &dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

bool ReplaceFile(const fs::path &path, std::string_view data) { return ReplaceFileAtomically(path, data) == 0; }

constexpr std::string_view kFoldedMark = "; folded into ";

}  // namespace

// FNV-1a of the content and its size: what a journal header names.
std::string ContentStamp(std::string_view bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    char text[48];
    std::snprintf(text, sizeof text, "%016llx-%zu", static_cast<unsigned long long>(h), bytes.size());
    return text;
}

namespace {

// Length of the complete records at the start of `text`: up to and
// including the last blank line.
size_t CompleteLength(std::string_view text) {
    size_t end = text.rfind("\n\n");
    return end == std::string_view::npos ? 0 : end + 2;
}

std::string TrimLine(std::string s) {
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r\\");
    return b == std::string::npos || e < b ? "" : s.substr(b, e - b + 1);
}

}  // namespace

Store::~Store() {
    CloseFd(baseFd_);
    CloseFd(logFd_);
    CloseFd(lockFd_);
}

void Store::Reset(const fs::path &dir) {
    dir_ = dir;
    protectedId_ = FileId{};
    protectedKeys_.clear();
    protectedValues_.clear();
    ForgetFiles();
}

void Store::ForgetFiles() {
    CloseFd(baseFd_);
    CloseFd(logFd_);
    tree_ = std::make_unique<Tree>();
    loaded_ = bad_ = false;
    baseId_ = logId_ = FileId{};
    baseStamp_.clear();
    journal_ = Journal::None;
    logEnd_ = 0;
}

void Store::Drop() { loaded_ = false; }

bool Store::Fresh() const {
    return loaded_ && StatPath(File(kBaseFile)) == baseId_ && StatPath(File(kLogFile)) == logId_;
}

LONG Store::Read() {
    fs::path dir = MachineDir();
    if (dir.empty()) return ERROR_FILE_NOT_FOUND;
    if (dir != dir_) Reset(dir);
    if (Fresh()) return bad_ ? ERROR_BADDB : ERROR_SUCCESS;
    if (lockFd_ >= 0) return Load();
    // A shared lock so that a compaction cannot pass between reading
    // registry.reg and reading its journal.
    int fd = open(File(kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) fd = open(File(kLockFile).c_str(), O_RDONLY | O_CLOEXEC);
    while (fd >= 0 && flock(fd, LOCK_SH) != 0 && errno == EINTR) {
    }
    LONG rc = Load();
    CloseFd(fd);
    return rc;
}

LONG Store::BeginWrite() {
    fs::path dir = MachineDir();
    if (dir.empty()) return ERROR_FILE_NOT_FOUND;
    if (dir != dir_) Reset(dir);
    lockFd_ = open(File(kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd_ < 0) return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    while (flock(lockFd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        CloseFd(lockFd_);
        return ERROR_ACCESS_DENIED;
    }
    LoadProtected();
    return Load();
}

void Store::EndWrite() { CloseFd(lockFd_); }

LONG Store::Load() {
    if (!loaded_) return LoadAll();
    if (!(StatPath(File(kBaseFile)) == baseId_)) return LoadAll();
    FileId log = StatPath(File(kLogFile));
    if (log == logId_) return bad_ ? ERROR_BADDB : ERROR_SUCCESS;
    bool grew = !bad_ && journal_ == Journal::Valid && log.exists && log.dev == logId_.dev &&
                log.ino == logId_.ino && log.size >= logEnd_;
    return grew ? LoadTail(log) : LoadAll();
}

LONG Store::LoadAll() {
    ForgetFiles();
    auto tree = std::make_unique<Tree>();
    baseFd_ = open(File(kBaseFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (baseFd_ < 0 && errno != ENOENT) return ERROR_ACCESS_DENIED;
    if (baseFd_ < 0) {
        // No registry.reg yet: an empty registry. A journal only ever
        // continues an existing file.
        logId_ = StatPath(File(kLogFile));
        if (logId_.exists) return Refuse(kLogFile, {0, "it continues a registry.reg that is missing"});
        journal_ = Journal::None;
        loaded_ = true;
        return ERROR_SUCCESS;
    }
    baseId_ = StatFd(baseFd_);
    std::string text;
    if (!ReadFrom(baseFd_, 0, &text)) return ERROR_ACCESS_DENIED;
    if (auto err = ApplyText(text, *tree, true)) return Refuse(kBaseFile, *err);
    baseStamp_ = ContentStamp(text);

    logFd_ = open(File(kLogFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (logFd_ >= 0) {
        logId_ = StatFd(logFd_);
        if (!ReadFrom(logFd_, 0, &text)) return ERROR_ACCESS_DENIED;
        std::string header = JournalHeader();
        if (text.compare(0, header.size(), header) == 0) {
            size_t n = CompleteLength(std::string_view(text).substr(header.size()));
            if (auto err = ApplyText(std::string_view(text).substr(header.size(), n), *tree, false)) {
                return Refuse(kLogFile, *err);
            }
            logEnd_ = static_cast<off_t>(header.size() + n);
            journal_ = logEnd_ == static_cast<off_t>(text.size()) ? Journal::Valid : Journal::Torn;
        } else if (text.find("\n" + std::string(kFoldedMark) + baseStamp_ + "\n") != std::string::npos) {
            journal_ = Journal::Stale;  // a crash came after it was folded into this very file
        } else {
            return Refuse(kLogFile, {0, "it continues another registry.reg than the one there (edited or "
                                        "replaced since?); remove it or restore that file"});
        }
    }
    tree_ = std::move(tree);
    loaded_ = true;
    return ERROR_SUCCESS;
}

LONG Store::LoadTail(const FileId &log) {
    std::string tail;
    if (!ReadFrom(logFd_, logEnd_, &tail)) return ERROR_ACCESS_DENIED;
    size_t n = CompleteLength(tail);
    if (auto err = ApplyText(std::string_view(tail).substr(0, n), *tree_, false)) return Refuse(kLogFile, *err);
    logEnd_ += static_cast<off_t>(n);
    logId_ = StatFd(logFd_);
    if (!logId_.exists) logId_ = log;
    journal_ = logEnd_ == logId_.size ? Journal::Valid : Journal::Torn;
    return ERROR_SUCCESS;
}

LONG Store::Refuse(const std::string &file, const ParseError &err) {
    tree_ = std::make_unique<Tree>();
    if (!logId_.exists) logId_ = StatPath(File(kLogFile));
    loaded_ = bad_ = true;
    // Report each bad file once, not on every call that meets it.
    FileId bad = file == kBaseFile ? baseId_ : logId_;
    if (!(bad == reported_)) {
        reported_ = bad;
        std::string where = File(file.c_str()).string();
        if (err.line) where += " line " + std::to_string(err.line);
        std::fprintf(stderr, "zav: %s: %s; the registry is refused (error 1009)\n", where.c_str(), err.what.c_str());
    }
    return ERROR_BADDB;
}

std::string Store::JournalHeader() const { return "REGEDIT4\n; base " + baseStamp_ + "\n\n"; }

LONG Store::Commit(const std::string &record) {
    LONG rc;
    if (!baseId_.exists || journal_ == Journal::Torn) {
        rc = Compact();
    } else if (journal_ != Journal::Valid) {
        rc = baseId_.size < kJournalFrom ? Compact() : StartJournal(record);
    } else if (logEnd_ + static_cast<off_t>(record.size()) > std::max(kJournalFrom, baseId_.size) / 4) {
        rc = Compact();
    } else {
        rc = Append(record);
    }
    if (rc != ERROR_SUCCESS) Drop();
    return rc;
}

LONG Store::Append(const std::string &record) {
    int fd = open(File(kLogFile).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return ERROR_WRITE_FAULT;
    FileId now = StatFd(fd);
    if (now.dev != logId_.dev || now.ino != logId_.ino || now.size != logEnd_) {
        // Not the journal we read: start over from what we hold.
        close(fd);
        return Compact();
    }
    if (!WriteAll(fd, record) || fdatasync(fd) != 0) {
        if (ftruncate(fd, logEnd_) != 0) journal_ = Journal::Torn;
        close(fd);
        return ERROR_WRITE_FAULT;
    }
    logId_ = StatFd(fd);
    close(fd);
    logEnd_ += static_cast<off_t>(record.size());
    return ERROR_SUCCESS;
}

LONG Store::StartJournal(const std::string &record) {
    std::string text = JournalHeader() + record;
    if (!ReplaceFile(File(kLogFile), text)) return ERROR_WRITE_FAULT;
    CloseFd(logFd_);
    logFd_ = open(File(kLogFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (logFd_ < 0) return ERROR_WRITE_FAULT;
    logId_ = StatFd(logFd_);
    logEnd_ = static_cast<off_t>(text.size());
    journal_ = Journal::Valid;
    return ERROR_SUCCESS;
}

LONG Store::Compact() {
    std::string text = Serialize(*tree_);
    if (JournalPending()) MarkFolded(ContentStamp(text));
    if (!ReplaceFile(File(kBaseFile), text)) return ERROR_WRITE_FAULT;
    // The journal is folded in now. Should removing it fail or a crash come
    // first, it names the old content and is ignored from here on.
    if (unlink(File(kLogFile).c_str()) == 0) SyncDir(dir_);
    CloseFd(baseFd_);
    CloseFd(logFd_);
    baseFd_ = open(File(kBaseFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (baseFd_ < 0) return ERROR_WRITE_FAULT;
    baseId_ = StatFd(baseFd_);
    baseStamp_ = ContentStamp(text);
    logId_ = StatPath(File(kLogFile));
    journal_ = logId_.exists ? Journal::Stale : Journal::None;
    logEnd_ = 0;
    return ERROR_SUCCESS;
}

// Best effort: should the mark not get there, a journal left by a crash
// right after the rename is refused rather than applied twice.
void Store::MarkFolded(const std::string &stamp) {
    int fd = open(File(kLogFile).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return;
    if (WriteAll(fd, "\n" + std::string(kFoldedMark) + stamp + "\n\n")) fdatasync(fd);
    close(fd);
}

LONG Store::Finish() {
    if (JournalPending()) return Compact();
    if (journal_ == Journal::Stale && unlink(File(kLogFile).c_str()) == 0) {
        SyncDir(dir_);
        journal_ = Journal::None;
        logId_ = FileId{};
    }
    return ERROR_SUCCESS;
}

void Store::LoadProtected() {
    fs::path path = File(kProtectedFile);
    FileId id = StatPath(path);
    if (id == protectedId_) return;
    protectedId_ = id;
    protectedKeys_.clear();
    protectedValues_.clear();
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        line = Fold(TrimLine(line));
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        bool value = line.back() == '"' && line.find("\\\"") != std::string::npos;
        (value ? protectedValues_ : protectedKeys_).insert(line);
    }
}

bool Store::ValueLocked(std::string_view keyPath, std::string_view name) const {
    std::string key = Fold(keyPath);
    return protectedKeys_.count(key) != 0 || protectedValues_.count(key + "\\\"" + Fold(name) + "\"") != 0;
}

bool Store::KeyLocked(std::string_view keyPath, bool subtree) const {
    std::string key = Fold(keyPath);
    auto below = [&](const std::string &p, size_t end) {
        if (end == key.size()) return p.compare(0, end, key) == 0;
        return subtree && end > key.size() && p.compare(0, key.size(), key) == 0 && p[key.size()] == '\\';
    };
    for (const std::string &p : protectedKeys_) {
        if (below(p, p.size())) return true;
    }
    for (const std::string &p : protectedValues_) {
        if (below(p, p.find("\\\""))) return true;
    }
    return false;
}

FILETIME Store::Stamp() const {
    // 100 ns units since 1601; registry.reg's mtime stands for every key.
    uint64_t t = (static_cast<uint64_t>(baseId_.mtime.tv_sec) + 11644473600ull) * 10000000ull +
                 static_cast<uint64_t>(baseId_.mtime.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

}  // namespace host::reg
