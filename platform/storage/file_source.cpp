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

}  // namespace

FileSource::FileSource(const std::string& path) {
    if (path.empty()) throw EStorageError(code::kFileNotFound, "no file name given");
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
    size_ = static_cast<std::uint64_t>(st.st_size);
    identity_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), size_,
                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
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
        if (got == 0) ThrowDamaged(std::string(what) + " lies past the end of the file");
        out += got;
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
}

}  // namespace vexmor::storage
