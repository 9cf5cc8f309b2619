// Folders and their files as Windows shows them, on the machine's folder
// drives and on FAT volumes inside images (through mtools): deletion,
// attributes, enumeration, folder removal and copies. Where the host
// differs, Windows wins: non-root folders list "." and "..", a read-only
// file is refused until its attributes are reset (also to root, whom Linux
// lets through), a folder must be empty to go, a copy keeps the source's
// attributes, and a file that another handle holds open without
// FILE_SHARE_DELETE cannot be deleted or replaced (32).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/kernel/faults.h"
#include "platform/host/kernel/handles.h"
#include "platform/host/machine/drives.h"
#include "platform/host/machine/machine.h"
#include "platform/host/text/ascii.h"
#include "platform/win.h"

namespace fs = std::filesystem;

namespace {

struct FoundEntry {
    std::string name;
    DWORD attributes;
    uint64_t size;
};

// Where a Windows path leads.
struct Place {
    DWORD error = 0;  // it leads nowhere: why
    host::Drive drive;
    fs::path file;    // on a folder drive
    std::string dos;  // on a FAT volume: the path inside it, "" for the root
    bool root = false;
    bool OnFat() const { return drive.folder.empty(); }
};

// A raw volume handle that allows no sharing holds an exclusive lock on
// its image (files.cpp): the volume's files are out of reach meanwhile.
bool HeldAlone(const fs::path &image) {
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

Place Locate(LPCSTR path) {
    Place p;
    if (!path) return p.error = ERROR_INVALID_PARAMETER, p;
    std::string text = path;
    if (text.size() >= MAX_PATH) return p.error = ERROR_FILENAME_EXCED_RANGE, p;
    if (text.size() < 2 || text[1] != ':' || !std::isalpha(static_cast<unsigned char>(text[0])) ||
        (text.size() > 2 && text[2] != '\\' && text[2] != '/')) {
        return p.error = ERROR_PATH_NOT_FOUND, p;  // drive-relative and UNC paths are not served
    }
    p.drive = host::FindDrive(static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))));
    using State = host::Drive::State;
    if (p.drive.state == State::kNoDrive || p.drive.state == State::kNoVolume) return p.error = ERROR_PATH_NOT_FOUND, p;
    if (p.drive.state == State::kNotReady) return p.error = ERROR_NOT_READY, p;
    if (p.OnFat() && HeldAlone(p.drive.fat.image)) return p.error = ERROR_SHARING_VIOLATION, p;
    std::string rest = text.substr(std::min<size_t>(text.size(), 3));
    p.root = rest.find_first_not_of("\\/") == std::string::npos;
    if (!p.OnFat()) {
        p.file = host::HostPathFor(text.size() == 2 ? text + "\\" : text);
        if (p.file.empty()) p.error = ERROR_PATH_NOT_FOUND;
        return p;
    }
    for (char &c : rest) c = c == '/' ? '\\' : c;
    rest.erase(0, rest.find_first_not_of('\\'));
    while (!rest.empty() && rest.back() == '\\') rest.pop_back();
    if (rest.find("..") != std::string::npos) return p.error = ERROR_PATH_NOT_FOUND, p;
    p.dos = rest;
    return p;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// --- Folder drives ----------------------------------------------------------

