#include "catalogue/target_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "catalogue/in_out_error.h"

namespace vexmor {

namespace {

// Tries before a failure to find a free temporary name is reported.
constexpr int kNameRounds = 16;

[[noreturn]] void ThrowErrno(int errnum) { throw InOutErrorFromErrno(errnum); }

// A name no other process picks: hidden, with this process's id and random
// bits, short enough for any file system's name limit.
std::string TemporaryName() {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        bits = static_cast<std::uint64_t>(::clock()) ^ reinterpret_cast<std::uintptr_t>(&bits);
    }
    char text[64];
    std::snprintf(text, sizeof text, ".vexmor-%ld-%016llx.part", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(bits));
    return text;
}

// File systems without nameless files (FAT, NFS, ...) report one of these.
bool NamelessUnsupported(int errnum) { return errnum == EOPNOTSUPP || errnum == EISDIR || errnum == EINVAL; }

}  // namespace

void WriteAll(int fd, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno);
        }
        // A write that stores nothing although bytes were asked for: no room.
        if (written == 0) throw EInOutError(io_code::kDiskFull, InOutMessage(io_code::kDiskFull));
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

FileStamp StampOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
}

std::optional<struct stat> InspectTarget(int folder, const std::string& name) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return std::nullopt;
        ThrowErrno(errno);
    }
    if (S_ISDIR(info.st_mode)) ThrowErrno(EISDIR);
    // A file the user keeps read-only stays as it is, although its folder
    // would allow replacing it.
    if (S_ISREG(info.st_mode) && ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        ThrowErrno(errno);
    return info;
}

TargetFile::TargetFile(int folder, std::string name, Aside aside)
    : folder_(folder), name_(std::move(name)) {
    // A nameless file vanishes by itself on any failure, a crash included.
    // Readable too: where it cannot be linked it is copied to a named one.
    if (aside == Aside::Nameless) file_ = Descriptor(::openat(folder_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (!file_.IsOpen()) {
        if (aside == Aside::Nameless && !NamelessUnsupported(errno)) ThrowErrno(errno);
        file_ = CreateUnderTemporaryName();
    }
}

Descriptor TargetFile::CreateUnderTemporaryName() {
    Descriptor created;
    for (int round = 0; round < kNameRounds && !created.IsOpen(); ++round) {
        tempName_ = TemporaryName();
        created = Descriptor(
            ::openat(folder_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!created.IsOpen() && errno != EEXIST) break;
    }
    if (!created.IsOpen()) {
        const int errnum = errno;
        tempName_.clear();
        ThrowErrno(errnum);
    }
    return created;
}

void TargetFile::CopyToTemporaryName() {
    Descriptor named = CreateUnderTemporaryName();
    std::array<unsigned char, 65536> buffer;
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(file_.Get(), buffer.data(), buffer.size(), offset);
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno);
        }
        if (got == 0) break;
        WriteAll(named.Get(), buffer.data(), static_cast<std::size_t>(got));
        offset += got;
    }
    file_ = std::move(named);
}

TargetFile::~TargetFile() {
    file_.Reset();
    if (!tempName_.empty()) ::unlinkat(folder_, tempName_.c_str(), 0);
}

void TargetFile::Write(const void* data, std::size_t count) { WriteAll(file_.Get(), data, count); }

int TargetFile::LinkNameless(const std::string& linkName) {
    // The descriptor itself where the kernel lets this caller link it (it
    // refuses with ENOENT otherwise), else its name under /proc.
    if (::linkat(file_.Get(), "", folder_, linkName.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT) return errno;
    const std::string self = "/proc/self/fd/" + std::to_string(file_.Get());
    if (::linkat(AT_FDCWD, self.c_str(), folder_, linkName.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    return errno;
}

void TargetFile::LinkUnderTemporaryName() {
    int errnum = EEXIST;
    for (int round = 0; errnum == EEXIST && round < kNameRounds; ++round) {
        tempName_ = TemporaryName();
        errnum = LinkNameless(tempName_);
        if (errnum != 0) tempName_.clear();
    }
    if (errnum != 0) ThrowErrno(errnum);
}

void TargetFile::RenameOverTarget() {
    if (::renameat(folder_, tempName_.c_str(), folder_, name_.c_str()) != 0) ThrowErrno(errno);
    tempName_.clear();
}

FileStamp TargetFile::Commit(const TargetCheck& check) {
    struct stat info {};
    // A free name takes the nameless file at once: nothing stood there, so
    // there is nothing to look at (the common case, one call).
    bool nameless = tempName_.empty();
    if (nameless) {
        const int errnum = LinkNameless(name_);
        if (errnum == 0) {
            if (::fstat(file_.Get(), &info) != 0) ThrowErrno(errno);
            file_.Reset();
            return StampOf(info);
        }
        // Neither the descriptor nor /proc can name the file here (no right
        // to link a descriptor, no /proc mounted): go on with a named copy.
        if (errnum == ENOENT) {
            CopyToTemporaryName();
            nameless = false;
        } else if (errnum != EEXIST) {
            ThrowErrno(errnum);
        }
    }
    if (const std::optional<struct stat> existing = InspectTarget(folder_, name_)) {
        check(*existing);
        if (S_ISREG(existing->st_mode) && ::fchmod(file_.Get(), existing->st_mode & 0777) != 0) ThrowErrno(errno);
    }
    if (nameless) {
        LinkUnderTemporaryName();
        RenameOverTarget();
        if (::fstat(file_.Get(), &info) != 0) ThrowErrno(errno);
        file_.Reset();
        return StampOf(info);
    }
    // A named file is closed before the rename, where a network file system
    // reports the failures of delayed writes.
    if (::close(file_.Release()) != 0 && errno != EINTR) ThrowErrno(errno);
    RenameOverTarget();
    if (::fstatat(folder_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) ThrowErrno(errno);
    return StampOf(info);
}

}  // namespace vexmor
