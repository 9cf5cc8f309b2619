// Files of the machine's folder drives (with their attributes), its first hard disk as the raw
// device "\\.\PhysicalDrive0" and its diskette drives as raw volumes
// ("\\.\A:"): all are handles with a file pointer that ReadFile and
// WriteFile move. The raw devices follow the disk driver's rules (whole
// sectors, only within the disk, never grown).
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/host/kernel/faults.h"
#include "platform/host/machine/disk_image.h"
#include "platform/host/kernel/handles.h"
#include "platform/host/machine/machine.h"
#include "platform/host/machine/disks.h"
#include "platform/host/machine/drives.h"
#include "platform/win.h"

namespace {

namespace disk = host::disk;

struct FileObject : host::HandleObject {
    std::mutex mutex;  // guards pos: a worker thread may share the handle
    uint64_t pos = 0;
    bool canRead = false, canWrite = false;

    // Each returns 0 or a Windows error; *done is what was transferred.
    virtual DWORD ReadAt(uint64_t offset, void *buffer, DWORD bytes, DWORD *done) = 0;
    virtual DWORD WriteAt(uint64_t offset, const void *buffer, DWORD bytes, DWORD *done) = 0;
    virtual uint64_t Size() = 0;
};

struct RawDisk : FileObject {
    disk::Image image;

    DWORD ReadAt(uint64_t offset, void *buffer, DWORD bytes, DWORD *done) override {
        DWORD error = image.Read(offset, buffer, bytes);
        *done = error ? 0 : bytes;
        return error;
    }
    DWORD WriteAt(uint64_t offset, const void *buffer, DWORD bytes, DWORD *done) override {
        DWORD error = image.Write(offset, buffer, bytes);
        *done = error ? 0 : bytes;
        return error;
    }
    uint64_t Size() override { return image.Bytes(); }
};

// A diskette drive's raw volume. It opens without a diskette too, as on
// Windows; its transfers then fail as not ready. Its lock on the image is
// what the file calls of every process probe for (file_tree.cpp).
struct RawDiskette : RawDisk {
    bool present = false;
    int lockFd = -1;
    ~RawDiskette() override {
        if (lockFd >= 0) close(lockFd);
    }
    DWORD ReadAt(uint64_t offset, void *buffer, DWORD bytes, DWORD *done) override {
        return present ? RawDisk::ReadAt(offset, buffer, bytes, done) : ERROR_NOT_READY;
    }
    DWORD WriteAt(uint64_t offset, const void *buffer, DWORD bytes, DWORD *done) override {
        return present ? RawDisk::WriteAt(offset, buffer, bytes, done) : ERROR_NOT_READY;
    }
    uint64_t Size() override { return present ? RawDisk::Size() : 0; }
};

struct RegularFile : FileObject {
    int fd = -1;
    ~RegularFile() override {
        if (fd >= 0) close(fd);
    }

