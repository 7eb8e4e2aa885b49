#include "platform/storage/itsf_directory.h"

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

}  // namespace

Directory ReadDirectory(const FileSource& file) {
    const ItsfHeader itsf = ReadItsfHeader(file);
    Directory directory;
    directory.contentOffset = itsf.contentOffset;

    std::vector<std::uint8_t>& raw = directory.raw;
    raw.resize(static_cast<std::size_t>(itsf.directoryLength));
    file.ReadExact(itsf.directoryOffset, raw.data(), raw.size(), "the directory");
    ByteView itsp(raw.data(), raw.size(), "the directory header");
    if (!itsp.Matches("ITSP")) itsp.Fail("the ITSP signature is missing");
    itsp.Take(8);
    const std::uint32_t headerLength = itsp.U32();
    itsp.Seek(0x10);
    const std::uint32_t chunkSize = itsp.U32();
    itsp.Seek(0x20);
    const std::int32_t firstListing = itsp.I32();
    if (headerLength < kItspMinLength || headerLength > raw.size()) itsp.Fail("its length is out of range");
    if (chunkSize < kMinChunkSize || chunkSize > kMaxChunkSize)
        itsp.Fail("chunk size " + std::to_string(chunkSize) + " is out of range");

    // The chunks that the directory really holds; links are checked against
    // this count, not the one the header claims.
    const std::size_t chunkCount = (raw.size() - headerLength) / chunkSize;
    auto chunkAt = [&](std::size_t index) {
        return ByteView(raw.data() + headerLength + index * chunkSize, chunkSize, "a listing chunk");
    };
    auto isListing = [&](std::int32_t index) {
        return index >= 0 && static_cast<std::size_t>(index) < chunkCount &&
               chunkAt(static_cast<std::size_t>(index)).Matches("PMGL");
    };
    auto link = [&](std::int32_t index, std::size_t at) {
        ByteView chunk = chunkAt(static_cast<std::size_t>(index));
        chunk.Seek(at);
        return chunk.I32();
    };

    // Some writers name a chunk after the true head of the chain. Go back
    // while the previous chunk is a listing chunk that links forward to this
    // one; at most chunkCount steps, so a loop of back links ends too.
    std::int32_t head = firstListing;
    if (isListing(head)) {
        for (std::size_t steps = 0; steps < chunkCount; ++steps) {
            const std::int32_t previous = link(head, kPreviousChunkAt);
            if (previous == head || !isListing(previous) || link(previous, kNextChunkAt) != head) break;
            head = previous;
        }
    }

    std::vector<bool> visited(chunkCount, false);
    for (std::int32_t index = head; index != -1;) {
        if (index < 0 || static_cast<std::size_t>(index) >= chunkCount)
            itsp.Fail("listing chunk " + std::to_string(index) + " lies outside the directory");
        if (visited[static_cast<std::size_t>(index)]) itsp.Fail("the listing chunks link in a loop");
        visited[static_cast<std::size_t>(index)] = true;
        ByteView chunk = chunkAt(static_cast<std::size_t>(index));
        if (!chunk.Matches("PMGL")) chunk.Fail("the PMGL signature is missing");
        ReadListingChunk(chunk, chunkSize, directory.entries);
        index = link(index, kNextChunkAt);
    }
    // A listing chunk that the chain never reaches still holds entries of the
    // file: list them after the chain, in chunk order, rather than lose them.
    for (std::size_t index = 0; index < chunkCount; ++index)
        if (!visited[index] && chunkAt(index).Matches("PMGL")) ReadListingChunk(chunkAt(index), chunkSize, directory.entries);
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
