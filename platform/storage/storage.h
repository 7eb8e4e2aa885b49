// The storage view of a compiled help file: a tree of storages (folders) and
// streams (files), read-only. Every object is held by std::shared_ptr; a
// storage, and the streams opened from it, stay usable for as long as a
// reference is held, whatever happened to the objects that produced them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vexmor::storage {

// Result codes of Next(). Every other operation reports failure by throwing
// EStorageError (storage_error.h).
using HResult = std::int32_t;
inline constexpr HResult kOk = 0;      // an element was delivered
inline constexpr HResult kFalse = 1;   // no more elements

// Which file an opened help file is, as fstat saw it when it was opened.
// All zero for a storage that no file backs.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;  // modification time, nanoseconds since the epoch
    // Status change time: any write moves it, and unlike the modification
    // time nobody can set it back.
    std::int64_t changedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

enum class ElementType : std::uint32_t { Storage = 1, Stream = 2 };

// Where a stream's bytes lie in its file: an area (a content section) and a
// range in it. Only the storage layer knows what an area is; callers compare
// placements, to read streams in the order of their bytes and to find
// streams that claim the same bytes. A zero length claims nothing.
struct Placement {
    std::uint64_t area = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    // One past the last byte; a range that would pass 2^64 ends there.
    std::uint64_t End() const { return length > UINT64_MAX - offset ? UINT64_MAX : offset + length; }
    // Compares distances, not ends: a range reaching past 2^64 still claims
    // the byte at 2^64 - 1, which End() leaves out.
    bool Overlaps(const Placement& other) const {
        if (length == 0 || other.length == 0 || area != other.area) return false;
        return offset <= other.offset ? other.offset - offset < length : offset - other.offset < other.length;
    }
};

struct ElementInfo {
    // UTF-8 bytes exactly as the file stores them. Never with '/', except for
    // an entry whose name cannot be a path of storages (empty levels, a data
    // stream named like a folder, too many levels): it is listed at the root
    // under its whole stored name, and opens by that name.
    std::string name;
    ElementType type = ElementType::Stream;
    std::uint64_t size = 0;  // bytes of a stream; 0 for a storage
    Placement placement;     // of a stream; all zero when unknown
};

class IStream {
public:
    virtual ~IStream() = default;
    // Copies up to `count` bytes from the current position and advances it.
    // Returns the number delivered; fewer than asked means the end.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
};

class IEnumElements {
public:
    virtual ~IEnumElements() = default;
    // kOk with `out` filled, or kFalse at the end. Never throws.
    virtual HResult Next(ElementInfo& out) = 0;
};

// The compressed section of a help file as the reader lays it out, sizes in
// bytes whatever the version of its control data.
struct CompressedSectionFacts {
    std::uint32_t windowSize = 0;
    std::uint32_t resetInterval = 0;  // bytes of output between decoder resets
    std::uint64_t uncompressedLength = 0;
    std::uint64_t compressedLength = 0;  // of the compressed data the reader decodes
};

// Decoding ahead for one planned run of reads; ends when destroyed (the
// workers stop and are joined), at the latest with the opened file. Destroy
// it on the thread that reads, or once reading has stopped.
class ReadAheadPlan {
public:
    virtual ~ReadAheadPlan() = default;
};

class IStorage {
public:
    virtual ~IStorage() = default;
    virtual std::shared_ptr<IEnumElements> EnumElements() = 0;
    // `name` as an enumeration of this storage delivered it.
    virtual std::shared_ptr<IStorage> OpenStorage(const std::string& name) = 0;
    // The first stream of that name. Every stream checks, at the read that
    // reaches its end, that the help file is still as it was when opened
    // (kChangedWhileRead otherwise): bytes written into it meanwhile may
    // have been read.
    virtual std::shared_ptr<IStream> OpenStream(const std::string& name) = 0;
    // The stream of that name whose bytes lie at `placement`, as an
    // enumeration of this storage delivered both: of several entries of one
    // name, each opens as itself. kFileNotFound when no stream of the name
    // lies there. A storage whose names are all different may open by name.
    virtual std::shared_ptr<IStream> OpenStreamAt(const std::string& name, const Placement& placement) {
        (void)placement;
        return OpenStream(name);
    }
    // The help file this storage belongs to.
    virtual FileIdentity SourceFile() const { return {}; }
    // Tells the opened file the placements of the streams about to be read,
    // in the order they will be read from one thread; worker threads decode
    // their compressed data ahead while the plan lives. Reads give the same
    // bytes and the same errors, at the same reads, with a plan or without;
    // a plan for another file's placements costs decoding, nothing else.
    // Null where there is nothing to gain. Never throws for damage: that is
    // reported by the reads.
    virtual std::unique_ptr<ReadAheadPlan> PlanReads(const std::vector<Placement>& order) {
        (void)order;
        return nullptr;
    }
    // The compressed section of the help file, read as its streams' reads
    // read it; nullopt when the file has none (every stream stored). Throws
    // EStorageError, with the message those reads would give, when it is
    // damaged, unsupported or beyond the reader's limits.
    virtual std::optional<CompressedSectionFacts> CompressedSection() { return std::nullopt; }
};

// The identity of the file at `path` now (following links, as opening does);
// all zero when it cannot be examined.
FileIdentity IdentityOfPath(const std::string& path);

// How much reading a file has cost: decoding its compressed section, and
// reading the file itself.
struct DecodeStatistics {
    std::uint64_t decodedBytes = 0;   // bytes the decoder produced, repeats included
    std::uint64_t sectionLength = 0;  // uncompressed length of the compressed section
    std::uint64_t fileBytesRead = 0;  // bytes read from the help file since it was opened, headers included
};

// The component that opens help files; one instance per opened file.
class IITStorage {
public:
    virtual ~IITStorage() = default;
    // Opens `path` read-only as the root storage.
    virtual std::shared_ptr<IStorage> StgOpenStorage(const std::string& path) = 0;
    // Of the file this instance opened last; zeros before anything was read.
    virtual DecodeStatistics Statistics() const = 0;
};

// Decoded compressed data is kept up to a fixed memory budget per opened
// file, shared by all its streams.
inline constexpr std::size_t kDefaultSpanCacheBudget = 16u << 20;

// The largest LZX window and span (reset interval) a help file may declare.
inline constexpr std::uint32_t kLargestWindow = 1u << 21;
inline constexpr std::uint32_t kLargestSpan = 1u << 24;

struct ReaderOptions {
    std::size_t spanCacheBudget = kDefaultSpanCacheBudget;
    // Off: plans are ignored and the reader decodes alone, as without one.
    bool readAhead = true;
    // Threads that decode ahead of a plan's reader; 0: one per core. No
    // more than the pool holds spans.
    unsigned readAheadWorkers = 0;
    // Decoded or under way spans that may wait for the reader, per worker:
    // at least one span in all, and no more than 8 MiB unless one span is
    // larger.
    std::size_t readAheadSpansPerWorker = 4;
    // The largest window and span the caller lets one file's compressed
    // section use: the window is allocated and cleared when the section is
    // first read, and a read decodes whole spans. A section declaring more
    // is refused (kInsufficientMemory) when one of its streams is opened,
    // before anything is allocated; stored streams and listing still work.
    std::uint32_t largestWindow = kLargestWindow;
    std::uint32_t largestSpan = kLargestSpan;
};

std::shared_ptr<IITStorage> CreateITStorage();
std::shared_ptr<IITStorage> CreateITStorageWithCache(std::size_t spanCacheBudget);
std::shared_ptr<IITStorage> CreateITStorageWithOptions(const ReaderOptions& options);

}  // namespace vexmor::storage
