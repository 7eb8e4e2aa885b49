#include "catalogue/target_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "catalogue/in_out_error.h"
#include "catalogue/refused_name.h"

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

namespace {

// What stands at `name`, as InspectTarget says: 0 with `found` set or not,
// or the errno that refuses it.
int LookAt(int folder, const std::string& name, std::optional<struct stat>& found) {
    found.reset();
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    // A file the user keeps read-only stays as it is, although its folder
    // would allow replacing it; the bits are looked at, as root may write
    // any file.
    if (S_ISREG(info.st_mode)) {
        if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
        if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) return errno;
    }
    found = info;
    return 0;
}

bool Stands(int folder, const std::string& name) {
    struct stat info {};
    return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// Whether a nameless file can be given a name later without root's rights:
// through its entry under /proc.
bool ProcNamesDescriptors() { return ::faccessat(AT_FDCWD, "/proc/self/fd", X_OK, 0) == 0; }

}  // namespace

std::optional<struct stat> InspectTarget(int folder, const std::string& name) {
    std::optional<struct stat> found;
    if (const int errnum = LookAt(folder, name, found); errnum != 0) ThrowErrno(errnum);
    return found;
}

TargetFile::TargetFile(int folder, std::string name, Aside aside)
    : folder_(folder), name_(std::move(name)) {
    // A name that holds characters some targets refuse is tried first with a
    // file of this program's own: a target that refuses a rename may lose the
    // file it was asked to move (FAT through FUSE does).
    if (std::string substitute = SubstituteName(name_); substitute != name_ && RefusesCharactersOf(name_))
        name_ = std::move(substitute);
    // A nameless file vanishes by itself on any failure, a crash included.
    // Without /proc it could only be named by copying it, which needs twice
    // its size: a named one is written from the start then.
    if (aside == Aside::Nameless) {
        file_ = Descriptor(::openat(folder_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (!file_.IsOpen() && !NamelessUnsupported(errno)) ThrowErrno(errno);
        if (file_.IsOpen() && !ProcNamesDescriptors()) file_.Reset();
    }
    if (!file_.IsOpen()) file_ = CreateUnderTemporaryName();
}

bool TargetFile::RefusesCharactersOf(const std::string& name) const {
    const std::string probe = ProbeNameFor(TemporaryName(), name);
    const Descriptor created(::openat(folder_, probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!created.IsOpen()) return errno == EINVAL || errno == EPERM || errno == EILSEQ;
    const PartFileGuard guard(folder_, probe.c_str());
    ::unlinkat(folder_, probe.c_str(), 0);
    return false;
}

void TargetFile::SetTemporaryName(std::string name) {
    tempName_ = std::move(name);
    guard_ = tempName_.empty() ? nullptr : std::make_unique<PartFileGuard>(folder_, tempName_.c_str());
}

Descriptor TargetFile::CreateUnderTemporaryName() {
    Descriptor created;
    std::string name;
    for (int round = 0; round < kNameRounds && !created.IsOpen(); ++round) {
        name = TemporaryName();
        created = Descriptor(
            ::openat(folder_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!created.IsOpen() && errno != EEXIST) break;
    }
    if (!created.IsOpen()) ThrowErrno(errno);
    SetTemporaryName(std::move(name));
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
    guard_.reset();
}

void TargetFile::Write(const void* data, std::size_t count) { WriteAll(file_.Get(), data, count); }

void TargetFile::WriteAt(std::uint64_t offset, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t written = ::pwrite(file_.Get(), bytes, count, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno);
        }
        if (written == 0) throw EInOutError(io_code::kDiskFull, InOutMessage(io_code::kDiskFull));
        bytes += written;
        offset += static_cast<std::uint64_t>(written);
        count -= static_cast<std::size_t>(written);
    }
}

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
        std::string name = TemporaryName();
        errnum = LinkNameless(name);
        if (errnum == 0) SetTemporaryName(std::move(name));
    }
    if (errnum != 0) ThrowErrno(errnum);
}

int TargetFile::RenameOver(const std::string& name) {
    if (::renameat(folder_, tempName_.c_str(), folder_, name.c_str()) != 0) return errno;
    SetTemporaryName({});
    return 0;
}

void TargetFile::TakeModeOf(const struct stat& existing) {
    if (!S_ISREG(existing.st_mode)) return;
    // A named file already closed for its first place is opened again.
    Descriptor reopened;
    if (!file_.IsOpen()) {
        reopened = Descriptor(::openat(folder_, tempName_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!reopened.IsOpen()) ThrowErrno(errno);
    }
    if (::fchmod(file_.IsOpen() ? file_.Get() : reopened.Get(), existing.st_mode & 0777) != 0) ThrowErrno(errno);
}

int TargetFile::PlaceAt(const std::string& name, const TargetCheck& check, FileStamp& stamp) {
    struct stat info {};
    // A free name takes the nameless file at once: nothing stood there, so
    // there is nothing to look at (the common case, one call).
    bool nameless = tempName_.empty();
    if (nameless) {
        const int errnum = LinkNameless(name);
        if (errnum == 0) {
            if (::fstat(file_.Get(), &info) != 0) ThrowErrno(errno);
            file_.Reset();
            stamp = StampOf(info);
            return 0;
        }
        // Neither the descriptor nor /proc can name the file here: go on
        // with a named copy.
        if (errnum == ENOENT) {
            CopyToTemporaryName();
            nameless = false;
        } else if (errnum != EEXIST) {
            return errnum;
        }
    }
    std::optional<struct stat> existing;
    if (const int errnum = LookAt(folder_, name, existing); errnum != 0) return errnum;
    if (existing) {
        check(*existing, name);
        TakeModeOf(*existing);
    }
    if (nameless) {
        LinkUnderTemporaryName();
        if (const int errnum = RenameOver(name); errnum != 0) return errnum;
        if (::fstat(file_.Get(), &info) != 0) ThrowErrno(errno);
        file_.Reset();
        stamp = StampOf(info);
        return 0;
    }
    // A named file is closed before the rename, where a network file system
    // reports the failures of delayed writes.
    if (file_.IsOpen() && ::close(file_.Release()) != 0 && errno != EINTR) ThrowErrno(errno);
    if (const int errnum = RenameOver(name); errnum != 0) return errnum;
    if (::fstatat(folder_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) ThrowErrno(errno);
    stamp = StampOf(info);
    return 0;
}

FileStamp TargetFile::Commit(const TargetCheck& check) {
    FileStamp stamp;
    const NameOutcome outcome = TryNameThenSubstitute(
        name_, [&](const std::string& name) { return PlaceAt(name, check, stamp); },
        [&](const std::string& name) { return Stands(folder_, name); });
    if (outcome.errnum != 0) ThrowErrno(outcome.errnum);
    name_ = outcome.name;
    return stamp;
}

}  // namespace vexmor
