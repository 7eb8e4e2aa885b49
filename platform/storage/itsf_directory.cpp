#include "platform/storage/itsf_directory.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/storage/byte_view.h"
#include "platform/storage/file_source.h"
#include "platform/storage/storage_error.h"

namespace vexmor::storage {

namespace {

// The on-disk layouts read here. All numbers are little-endian; ENCINT is
// the base-128 number of ByteView::EncInt. Fields marked "-" are not read.
//
// File header, at the start of the file:
//
//   offset  size  meaning
//   0x00    4     "ITSF"
//   0x04    4     version: 2 or 3
//   0x08    4     - length of this header (0x58 or 0x60)
//   0x0C    4     - 1
//   0x10    4     - time stamp
//   0x14    4     - language id
//   0x18    32    - two GUIDs
//   0x38    16    - offset and length of header section 0
//   0x48    8     offset of the directory in the file
//   0x50    8     length of the directory
//   0x58    8     version 3 only: file offset of section 0's content;
//                 in version 2 the content starts where the directory ends
namespace file_header {
constexpr std::string_view kSignature = "ITSF";
constexpr std::size_t kSignatureAt = 0x00;
constexpr std::size_t kVersionAt = 0x04;
constexpr std::size_t kDirectoryOffsetAt = 0x48;
constexpr std::size_t kDirectoryLengthAt = 0x50;
constexpr std::size_t kContentOffsetAt = 0x58;
constexpr std::size_t kVersion2Length = 0x58;
constexpr std::size_t kVersion3Length = 0x60;
}  // namespace file_header

// Directory header, at the directory's offset; the chunks follow it, each
// of the chunk size, numbered from 0:
//
//   offset  size  meaning
//   0x00    4     "ITSP"
//   0x04    4     - version 1
//   0x08    4     length of this header; the first chunk starts there
//   0x0C    4     - 0x0A
//   0x10    4     chunk size
//   0x14    4     - quickref density
//   0x18    4     - index depth: 1 when there are no index chunks
//   0x1C    4     - root index chunk, -1 when none (index chunks serve look-up
//                 by name only; every entry is in the listing chunks)
//   0x20    4     first listing chunk, signed (some writers name a later one)
//   0x24    4     - last listing chunk
//   0x28    4     - -1
//   0x2C    4     - number of chunks (the directory's length says how many
//                 it really holds)
//   0x30    4     - language id
//   0x34    16    - GUID
//   0x44    4     - 0x54, the header length again
//   0x48    12    - -1 three times
namespace directory_header {
constexpr std::string_view kSignature = "ITSP";
constexpr std::size_t kSignatureAt = 0x00;
constexpr std::size_t kHeaderLengthAt = 0x08;
constexpr std::size_t kChunkSizeAt = 0x10;
constexpr std::size_t kFirstListingAt = 0x20;
constexpr std::uint32_t kMinLength = 0x54;
// Every writer seen uses 4 or 8 KiB chunks; anything far outside is damage,
// and the bound keeps a single chunk from costing more than its share.
constexpr std::uint32_t kMinChunkSize = 0x20;
constexpr std::uint32_t kMaxChunkSize = 1u << 20;
}  // namespace directory_header

// Listing chunk, one chunk of the directory:
//
//   offset  size  meaning
//   0x00    4     "PMGL"
//   0x04    4     length of the free space and quickref area at the end
//   0x08    4     - 0
//   0x0C    4     previous listing chunk, signed, -1 when none
//   0x10    4     next listing chunk, signed, -1 when none
//   0x14    ...   entries, up to the chunk size less the length at 0x04
//
// An entry: ENCINT name length, the name (UTF-8, no terminator), ENCINT
// content section (0 stored, 1 LZX), ENCINT offset in that section, ENCINT
// length. Chunks of other signatures (index chunks, "PMGI") are not read.
namespace listing_chunk {
constexpr std::string_view kSignature = "PMGL";
constexpr std::size_t kSignatureAt = 0x00;
constexpr std::size_t kFreeSpaceAt = 0x04;
constexpr std::size_t kPreviousChunkAt = 0x0C;
constexpr std::size_t kNextChunkAt = 0x10;
constexpr std::size_t kHeaderLength = 0x14;  // the entries follow
}  // namespace listing_chunk

struct ItsfHeader {
    std::uint64_t directoryOffset = 0;
    std::uint64_t directoryLength = 0;
    std::uint64_t contentOffset = 0;
};

ItsfHeader ReadItsfHeader(const FileSource& file) {
    std::uint8_t raw[file_header::kVersion3Length] = {};
    const auto available =
        static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), file_header::kVersion3Length));
    file.ReadExact(0, raw, available, "the file header");
    ByteView header(raw, available, "the file header");
    header.Seek(file_header::kSignatureAt);
    if (!header.Matches(file_header::kSignature))
        throw EStorageError(code::kInvalidHeader, "the ITSF signature is missing");
    header.Seek(file_header::kVersionAt);
    const std::uint32_t version = header.U32();
    if (version != 2 && version != 3)
        throw EStorageError(code::kNotImplemented, "ITSF version " + std::to_string(version) + " is unknown");
    const std::size_t needed = version == 3 ? file_header::kVersion3Length : file_header::kVersion2Length;
    if (available < needed) header.Fail("it ends too early");

    ItsfHeader result;
    header.Seek(file_header::kDirectoryOffsetAt);
    result.directoryOffset = header.U64();
    header.Seek(file_header::kDirectoryLengthAt);
    result.directoryLength = header.U64();
    const std::uint64_t size = file.Size();
    if (result.directoryOffset > size || result.directoryLength > size - result.directoryOffset)
        header.Fail("the directory lies outside the file");
    if (version == 3) {
        header.Seek(file_header::kContentOffsetAt);
        result.contentOffset = header.U64();
        if (result.contentOffset > size) header.Fail("the content lies outside the file");
    } else {
        result.contentOffset = result.directoryOffset + result.directoryLength;
    }
    return result;
}

