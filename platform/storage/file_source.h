// A help file opened read-only, read by position. Shared by every object of
// one opened file; the descriptor closes with the last reference.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/storage/storage.h"

namespace vexmor::storage {

class FileSource {
public:
    // Throws EStorageError: kFileNotFound, kAccessDenied, kReadFault, ...
    explicit FileSource(const std::string& path);
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t Size() const noexcept { return size_; }
    const FileIdentity& Identity() const noexcept { return identity_; }

    // Throws kChangedWhileRead, with `detail` when given, when the open
    // file's size, modification or change time is no longer what it was at
    // open: it was written to since, and what the directory says of it, or
    // bytes read from it, may no longer hold. The change time counts only
    // while the file has as many names as at open.
    void CheckUnchanged(const std::string& detail = {}) const;

    // Reads exactly `length` bytes at `offset`. A range past the end of the
    // file is damage, reported with `what` naming the structure being read.
    void ReadExact(std::uint64_t offset, void* buffer, std::size_t length, const char* what) const;

    // The first offset from `offset` on that the file really holds (not a
    // hole of a sparse file); Size() when none does. `offset` itself where
    // the file system cannot tell.
    std::uint64_t DataFrom(std::uint64_t offset) const noexcept;

    // Bytes ReadExact delivered so far, from any thread.
    std::uint64_t BytesRead() const noexcept { return bytesRead_.load(std::memory_order_relaxed); }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    FileIdentity identity_;
    std::uint64_t links_ = 0;  // names of the file at open
    mutable std::atomic<std::uint64_t> bytesRead_{0};
};

}  // namespace vexmor::storage