    // A read past the end is no error: it transfers what is there.
    DWORD ReadAt(uint64_t offset, void *buffer, DWORD bytes, DWORD *done) override {
        auto *p = static_cast<char *>(buffer);
        while (*done < bytes) {
            ssize_t n = pread(fd, p + *done, bytes - *done, static_cast<off_t>(offset + *done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return ERROR_READ_FAULT;
            if (n == 0) break;
            *done += static_cast<DWORD>(n);
        }
        return 0;
    }
    DWORD WriteAt(uint64_t offset, const void *buffer, DWORD bytes, DWORD *done) override {
        auto *p = static_cast<const char *>(buffer);
        while (*done < bytes) {
            ssize_t n = pwrite(fd, p + *done, bytes - *done, static_cast<off_t>(offset + *done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
            *done += static_cast<DWORD>(n);
        }
        return 0;
    }
    uint64_t Size() override {
        struct stat st;
        return fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
};

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

HANDLE Opened(std::shared_ptr<FileObject> object, DWORD access, DWORD lastError) {
    object->canRead = (access & GENERIC_READ) != 0;
    object->canWrite = (access & GENERIC_WRITE) != 0;
    SetLastError(lastError);
    return host::AddHandle(std::move(object));
}

// "\\.\X:" of a removable image drive: shared, or held alone when no
// sharing is allowed; another holder makes the open fail with 32.
HANDLE OpenDisketteVolume(char letter, DWORD access, DWORD share) {
    host::Drive drive = host::FindDrive(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
    using State = host::Drive::State;
    if (drive.kind != DRIVE_REMOVABLE || drive.fat.image.empty() || drive.state == State::kNoDrive)
        return Fail(ERROR_FILE_NOT_FOUND);
    auto object = std::make_shared<RawDiskette>();
    if (drive.state == State::kReady) {
        object->lockFd = open(drive.fat.image.c_str(), O_RDONLY | O_CLOEXEC);
        int how = share & (FILE_SHARE_READ | FILE_SHARE_WRITE) ? LOCK_SH : LOCK_EX;
        if (object->lockFd < 0) return Fail(ERROR_ACCESS_DENIED);
        if (flock(object->lockFd, how | LOCK_NB) != 0) return Fail(ERROR_SHARING_VIOLATION);
        disk::Faults faults = drive.faults;
        faults.readOnly = drive.writeProtected;  // it opens for writing all the same; its writes fail
        bool forWrite = (access & GENERIC_WRITE) && !faults.readOnly;
        if (object->image.Open(drive.fat.image, forWrite, faults) != 0) return Fail(ERROR_ACCESS_DENIED);
        object->present = true;
    }
    return Opened(object, access, ERROR_SUCCESS);
}

// "\\.\PhysicalDrive0" is the image [disk0] names, "\\.\A:" a diskette
// drive; any other device name is unknown. A device is only opened, never
// created.
HANDLE OpenDevice(const char *name, DWORD access, DWORD share, DWORD disposition) {
    bool volume = std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' && name[2] == '\0';
    if (volume && disposition != OPEN_EXISTING) return Fail(ERROR_INVALID_PARAMETER);
    if (volume) return OpenDisketteVolume(name[0], access, share);
    auto setting = host::FirstDisk();
    if (strcasecmp(name, "PhysicalDrive0") != 0 || !setting) return Fail(ERROR_FILE_NOT_FOUND);
    if (disposition != OPEN_EXISTING) return Fail(ERROR_INVALID_PARAMETER);
    std::error_code ec;
    if (!std::filesystem::exists(setting->image, ec)) return Fail(ERROR_FILE_NOT_FOUND);
    if (!disk::ImageAllowed(setting->image, setting->allowDevice)) return Fail(ERROR_ACCESS_DENIED);
    auto object = std::make_shared<RawDisk>();
    // A write-protected disk still opens for writing; its writes fail.
    bool forWrite = (access & GENERIC_WRITE) && !setting->faults.readOnly;
    if (object->image.Open(setting->image, forWrite, setting->faults) != 0) return Fail(ERROR_ACCESS_DENIED);
    return Opened(object, access, ERROR_SUCCESS);
}

// The open(2) flags for a disposition, given whether the file exists; 0
// with *error set when Windows refuses.
int OpenFlags(DWORD disposition, bool exists, DWORD access, DWORD *error) {
    switch (disposition) {
    case CREATE_NEW:
        if (exists) *error = ERROR_FILE_EXISTS;
        return O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
        return O_CREAT | O_TRUNC;
    case OPEN_EXISTING:
        if (!exists) *error = ERROR_FILE_NOT_FOUND;
        return 0;
    case OPEN_ALWAYS:
        return O_CREAT;
    case TRUNCATE_EXISTING:
        if (!exists) *error = ERROR_FILE_NOT_FOUND;
        if (!(access & GENERIC_WRITE)) *error = ERROR_INVALID_PARAMETER;
        return O_TRUNC;
    default:
        *error = ERROR_INVALID_PARAMETER;
        return 0;
    }
}

HANDLE OpenRegular(const char *name, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
    if (std::strlen(name) >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::filesystem::path path = host::HostPathFor(name);
    size_t len = std::strlen(name);
    bool trailingSeparator = len > 0 && (name[len - 1] == '\\' || name[len - 1] == '/');
    if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
    struct stat st;
    if (stat(path.parent_path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
    bool exists = stat(path.c_str(), &st) == 0;
    if ((exists && S_ISDIR(st.st_mode)) || trailingSeparator) return Fail(ERROR_ACCESS_DENIED);
    DWORD error = 0;
    int flags = OpenFlags(disposition, exists, access, &error);
    if (error) return Fail(error);
    // The read-only attribute is the owner's write bit (GetFileAttributesA
    // reads it the same way); checked here because root ignores it.
    bool writes = (access & GENERIC_WRITE) || (flags & O_TRUNC);
    if (exists && writes && !(st.st_mode & S_IWUSR)) return Fail(ERROR_ACCESS_DENIED);
    flags |= writes ? O_RDWR : O_RDONLY;
    mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    auto object = std::make_shared<RegularFile>();
    object->fd = open(path.c_str(), flags | O_CLOEXEC, mode);
    if (object->fd < 0) return Fail(errno == EEXIST ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    // A handle that forbids deletion holds a shared lock, which DeleteFileA
    // and CopyFileA of any process probe for (file_tree.cpp).
    if (!(share & FILE_SHARE_DELETE)) flock(object->fd, LOCK_SH | LOCK_NB);
    bool reported = exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    return Opened(object, access, reported ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
}

std::shared_ptr<FileObject> FindFile(HANDLE h) {
    auto file = host::FindHandleAs<FileObject>(h);
    if (!file) SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD attributes, HANDLE) {
    HOST_API(INVALID_HANDLE_VALUE)
    if (!name || !*name) return Fail(name ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    if (std::strncmp(name, "\\\\.\\", 4) == 0) return OpenDevice(name + 4, access, share, disposition);
    return OpenRegular(name, access, share, disposition, attributes);
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped) {
    HOST_API(FALSE)
    if (read) *read = 0;
    auto file = FindFile(h);
    if (!file) return FALSE;
    DWORD error = 0, done = 0;
    if (overlapped || (!buffer && bytes)) {
        error = ERROR_INVALID_PARAMETER;
    } else if (!file->canRead) {
        error = ERROR_ACCESS_DENIED;
    } else {
        std::lock_guard<std::mutex> lock(file->mutex);
        error = file->ReadAt(file->pos, buffer, bytes, &done);
        file->pos += done;
    }
    if (read) *read = done;
    if (error) SetLastError(error);
    return error == 0;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
    HOST_API(FALSE)
    if (written) *written = 0;
    auto file = FindFile(h);
    if (!file) return FALSE;
    DWORD error = 0, done = 0;
    if (overlapped || (!buffer && bytes)) {
        error = ERROR_INVALID_PARAMETER;
    } else if (!file->canWrite) {
        error = ERROR_ACCESS_DENIED;
    } else {
        std::lock_guard<std::mutex> lock(file->mutex);
        error = file->WriteAt(file->pos, buffer, bytes, &done);
        file->pos += done;
    }
    if (written) *written = done;
    if (error) SetLastError(error);
    return error == 0;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG low, PLONG high, DWORD method) {
    HOST_API(INVALID_SET_FILE_POINTER)
    auto file = FindFile(h);
    if (!file) return INVALID_SET_FILE_POINTER;
    // With a high part the distance is 64 bits; without, the low part alone, signed.
    int64_t distance = high ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*high)) << 32) |
                                                   static_cast<uint32_t>(low))
                            : static_cast<int64_t>(low);
    std::lock_guard<std::mutex> lock(file->mutex);
    int64_t base = 0;
    if (method == FILE_CURRENT) {
        base = static_cast<int64_t>(file->pos);
    } else if (method == FILE_END) {
        base = static_cast<int64_t>(file->Size());
    } else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, distance, &target) || target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (!high && target > 0xFFFFFFFFll) {  // the caller could not learn where it is
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    file->pos = static_cast<uint64_t>(target);
    if (high) *high = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
    DWORD result = static_cast<DWORD>(target & 0xFFFFFFFFu);
    // A position whose low part looks like the failure value is told apart
    // by a cleared error, as Windows does.
    if (result == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return result;
}

DWORD WINAPI GetFileSize(HANDLE h, LPDWORD high) {
    HOST_API(INVALID_FILE_SIZE)
    auto file = FindFile(h);
    if (!file) return INVALID_FILE_SIZE;
    uint64_t size = file->Size();
    if (high) *high = static_cast<DWORD>(size >> 32);
    DWORD result = static_cast<DWORD>(size & 0xFFFFFFFFu);
    if (result == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return result;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
    HOST_API(INVALID_FILE_ATTRIBUTES)
    if (!fileName || std::strlen(fileName) >= MAX_PATH) {
        SetLastError(fileName ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    auto path = host::HostPathFor(fileName);
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) {
        bool parentMissing = path.empty() || access(path.parent_path().c_str(), F_OK) != 0;
        SetLastError(parentMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attrs = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) attrs |= FILE_ATTRIBUTE_READONLY;
    return attrs;
}
