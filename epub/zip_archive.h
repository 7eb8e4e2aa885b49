// A zip archive written into a file kept aside (TargetFile) by libzip. The
// entries' bytes are asked for one entry at a time while the archive is
// written, so that only the entry being compressed is held in memory.
#pragma once

#include <zip.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/target_file.h"

namespace vexmor::epub {

// The bytes of one entry, asked for when the archive reaches it.
class EntryContent {
public:
    virtual ~EntryContent() = default;
    // The entry's size; the first call may make the bytes.
    virtual std::uint64_t Size() = 0;
    virtual void Open() = 0;
    // Up to `count` bytes into `buffer`; 0 at the end.
    virtual std::size_t Read(unsigned char* buffer, std::size_t count) = 0;
    // Frees what Open and Size took.
    virtual void Close() = 0;
};

// Bytes made by a function, held from the first look at their size until
// the entry is written.
class MadeContent : public EntryContent {
public:
    explicit MadeContent(std::function<std::string()> make) : make_(std::move(make)) {}
    std::uint64_t Size() override;
    void Open() override { Size(); }
    std::size_t Read(unsigned char* buffer, std::size_t count) override;
    void Close() override;

private:
    std::function<std::string()> make_;
    std::string bytes_;
    bool made_ = false;
    std::uint64_t size_ = 0;
    std::size_t at_ = 0;
};

// The same, for many entries made by one function from their number: an
// entry then takes no more memory than its number until it is written.
class NumberedContent : public EntryContent {
public:
    using Make = std::function<std::string(std::size_t number)>;
    NumberedContent(const Make& make, std::size_t number) : make_(make), number_(number) {}
    std::uint64_t Size() override;
    void Open() override { Size(); }
    std::size_t Read(unsigned char* buffer, std::size_t count) override;
    void Close() override { std::string().swap(bytes_); }

private:
    const Make& make_;  // outlives the archive's writing
    std::size_t number_;
    std::string bytes_;
    bool made_ = false;
    std::uint64_t size_ = 0;
    std::size_t at_ = 0;
};

class ZipArchive {
public:
    explicit ZipArchive(TargetFile& file);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Adds an entry, written in the order added. `stored`: not compressed
    // (the EPUB's mimetype must be).
    void Add(const std::string& name, std::unique_ptr<EntryContent> content, bool stored = false);
    void Add(const std::string& name, std::string bytes, bool stored = false);
    // Writes every entry and the directory. A failure of an entry's content
    // is thrown again as it was raised; libzip's own as EInOutError.
    void Close();

    struct Callbacks;

private:
    [[noreturn]] void Fail(const std::string& what);
    // libzip writes a few bytes at a time (headers, pieces of entries) and
    // goes back to each local header once its entry is written: the writes
    // are gathered into blocks of up to kWriteBlock bytes, a header written
    // again inside the block is changed there.
    void Write(const void* data, std::size_t length);
    void Flush();

    TargetFile& file_;
    zip_t* zip_ = nullptr;
    std::vector<std::unique_ptr<EntryContent>> contents_;
    std::exception_ptr failure_;
    std::uint64_t position_ = 0;
    std::uint64_t length_ = 0;
    std::string pending_;              // bytes for the file at pendingAt_
    std::uint64_t pendingAt_ = 0;
    zip_error_t error_{};
};

}  // namespace vexmor::epub
