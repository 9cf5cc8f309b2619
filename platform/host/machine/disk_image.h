// A machine's disk image as a BIOS or a raw-device driver sees it: 512-byte
// sectors, an end it never grows past, and the faults machine.ini injects.
// Header-only, so that the INT 13h access library shares the rules without
// linking the host platform.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "platform/host/win_types.h"

namespace host::disk {

constexpr uint64_t kSector = 512;

// Outcomes of a transfer, numbered as the Windows error each one becomes.
enum Status : uint32_t {
    kOk = ERROR_SUCCESS,
    kWriteProtect = ERROR_WRITE_PROTECT,
    kSectorNotFound = ERROR_SECTOR_NOT_FOUND,      // an injected unreadable sector
    kWriteFault = ERROR_WRITE_FAULT,
    kReadFault = ERROR_READ_FAULT,                 // the image itself could not be read
    kInvalidParameter = ERROR_INVALID_PARAMETER,  // unaligned, or not within the disk
};

// Faults a machine can give its disk ([disk0] keys).
struct Faults {
    std::set<uint64_t> failReadLba;  // reads covering one of these sectors fail
    bool failWrite = false;          // every write fails
    bool readOnly = false;           // writes fail as on a write-protected disk
};

// "0, 63,2048" -> {0, 63, 2048}; numbers in `base` (0: C rules); junk skipped.
inline std::set<uint64_t> ParseNumberList(const std::string &text, int base) {
    std::set<uint64_t> out;
    const char *p = text.c_str();
    while (*p) {
        while (*p == ',' || *p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        char *end = nullptr;
        unsigned long long v = std::strtoull(p, &end, base);
        if (end == p) {
            while (*p && *p != ',') ++p;  // not a number: skip to the next item
            continue;
        }
        out.insert(v);
        p = end;
    }
    return out;
}

inline bool IsTrue(const std::string &v) { return v == "1" || v == "yes" || v == "true"; }

// fail_read_lba=, fail_write= and read_only= of a machine.ini section, read
// through `get(key)` (empty when unset).
template <typename Get>
Faults FaultsFrom(Get get) {
    Faults f;
    f.failReadLba = ParseNumberList(get("fail_read_lba"), 0);
    f.failWrite = IsTrue(get("fail_write"));
    f.readOnly = IsTrue(get("read_only"));
    return f;
}

// A machine never reaches a real device by accident: the image must be a
// regular file (symbolic links are followed and judged by their target)
// outside /dev, unless the machine says allow_device=1, which admits block
// devices too.
inline bool ImageAllowed(const std::filesystem::path &image, bool allowDevice) {
    std::error_code ec;
    std::filesystem::path target = std::filesystem::weakly_canonical(image, ec);
    if (ec) return false;
    struct stat st;
    if (stat(target.c_str(), &st) != 0) return false;
    if (allowDevice) return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
    std::string lexical = image.lexically_normal().string(), real = target.string();
    bool underDev = lexical.rfind("/dev/", 0) == 0 || real.rfind("/dev/", 0) == 0;
    return S_ISREG(st.st_mode) && !underDev;
}

// An open image: whole-sector transfers inside its current size only.
class Image {
public:
    Image() = default;
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    ~Image() {
        if (fd_ >= 0) ::close(fd_);
    }

    // errno of the failed open, or 0.
    int Open(const std::filesystem::path &path, bool forWrite, const Faults &faults) {
        faults_ = faults;
        fd_ = ::open(path.c_str(), (forWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
        return fd_ < 0 ? errno : 0;
    }

    // The size now: another handle may have written meanwhile, never grown.
    uint64_t Bytes() const {
        off_t end = ::lseek(fd_, 0, SEEK_END);
        return end < 0 ? 0 : static_cast<uint64_t>(end);
    }

    Status Read(uint64_t offset, void *buffer, uint64_t bytes) const {
        if (Status s = Check(offset, bytes); s != kOk) return s;
        for (uint64_t lba : faults_.failReadLba) {
            if (lba >= offset / kSector && lba < (offset + bytes) / kSector) return kSectorNotFound;
        }
        return Transfer(offset, buffer, bytes, false) ? kOk : kReadFault;
    }

    Status Write(uint64_t offset, const void *buffer, uint64_t bytes) const {
        if (Status s = Check(offset, bytes); s != kOk) return s;
        if (faults_.readOnly) return kWriteProtect;
        if (faults_.failWrite) return kWriteFault;
        return Transfer(offset, const_cast<void *>(buffer), bytes, true) ? kOk : kWriteFault;
    }

private:
    // A raw disk takes whole sectors at sector boundaries, and only where
    // the disk has them: the disk driver refuses anything else outright.
    Status Check(uint64_t offset, uint64_t bytes) const {
        if (offset % kSector || bytes % kSector) return kInvalidParameter;
        uint64_t size = Bytes();
        if (offset > size || bytes > size - offset) return kInvalidParameter;
        return kOk;
    }

    bool Transfer(uint64_t offset, void *buffer, uint64_t bytes, bool write) const {
        auto *p = static_cast<unsigned char *>(buffer);
        while (bytes > 0) {
            ssize_t n = write ? ::pwrite(fd_, p, bytes, static_cast<off_t>(offset))
                              : ::pread(fd_, p, bytes, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            offset += static_cast<uint64_t>(n);
            bytes -= static_cast<uint64_t>(n);
        }
        return true;
    }

    int fd_ = -1;
    Faults faults_;
};

}  // namespace host::disk
