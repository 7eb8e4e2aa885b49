// The file an exported stream is written to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexmor {

// Stores all `count` bytes to the descriptor `fd`, going on after partial
// writes; throws EInOutError (a write that stores nothing counts as "Disk full").
void WriteAll(int fd, const void* data, std::size_t count);

// A raw-byte file opened for reading and writing. An existing file is opened
// in place (same inode, mode kept); a missing one is created. Every failure
// throws EInOutError. The destructor closes a file still open and ignores the
// result, so that the failure already on its way is the one reported.
class TargetFile {
public:
    explicit TargetFile(const std::string& path);
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    // Stores all `count` bytes at the current position.
    void Write(const void* data, std::size_t count);
    // Cuts a regular file to `length` bytes; other kinds of file are left alone.
    void CutTo(std::uint64_t length);
    void Close();

private:
    int fd_ = -1;
};

}  // namespace vexmor
