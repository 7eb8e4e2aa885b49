#include "platform/storage/itsf_directory.h"

#include <algorithm>
#include <memory>
#include <unordered_set>
#include <vector>

#include "platform/storage/byte_view.h"
#include "platform/storage/file_source.h"
#include "platform/storage/storage_error.h"

namespace vexmor::storage {

namespace {

constexpr std::size_t kItsfV2Length = 0x58;
constexpr std::size_t kItsfV3Length = 0x60;
constexpr std::uint32_t kItspMinLength = 0x54;
constexpr std::uint32_t kListingHeaderLength = 0x14;
constexpr std::size_t kPreviousChunkAt = 0x0C;
constexpr std::size_t kNextChunkAt = 0x10;
// Every writer seen uses 4 KiB chunks; anything far outside is damage, and
// the bound keeps a single chunk from costing more than its share.
constexpr std::uint32_t kMinChunkSize = 0x20;
constexpr std::uint32_t kMaxChunkSize = 1u << 20;

struct ItsfHeader {
    std::uint64_t directoryOffset = 0;
    std::uint64_t directoryLength = 0;
    std::uint64_t contentOffset = 0;
};

ItsfHeader ReadItsfHeader(const FileSource& file) {
    std::uint8_t raw[kItsfV3Length] = {};
    const std::size_t available = file.Size() < kItsfV3Length ? static_cast<std::size_t>(file.Size()) : kItsfV3Length;
    file.ReadExact(0, raw, available, "the file header");
    ByteView header(raw, available, "the file header");
    if (!header.Matches("ITSF")) throw EStorageError(code::kInvalidHeader, "the ITSF signature is missing");
    header.Take(4);
    const std::uint32_t version = header.U32();
    if (version != 2 && version != 3)
        throw EStorageError(code::kNotImplemented, "ITSF version " + std::to_string(version) + " is unknown");
    const std::size_t needed = version == 3 ? kItsfV3Length : kItsfV2Length;
    if (available < needed) header.Fail("it ends too early");

    ItsfHeader result;
    header.Seek(0x48);
    result.directoryOffset = header.U64();
    result.directoryLength = header.U64();
    const std::uint64_t size = file.Size();
    if (result.directoryOffset > size || result.directoryLength > size - result.directoryOffset)
        header.Fail("the directory lies outside the file");
    if (version == 3) {
        result.contentOffset = header.U64();
        if (result.contentOffset > size) header.Fail("the content lies outside the file");
    } else {
        result.contentOffset = result.directoryOffset + result.directoryLength;
    }
    return result;
}

void ReadListingChunk(ByteView chunk, std::size_t chunkSize, std::vector<DirectoryEntry>& entries) {
    chunk.Seek(4);
    const std::uint32_t freeSpace = chunk.U32();
    if (freeSpace > chunkSize - kListingHeaderLength) chunk.Fail("its free space is larger than the chunk");
    chunk.Seek(kListingHeaderLength);
    const std::size_t end = chunkSize - freeSpace;
    while (chunk.Position() < end) {
        DirectoryEntry entry;
        const std::uint64_t nameLength = chunk.EncInt();
        if (chunk.Position() > end || nameLength > end - chunk.Position()) chunk.Fail("an entry's name runs past the chunk");
        const std::uint8_t* name = chunk.Take(static_cast<std::size_t>(nameLength));
        entry.name = std::string_view(reinterpret_cast<const char*>(name), static_cast<std::size_t>(nameLength));
        entry.section = chunk.EncInt();
        entry.offset = chunk.EncInt();
        entry.length = chunk.EncInt();
        if (chunk.Position() > end) chunk.Fail("an entry runs past the chunk");
        entries.push_back(std::move(entry));
    }
}

// The listing chunks of a directory, read from the file one at a time.
class ChunkReader {
public:
    ChunkReader(const FileSource& file, std::uint64_t firstChunkAt, std::uint32_t chunkSize, std::size_t chunkCount)
        : file_(file), firstChunkAt_(firstChunkAt), chunkSize_(chunkSize), chunkCount_(chunkCount) {}

    std::size_t Count() const { return chunkCount_; }
    std::uint64_t At(std::size_t index) const { return firstChunkAt_ + static_cast<std::uint64_t>(index) * chunkSize_; }

    struct Head {
        bool listing = false;
        std::int32_t previous = -1;
        std::int32_t next = -1;
    };
    // The chunk's signature and links; not a listing chunk when `index` is
    // not a chunk of the directory.
    Head HeadOf(std::int64_t index) const {
        if (index < 0 || static_cast<std::uint64_t>(index) >= chunkCount_) return {};
        std::uint8_t raw[kListingHeaderLength];
        file_.ReadExact(At(static_cast<std::size_t>(index)), raw, sizeof raw, "a listing chunk");
        ByteView view(raw, sizeof raw, "a listing chunk");
        Head head;
        head.listing = view.Matches("PMGL");
        view.Seek(kPreviousChunkAt);
        head.previous = view.I32();
        head.next = view.I32();
        return head;
    }

    std::unique_ptr<std::uint8_t[]> Read(std::size_t index) const {
        auto bytes = std::make_unique<std::uint8_t[]>(chunkSize_);
        file_.ReadExact(At(index), bytes.get(), chunkSize_, "a listing chunk");
        return bytes;
    }

