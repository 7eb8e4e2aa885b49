// A zip archive written into a file kept aside (TargetFile) by libzip. The
// entries' bytes are asked for one entry at a time while the archive is
// written, so that only the entry being compressed is held in memory.
// Entries made whole in memory are compressed here by libdeflate, about
// twice as fast as libzip's zlib at the same size; libzip writes them as
// they are. Streamed entries are compressed by libzip.
#pragma once

#include <libdeflate.h>
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

class ZipArchive {
public:
    explicit ZipArchive(TargetFile& file);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // The entries, written in the order added. A streamed one is read as it
    // is written; a made one is made when the archive reaches it, and only
    // then. `stored`: not compressed (the EPUB's mimetype must be).
    using Make = std::function<std::string()>;
    void Add(const std::string& name, std::unique_ptr<EntryContent> content, bool stored = false);
    void Add(const std::string& name, Make make);
    void Add(const std::string& name, std::string bytes, bool stored = false);
    // Writes every entry and the directory. A failure of an entry's content
    // is thrown again as it was raised; libzip's own as EInOutError.
    void Close();

    struct Callbacks;

private:
    [[noreturn]] void Fail(const std::string& what);
    // Takes `state`: on a failure the callback is told to free it.
    zip_uint64_t AddSource(const std::string& name, zip_source_callback callback, void* state);
    // Compresses `bytes` as one raw deflate stream into `packed`.
    void Pack(const std::string& bytes, std::string& packed);
    // libzip writes a few bytes at a time (headers, pieces of entries) and
    // goes back to each local header once its entry is written: the writes
    // are gathered into blocks of up to kWriteBlock bytes, a header written
    // again inside the block is changed there.
    void Write(const void* data, std::size_t length);
    void Flush();

    TargetFile& file_;
    zip_t* zip_ = nullptr;
    std::vector<std::unique_ptr<EntryContent>> contents_;
    libdeflate_compressor* compressor_ = nullptr;
    std::exception_ptr failure_;
    std::uint64_t position_ = 0;
    std::uint64_t length_ = 0;
    std::string pending_;              // bytes for the file at pendingAt_
    std::uint64_t pendingAt_ = 0;
    zip_error_t error_{};
};

}  // namespace vexmor::epub
