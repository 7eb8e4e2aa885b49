#include "platform/storage/file_source.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/storage/storage_error.h"

namespace vexmor::storage {

namespace {

std::uint32_t CodeForOpenErrno(int err) {
    switch (err) {
        case ENOENT: return code::kFileNotFound;
        case ENOTDIR: return code::kPathNotFound;
        case EACCES:
        case EPERM: return code::kAccessDenied;
        case EMFILE:
        case ENFILE: return code::kTooManyOpenFiles;
        case ENAMETOOLONG:
        case ELOOP: return code::kInvalidName;
        default: return code::kReadFault;
    }
}

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

}  // namespace

FileIdentity IdentityOfPath(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
    return IdentityOf(st);
}

FileSource::FileSource(const std::string& path) {
    if (path.empty()) throw EStorageError(code::kFileNotFound, "no file name given");
    // Without blocking: opening a FIFO for reading would otherwise wait for a
    // writer forever, before the check below could refuse it.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) {
        const int err = errno;
        throw EStorageError(CodeForOpenErrno(err), path + " (" + std::strerror(err) + ")");
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool isDir = S_ISDIR(st.st_mode);
        ::close(fd_);
        fd_ = -1;
        throw EStorageError(isDir ? code::kAccessDenied : code::kInvalidHeader,
                            path + (isDir ? " is a folder" : " is not a regular file"));
    }
    // A regular file: reads never wait, the flag is dropped only for clarity.
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    identity_ = IdentityOf(st);
    links_ = static_cast<std::uint64_t>(st.st_nlink);
    size_ = identity_.size;
}

void FileSource::CheckUnchanged(const std::string& detail) const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        throw EStorageError(code::kReadFault, std::string("the help file (") + std::strerror(errno) + ")");
    FileIdentity now = IdentityOf(st);
    // Adding or removing a name of the file (a new version renamed over it,
    // a hard link) moves its change time without touching its bytes: the
    // change time tells of writes only while the names stay as they were.
    if (static_cast<std::uint64_t>(st.st_nlink) != links_) now.changedNs = identity_.changedNs;
    if (now != identity_) throw EStorageError(code::kChangedWhileRead, detail);
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

void FileSource::ReadExact(std::uint64_t offset, void* buffer, std::size_t length, const char* what) const {
    if (offset > size_ || length > size_ - offset) ThrowDamaged(std::string(what) + " lies past the end of the file");
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ssize_t got = ::pread(fd_, out, length, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EStorageError(code::kReadFault, std::string(what) + " (" + std::strerror(errno) + ")");
        }
        // Inside the size seen at open, yet at the end: the file was cut
        // while open.
        if (got == 0)
            throw EStorageError(code::kReadFault,
                                std::string(what) + ": the file became shorter than when it was opened");
        bytesRead_.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
        out += got;
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
}

std::uint64_t FileSource::DataFrom(std::uint64_t offset) const noexcept {
    if (offset >= size_) return size_;
    // Only the descriptor's position moves, which no read here uses.
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0) return static_cast<std::uint64_t>(data);
    return errno == ENXIO ? size_ : offset;
}

}  // namespace vexmor::storage
