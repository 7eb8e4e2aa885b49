#include "catalogue/target_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "catalogue/in_out_error.h"

namespace vexmor {

TargetFile::TargetFile(const std::string& path) {
    do {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw InOutErrorFromErrno(errno);
}

TargetFile::~TargetFile() {
    if (fd_ >= 0) ::close(fd_);
}

void WriteAll(int fd, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw InOutErrorFromErrno(errno);
        }
        // A write that stores nothing although bytes were asked for: no room.
        if (written == 0) throw EInOutError(io_code::kDiskFull, InOutMessage(io_code::kDiskFull));
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

void TargetFile::Write(const void* data, std::size_t count) { WriteAll(fd_, data, count); }

void TargetFile::CutTo(std::uint64_t length) {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) throw InOutErrorFromErrno(errno);
    if (!S_ISREG(info.st_mode)) return;
    if (static_cast<std::uint64_t>(info.st_size) == length) return;
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) throw InOutErrorFromErrno(errno);
}

void TargetFile::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    // After EINTR the descriptor is already released on Linux: not a failure.
    if (::close(fd) != 0 && errno != EINTR) throw InOutErrorFromErrno(errno);
}

}  // namespace vexmor