void ReadListingChunk(ByteView chunk, std::size_t chunkSize, std::vector<DirectoryEntry>& entries) {
    chunk.Seek(listing_chunk::kFreeSpaceAt);
    const std::uint32_t freeSpace = chunk.U32();
    if (freeSpace > chunkSize - listing_chunk::kHeaderLength) chunk.Fail("its free space is larger than the chunk");
    chunk.Seek(listing_chunk::kHeaderLength);
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
        std::uint8_t raw[listing_chunk::kHeaderLength];
        file_.ReadExact(At(static_cast<std::size_t>(index)), raw, sizeof raw, "a listing chunk");
        ByteView view(raw, sizeof raw, "a listing chunk");
        Head head;
        view.Seek(listing_chunk::kSignatureAt);
        head.listing = view.Matches(listing_chunk::kSignature);
        view.Seek(listing_chunk::kPreviousChunkAt);
        head.previous = view.I32();
        view.Seek(listing_chunk::kNextChunkAt);
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
        if (data < at + listing_chunk::kSignature.size()) return index;
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

    std::uint8_t rawHeader[directory_header::kMinLength];
    if (itsf.directoryLength < directory_header::kMinLength) ThrowDamaged("the directory header: it ends too early");
    file.ReadExact(itsf.directoryOffset, rawHeader, sizeof rawHeader, "the directory header");
    ByteView header(rawHeader, sizeof rawHeader, "the directory header");
    header.Seek(directory_header::kSignatureAt);
    if (!header.Matches(directory_header::kSignature)) header.Fail("the ITSP signature is missing");
    header.Seek(directory_header::kHeaderLengthAt);
    const std::uint32_t headerLength = header.U32();
    header.Seek(directory_header::kChunkSizeAt);
    const std::uint32_t chunkSize = header.U32();
    header.Seek(directory_header::kFirstListingAt);
    const std::int32_t firstListing = header.I32();
    if (headerLength < directory_header::kMinLength || headerLength > itsf.directoryLength)
        header.Fail("its length is out of range");
    if (chunkSize < directory_header::kMinChunkSize || chunkSize > directory_header::kMaxChunkSize)
        header.Fail("chunk size " + std::to_string(chunkSize) + " is out of range");

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
        chunk.Seek(listing_chunk::kSignatureAt);
        if (!chunk.Matches(listing_chunk::kSignature)) chunk.Fail("the PMGL signature is missing");
        const std::size_t before = directory.entries.size();
        ReadListingChunk(chunk, chunkSize, directory.entries);
        if (directory.entries.size() > before) directory.chunks.push_back(std::move(bytes));
    };
    for (std::int32_t index = head; index != -1;) {
        if (index < 0 || static_cast<std::size_t>(index) >= chunks.Count())
            header.Fail("listing chunk " + std::to_string(index) + " lies outside the directory");
        if (!visited.insert(static_cast<std::size_t>(index)).second) header.Fail("the listing chunks link in a loop");
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
