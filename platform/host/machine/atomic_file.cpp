#include "platform/host/machine/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host/win_types.h"

namespace host {
namespace {

int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

int SyncFolder(const std::filesystem::path &dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int rc = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return rc;
}

}  // namespace

int ReplaceFileAtomically(const std::filesystem::path &path, std::string_view data) {
    std::filesystem::path tmp = path;
    tmp += ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    int rc = WriteAll(fd, data);
    if (rc == 0 && fsync(fd) != 0) rc = errno;
    if (close(fd) != 0 && rc == 0) rc = errno;
    if (rc == 0 && rename(tmp.c_str(), path.c_str()) != 0) rc = errno;
    if (rc != 0) {
        unlink(tmp.c_str());
        return rc;
    }
    return SyncFolder(path.parent_path().empty() ? "." : path.parent_path());
}

unsigned long WriteErrorFromErrno(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    default:
        return ERROR_WRITE_FAULT;
    }
}

}  // namespace host