DWORD AttributesOf(const fs::path &file, const struct stat &st) {
    DWORD attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        attributes = FILE_ATTRIBUTE_REPARSE_POINT;
        if (stat(file.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
        return attributes;
    }
    attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

// ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND when its folder is missing too.
DWORD MissingError(const fs::path &file) {
    struct stat st;
    return stat(file.parent_path().c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                             : ERROR_PATH_NOT_FOUND;
}

// A handle of this or another process that forbids deletion holds a shared
// lock on the file (see files.cpp); an exclusive probe tells.
bool HeldOpen(const fs::path &file) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

DWORD DeleteOnFolder(const fs::path &file) {
    struct stat st;
    if (lstat(file.c_str(), &st) != 0) return MissingError(file);
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) return ERROR_ACCESS_DENIED;  // read-only
    if (!S_ISLNK(st.st_mode) && HeldOpen(file)) return ERROR_SHARING_VIOLATION;
    return unlink(file.c_str()) == 0 ? 0 : ERROR_ACCESS_DENIED;
}

DWORD SetAttributesOnFolder(const fs::path &file, DWORD attributes) {
    struct stat st;
    if (lstat(file.c_str(), &st) != 0) return MissingError(file);
    if (S_ISLNK(st.st_mode)) return 0;  // a link has no attributes of its own here
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
    return chmod(file.c_str(), mode) == 0 ? 0 : ERROR_ACCESS_DENIED;
}

DWORD RemoveFolderOnFolder(const fs::path &folder) {
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0) return MissingError(folder);
    if (S_ISLNK(st.st_mode)) {  // a link to a folder goes as a link; what it points to stays
        struct stat target;
        bool toFolder = stat(folder.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        if (!toFolder) return ERROR_DIRECTORY;
        return unlink(folder.c_str()) == 0 ? 0 : ERROR_ACCESS_DENIED;
    }
    if (!S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;
    if (rmdir(folder.c_str()) == 0) return 0;
    return errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ERROR_ACCESS_DENIED;
}

std::vector<FoundEntry> ListFolder(const fs::path &folder, bool root, DWORD *error) {
    std::vector<FoundEntry> entries;
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = ERROR_PATH_NOT_FOUND;
        return entries;
    }
    if (!root) entries = {{".", FILE_ATTRIBUTE_DIRECTORY, 0}, {"..", FILE_ATTRIBUTE_DIRECTORY, 0}};
    std::error_code ec;
    std::vector<FoundEntry> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat entry;
        if (lstat(it->path().c_str(), &entry) != 0) continue;
        found.push_back({it->path().filename().string(), AttributesOf(it->path(), entry),
                         S_ISREG(entry.st_mode) ? static_cast<uint64_t>(entry.st_size) : 0});
    }
    std::sort(found.begin(), found.end(), [](const FoundEntry &a, const FoundEntry &b) {
        return host::AsciiLower(a.name) < host::AsciiLower(b.name);
    });
    entries.insert(entries.end(), found.begin(), found.end());
    return entries;
}

// Copies with the kernel's own paths (copy_file_range, which may share
// blocks), falling back to reads and writes across file systems.
bool CopyData(int from, int to) {
    for (;;) {
        ssize_t n = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (n == 0) return true;
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
        break;
    }
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

DWORD CopyBetweenFolders(const fs::path &source, const fs::path &target, bool failIfExists) {
    struct stat from, to;
    if (stat(source.c_str(), &from) != 0) return MissingError(source);
    if (S_ISDIR(from.st_mode)) return ERROR_ACCESS_DENIED;
    if (stat(target.c_str(), &to) == 0) {
        if (failIfExists) return ERROR_FILE_EXISTS;
        if (S_ISDIR(to.st_mode) || !(to.st_mode & S_IWUSR)) return ERROR_ACCESS_DENIED;
        if (HeldOpen(target)) return ERROR_SHARING_VIOLATION;
    } else if (MissingError(target) == ERROR_PATH_NOT_FOUND) {
        return ERROR_PATH_NOT_FOUND;
    }
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return ERROR_ACCESS_DENIED;
    int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        close(in);
        return ERROR_ACCESS_DENIED;
    }
    bool ok = CopyData(in, out);
    int copyErrno = errno;
    ok = fchmod(out, from.st_mode & 07777) == 0 && ok;  // the source's attributes, read-only included
    ok = close(out) == 0 && ok;
    close(in);
    if (ok) return 0;
    return copyErrno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
}

// --- FAT volumes ---------------------------------------------------------------

std::string Parent(const std::string &dos) {
    size_t slash = dos.find_last_of('\\');
    return slash == std::string::npos ? "" : dos.substr(0, slash);
}

std::string Leaf(const std::string &dos) { return dos.substr(dos.find_last_of('\\') + 1); }

// The entry `dos` names in its volume, if any.
std::optional<host::fat::Entry> FatEntry(const host::fat::Volume &volume, const std::string &dos) {
    auto entries = host::fat::List(volume, Parent(dos));
    if (!entries) return std::nullopt;
    for (const host::fat::Entry &e : *entries) {
        if (host::EqualsIgnoringCase(e.name, Leaf(dos))) return e;
    }
    return std::nullopt;
}

DWORD FatMissingError(const host::fat::Volume &volume, const std::string &dos) {
    return host::fat::List(volume, Parent(dos)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD DeleteOnFat(const Place &p) {
    auto entry = FatEntry(p.drive.fat, p.dos);
    if (!entry) return FatMissingError(p.drive.fat, p.dos);
    if (entry->directory || entry->readOnly) return ERROR_ACCESS_DENIED;
    return host::fat::Delete(p.drive.fat, p.dos) ? 0 : ERROR_ACCESS_DENIED;
}

DWORD SetAttributesOnFat(const Place &p, DWORD attributes) {
    if (!FatEntry(p.drive.fat, p.dos)) return FatMissingError(p.drive.fat, p.dos);
    return host::fat::SetReadOnly(p.drive.fat, p.dos, (attributes & FILE_ATTRIBUTE_READONLY) != 0)
               ? 0
               : ERROR_ACCESS_DENIED;
}

DWORD RemoveFolderOnFat(const Place &p) {
    auto entry = FatEntry(p.drive.fat, p.dos);
    if (!entry) return FatMissingError(p.drive.fat, p.dos);
    if (!entry->directory) return ERROR_DIRECTORY;
    auto inside = host::fat::List(p.drive.fat, p.dos);
    if (inside && !inside->empty()) return ERROR_DIR_NOT_EMPTY;
    return host::fat::RemoveDir(p.drive.fat, p.dos) ? 0 : ERROR_ACCESS_DENIED;
}

std::vector<FoundEntry> ListFat(const Place &p, DWORD *error) {
    std::vector<FoundEntry> entries;
    auto found = host::fat::List(p.drive.fat, p.dos);
    if (!found) {
        *error = ERROR_PATH_NOT_FOUND;
        return entries;
    }
    if (!p.root) entries = {{".", FILE_ATTRIBUTE_DIRECTORY, 0}, {"..", FILE_ATTRIBUTE_DIRECTORY, 0}};
    for (const host::fat::Entry &e : *found) {
        DWORD attributes = e.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        if (e.readOnly) attributes |= FILE_ATTRIBUTE_READONLY;
        entries.push_back({e.name, attributes, 0});
    }
    return entries;
}

// A copy that touches a FAT volume goes through a host file beside the
// machine's files, so both directions share one path.
DWORD CopyWithFat(const Place &from, const Place &to, bool failIfExists) {
    fs::path scratch = host::MachineDir() / ".copy-scratch";
    DWORD error = 0;
    if (from.OnFat()) {
        auto entry = FatEntry(from.drive.fat, from.dos);
        if (!entry) return FatMissingError(from.drive.fat, from.dos);
        if (entry->directory) return ERROR_ACCESS_DENIED;
        if (!host::fat::CopyOut(from.drive.fat, from.dos, scratch)) return ERROR_ACCESS_DENIED;
        if (entry->readOnly) chmod(scratch.c_str(), 0444);  // carried on to the copy
    }
    const fs::path source = from.OnFat() ? scratch : from.file;
    if (!to.OnFat()) {
        error = CopyBetweenFolders(source, to.file, failIfExists);
    } else if (auto readOnly = host::fat::ReadOnlyOf(to.drive.fat, to.dos)) {
        error = failIfExists ? ERROR_FILE_EXISTS : *readOnly ? ERROR_ACCESS_DENIED : 0;
    }
    struct stat st;
    if (!error && to.OnFat()) {
        if (stat(source.c_str(), &st) != 0) {
            error = MissingError(source);
        } else if (!host::fat::CopyIn(to.drive.fat, source, to.dos)) {
            // mcopy fails when the target's folder is missing, which is what usually went wrong.
            error = host::fat::List(to.drive.fat, Parent(to.dos)) ? ERROR_WRITE_FAULT : ERROR_PATH_NOT_FOUND;
        } else if (!(st.st_mode & S_IWUSR)) {
            host::fat::SetReadOnly(to.drive.fat, to.dos, true);
        }
    }
    std::error_code ec;
    fs::remove(scratch, ec);
    return error;
}

struct FindObject : host::HandleObject {
    std::vector<FoundEntry> entries;
    size_t next = 0;
};

// "*.*" and "*" match everything, as on Windows; otherwise '*' and '?' as
// usual, without regard to case.
bool Matches(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*" || pattern == "*") return true;
    if (pattern.empty()) return name.empty();
    if (pattern[0] == '*') return Matches(pattern.substr(1), name) || (!name.empty() && Matches(pattern, name.substr(1)));
    if (name.empty()) return false;
    bool same = pattern[0] == '?' || std::tolower(static_cast<unsigned char>(pattern[0])) ==
                                         std::tolower(static_cast<unsigned char>(name[0]));
    return same && Matches(pattern.substr(1), name.substr(1));
}

void Fill(const FoundEntry &e, LPWIN32_FIND_DATAA data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = e.attributes;
    data->nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(e.size);
    std::strncpy(data->cFileName, e.name.c_str(), MAX_PATH - 1);
}

}  // namespace

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    HOST_API(FALSE)
    Place p = Locate(lpFileName);
    if (p.error) return Fail(p.error);
    if (p.drive.writeProtected) return Fail(ERROR_WRITE_PROTECT);
    DWORD error = p.OnFat() ? DeleteOnFat(p) : DeleteOnFolder(p.file);
    return error ? Fail(error) : TRUE;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    HOST_API(FALSE)
    Place p = Locate(lpFileName);
    if (p.error) return Fail(p.error);
    if (p.drive.writeProtected) return Fail(ERROR_WRITE_PROTECT);
    DWORD error = p.OnFat() ? SetAttributesOnFat(p, dwFileAttributes) : SetAttributesOnFolder(p.file, dwFileAttributes);
    return error ? Fail(error) : TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    HOST_API(FALSE)
    Place p = Locate(lpPathName);
    if (p.error) return Fail(p.error);
    if (p.root) return Fail(ERROR_ACCESS_DENIED);
    if (p.drive.writeProtected) return Fail(ERROR_WRITE_PROTECT);
    DWORD error = p.OnFat() ? RemoveFolderOnFat(p) : RemoveFolderOnFolder(p.file);
    return error ? Fail(error) : TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    HOST_API(FALSE)
    Place p = Locate(lpPathName);
    if (p.error) return Fail(p.error);
    if (p.root) return Fail(ERROR_ALREADY_EXISTS);
    if (p.drive.writeProtected) return Fail(ERROR_WRITE_PROTECT);
    if (p.OnFat()) {
        if (FatEntry(p.drive.fat, p.dos)) return Fail(ERROR_ALREADY_EXISTS);
        if (!host::fat::List(p.drive.fat, Parent(p.dos))) return Fail(ERROR_PATH_NOT_FOUND);
        return host::fat::MakeDir(p.drive.fat, p.dos) ? TRUE : Fail(ERROR_ACCESS_DENIED);
    }
    if (mkdir(p.file.c_str(), 0755) == 0) return TRUE;
    return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    HOST_API(INVALID_HANDLE_VALUE)
    if (!lpFindFileData) return SetLastError(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    std::string path = lpFileName ? lpFileName : "";
    size_t slash = path.find_last_of("\\/");
    if (!lpFileName || slash == std::string::npos) return SetLastError(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    std::string pattern = path.substr(slash + 1);
    Place folder = Locate(path.substr(0, slash).size() == 2 ? path.substr(0, slash + 1).c_str()
                                                            : path.substr(0, slash).c_str());
    if (folder.error) return SetLastError(folder.error), INVALID_HANDLE_VALUE;
    DWORD error = 0;
    auto object = std::make_shared<FindObject>();
    for (FoundEntry &e : folder.OnFat() ? ListFat(folder, &error) : ListFolder(folder.file, folder.root, &error)) {
        if (Matches(pattern, e.name)) object->entries.push_back(std::move(e));
    }
    if (!error && object->entries.empty()) error = ERROR_FILE_NOT_FOUND;
    if (error) return SetLastError(error), INVALID_HANDLE_VALUE;
    Fill(object->entries[object->next++], lpFindFileData);
    return host::AddHandle(object);
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    HOST_API(FALSE)
    auto object = host::FindHandleAs<FindObject>(hFindFile);
    if (!object || !lpFindFileData) return Fail(ERROR_INVALID_HANDLE);
    if (object->next >= object->entries.size()) return Fail(ERROR_NO_MORE_FILES);
    Fill(object->entries[object->next++], lpFindFileData);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    host::fault::ApiScope hostApiScope_(__func__);
    // As CloseHandle: an injected failure still closes the search.
    bool bClosed = host::FindHandleAs<FindObject>(hFindFile) && host::RemoveHandle(hFindFile);
    if (DWORD nFault = hostApiScope_.Fault()) return Fail(nFault);
    return bClosed ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    HOST_API(FALSE)
    Place from = Locate(lpExistingFileName), to = Locate(lpNewFileName);
    if (from.error) return Fail(from.error);
    if (to.error) return Fail(to.error);
    if (to.drive.writeProtected) return Fail(ERROR_WRITE_PROTECT);
    DWORD error = from.OnFat() || to.OnFat() ? CopyWithFat(from, to, bFailIfExists)
                                             : CopyBetweenFolders(from.file, to.file, bFailIfExists);
    return error ? Fail(error) : TRUE;
}