    // The first chunk from `index` on whose signature is not in a hole of
    // a sparse file; Count() when there is none. Skips declared space that
    // the file does not really hold, at no cost.
    std::size_t FirstWithData(std::size_t index) const {
        if (index >= chunkCount_) return chunkCount_;
        const std::uint64_t at = At(index);
        const std::uint64_t data = file_.DataFrom(at);
        if (data < at + 4) return index;
        const std::uint64_t holding = (data - firstChunkAt_) / chunkSize_;
        return holding >= chunkCount_ ? chunkCount_ : static_cast<std::size_t>(holding);
    }

private:
    const FileSource& file_;
    std::uint64_t firstChunkAt_;
    std::uint32_t chunkSize_;
    std::size_t chunkCount_;
};

}  // namespace

Directory ReadDirectory(const FileSource& file) {
    const ItsfHeader itsf = ReadItsfHeader(file);
    Directory directory;
    directory.contentOffset = itsf.contentOffset;

    std::uint8_t rawHeader[kItspMinLength];
    if (itsf.directoryLength < kItspMinLength) ThrowDamaged("the directory header: it ends too early");
    file.ReadExact(itsf.directoryOffset, rawHeader, sizeof rawHeader, "the directory header");
    ByteView itsp(rawHeader, sizeof rawHeader, "the directory header");
    if (!itsp.Matches("ITSP")) itsp.Fail("the ITSP signature is missing");
    itsp.Take(8);
    const std::uint32_t headerLength = itsp.U32();
    itsp.Seek(0x10);
    const std::uint32_t chunkSize = itsp.U32();
    itsp.Seek(0x20);
    const std::int32_t firstListing = itsp.I32();
    if (headerLength < kItspMinLength || headerLength > itsf.directoryLength) itsp.Fail("its length is out of range");
    if (chunkSize < kMinChunkSize || chunkSize > kMaxChunkSize)
        itsp.Fail("chunk size " + std::to_string(chunkSize) + " is out of range");

    // The chunks that the directory's extent holds; links are checked
    // against this count, not the one the header claims. All lie inside the
    // file (the extent was checked against its size).
    const std::uint64_t chunkCount = (itsf.directoryLength - headerLength) / chunkSize;
    const ChunkReader chunks(file, itsf.directoryOffset + headerLength, chunkSize,
                             static_cast<std::size_t>(std::min<std::uint64_t>(chunkCount, SIZE_MAX)));

    // Some writers name a chunk after the true head of the chain. Go back
    // while the previous chunk is a listing chunk that links forward to this
    // one; at most Count() steps, so a loop of back links ends too.
    std::int32_t head = firstListing;
    if (chunks.HeadOf(head).listing) {
        for (std::size_t steps = 0; steps < chunks.Count(); ++steps) {
            const std::int32_t previous = chunks.HeadOf(head).previous;
            if (previous == head) break;
            const ChunkReader::Head before = chunks.HeadOf(previous);
            if (!before.listing || before.next != head) break;
            head = previous;
        }
    }

    // Chunks read so far, by index; as many as the chain really has.
    std::unordered_set<std::size_t> visited;
    auto list = [&](std::size_t index) {
        std::unique_ptr<std::uint8_t[]> bytes = chunks.Read(index);
        ByteView chunk(bytes.get(), chunkSize, "a listing chunk");
        if (!chunk.Matches("PMGL")) chunk.Fail("the PMGL signature is missing");
        const std::size_t before = directory.entries.size();
        ReadListingChunk(chunk, chunkSize, directory.entries);
        if (directory.entries.size() > before) directory.chunks.push_back(std::move(bytes));
    };
    for (std::int32_t index = head; index != -1;) {
        if (index < 0 || static_cast<std::size_t>(index) >= chunks.Count())
            itsp.Fail("listing chunk " + std::to_string(index) + " lies outside the directory");
        if (!visited.insert(static_cast<std::size_t>(index)).second) itsp.Fail("the listing chunks link in a loop");
        list(static_cast<std::size_t>(index));
        index = chunks.HeadOf(index).next;
    }
    // A listing chunk that the chain never reaches still holds entries of the
    // file: list them after the chain, in chunk order, rather than lose them.
    for (std::size_t index = chunks.FirstWithData(0); index < chunks.Count();
         index = chunks.FirstWithData(index + 1)) {
        if (visited.count(index) == 0 && chunks.HeadOf(static_cast<std::int64_t>(index)).listing) list(index);
    }
    return directory;
}

const DirectoryEntry* FindEntry(const Directory& directory, std::string_view name) {
    for (const DirectoryEntry& entry : directory.entries)
        if (entry.name == name) return &entry;
    return nullptr;
}

std::uint64_t StoredEntryFileOffset(const FileSource& file, const Directory& directory, const DirectoryEntry& entry) {
    const std::uint64_t size = file.Size();
    const std::uint64_t base = directory.contentOffset;  // <= size, checked when read
    if (entry.offset > size - base || entry.length > size - base - entry.offset)
        ThrowDamaged("stream " + std::string(entry.name) + " runs past the end of the file");
    return base + entry.offset;
}

}  // namespace vexmor::storage
