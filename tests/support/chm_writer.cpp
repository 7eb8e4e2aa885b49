#include "tests/support/chm_writer.h"

#include <algorithm>
#include <numeric>
#include <set>
#include <stdexcept>
#include <string>

namespace vexmor::testsupport {
namespace {

constexpr std::uint32_t kItspLength = 0x54;
constexpr std::uint32_t kHeaderSection0Length = 0x18;
constexpr std::uint32_t kListingHeaderLength = 0x14;
constexpr std::uint32_t kIndexHeaderLength = 0x08;
constexpr unsigned kQuickrefSpacing = 5;  // 1 + 2^density, density 2
constexpr std::string_view kInstanceDataFolder =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/";

struct Guid {
    std::uint32_t a;
    std::uint16_t b;
    std::uint16_t c;
    std::uint8_t d[8];
};
constexpr Guid kItsfGuid1{0x7C01FD10, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
constexpr Guid kItsfGuid2{0x7C01FD11, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
constexpr Guid kItspGuid{0x5D02926A, 0x212E, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};

void AppendGuid(Bytes& out, const Guid& guid) {
    AppendU32(out, guid.a);
    AppendU16(out, guid.b);
    AppendU16(out, guid.c);
    AppendBytes(out, guid.d);
}

void AppendUtf16Ascii(Bytes& out, std::string_view text) {
    for (char c : text) AppendU16(out, static_cast<std::uint16_t>(static_cast<unsigned char>(c)));
}

// Listing order: ASCII letters folded to lower case, then bytes.
bool ListingLess(std::string_view a, std::string_view b) {
    const auto fold = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + 32) : u;
    };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return fold(x) < fold(y); });
}

struct DirectoryEntry {
    std::string name;
    unsigned section;
    std::uint64_t offset;
    std::uint64_t length;
};

std::size_t ListingEntrySize(const DirectoryEntry& e) {
    return EncIntSize(e.name.size()) + e.name.size() + EncIntSize(e.section) + EncIntSize(e.offset) +
           EncIntSize(e.length);
}

std::size_t QuickrefBytes(std::size_t entryCount) {
    return 2 + 2 * (entryCount == 0 ? 0 : (entryCount - 1) / kQuickrefSpacing);
}

// Entries, then free space, then the quickref offsets of every fifth entry
// (relative to the first entry, stored backwards from the end) and the entry count.
Bytes FinishChunk(Bytes chunk, std::size_t headerLength, const std::vector<std::size_t>& entryStarts,
                  std::uint32_t chunkSize) {
    chunk.resize(chunkSize, 0);
    std::size_t at = chunkSize - 2;
    chunk[at] = static_cast<std::uint8_t>(entryStarts.size());
    chunk[at + 1] = static_cast<std::uint8_t>(entryStarts.size() >> 8);
    for (std::size_t i = kQuickrefSpacing; i < entryStarts.size(); i += kQuickrefSpacing) {
        at -= 2;
        const auto offset = entryStarts[i] - headerLength;
        chunk[at] = static_cast<std::uint8_t>(offset);
        chunk[at + 1] = static_cast<std::uint8_t>(offset >> 8);
    }
    return chunk;
}

struct ListingChunks {
    std::vector<Bytes> chunks;
    std::vector<std::string> firstNames;
    std::vector<std::uint32_t> entryChunk;       // per directory entry
    std::vector<std::size_t> entryChunkOffset;  // per directory entry, within its chunk
};

ListingChunks BuildListingChunks(const std::vector<DirectoryEntry>& entries, std::uint32_t chunkSize) {
    ListingChunks out;
    std::size_t next = 0;
    do {
        const auto number = static_cast<std::uint32_t>(out.chunks.size());
        Bytes chunk;
        AppendText(chunk, "PMGL");
        AppendU32(chunk, 0);  // free space, set below
        AppendU32(chunk, 0);
        AppendU32(chunk, number == 0 ? 0xFFFFFFFFu : number - 1);
        AppendU32(chunk, 0xFFFFFFFFu);  // next, set once known
        std::vector<std::size_t> starts;
        while (next < entries.size()) {
            const auto size = ListingEntrySize(entries[next]);
            if (chunk.size() + size + QuickrefBytes(starts.size() + 1) > chunkSize) break;
            const auto& e = entries[next];
            starts.push_back(chunk.size());
            out.entryChunk.push_back(number);
            out.entryChunkOffset.push_back(chunk.size());
            AppendEncInt(chunk, e.name.size());
            AppendText(chunk, e.name);
            AppendEncInt(chunk, e.section);
            AppendEncInt(chunk, e.offset);
            AppendEncInt(chunk, e.length);
            ++next;
        }
        if (starts.empty() && next < entries.size()) {
            throw std::invalid_argument("directory entry does not fit a chunk: " + entries[next].name);
        }
        if (!starts.empty()) out.firstNames.push_back(entries[next - starts.size()].name);
        else out.firstNames.emplace_back();
        PutU32At(chunk, 4, static_cast<std::uint32_t>(chunkSize - chunk.size()));
        out.chunks.push_back(FinishChunk(std::move(chunk), kListingHeaderLength, starts, chunkSize));
    } while (next < entries.size());
    for (std::size_t i = 0; i + 1 < out.chunks.size(); ++i) PutU32At(out.chunks[i], 0x10, static_cast<std::uint32_t>(i + 1));
    return out;
}

Bytes BuildIndexChunk(const ListingChunks& listing, std::uint32_t chunkSize) {
    Bytes chunk;
    AppendText(chunk, "PMGI");
    AppendU32(chunk, 0);
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < listing.chunks.size(); ++i) {
        starts.push_back(chunk.size());
        AppendEncInt(chunk, listing.firstNames[i].size());
        AppendText(chunk, listing.firstNames[i]);
        AppendEncInt(chunk, i);
    }
    if (chunk.size() + QuickrefBytes(starts.size()) > chunkSize) {
        throw std::invalid_argument("the index does not fit one chunk; use a larger chunk size");
    }
    PutU32At(chunk, 4, static_cast<std::uint32_t>(chunkSize - chunk.size()));
    return FinishChunk(std::move(chunk), kIndexHeaderLength, starts, chunkSize);
}

void CheckOptions(const std::vector<ChmEntry>& entries, const ChmOptions& options) {
    if (options.itsfVersion != 2 && options.itsfVersion != 3) throw std::invalid_argument("ITSF version must be 2 or 3");
    // Up to the largest chunk the reader takes. Quickref offsets have 16 bits:
    // in a chunk over 64 KiB they keep the low bits only (the reader does
    // not use them).
    if (options.chunkSize < 0x40 || options.chunkSize > 0x100000) throw std::invalid_argument("chunk size out of range");
    for (const auto& e : entries) {
        if (e.section > 1) throw std::invalid_argument("section must be 0 or 1: " + e.name);
    }
    if (!options.storageOrder.empty()) {
        auto sorted = options.storageOrder;
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::size_t> identity(entries.size());
        std::iota(identity.begin(), identity.end(), std::size_t{0});
        if (sorted != identity) throw std::invalid_argument("storage order must be a permutation of the entries");
    }
}

Bytes NameListStream() {
    Bytes out;
    AppendU16(out, 30);  // length in 16-bit units
    AppendU16(out, 2);
    for (std::string_view name : {std::string_view("Uncompressed"), std::string_view("MSCompressed")}) {
        AppendU16(out, static_cast<std::uint16_t>(name.size()));
        AppendUtf16Ascii(out, name);
        AppendU16(out, 0);
    }
    return out;
}

Bytes ControlDataStream(const LzxSectionOptions& lzx) {
    Bytes out;
    AppendU32(out, 6);
    AppendText(out, "LZXC");
    AppendU32(out, 2);
    AppendU32(out, lzx.resetIntervalBytes / LzxWriter::kFrameSize);
    AppendU32(out, (1u << lzx.windowBits) / LzxWriter::kFrameSize);
    AppendU32(out, 1);  // cache size, 1 in every file seen
    AppendU32(out, 0);
    return out;
}

Bytes ResetTableStream(const LzxSection& section, bool endEntry) {
    auto offsets = section.frameOffsets;
    if (endEntry) offsets.push_back(section.bytes.size());
    Bytes out;
    AppendU32(out, 2);
    AppendU32(out, static_cast<std::uint32_t>(offsets.size()));
    AppendU32(out, 8);
    AppendU32(out, 0x28);
    AppendU64(out, section.uncompressedLength);
    AppendU64(out, section.bytes.size());
    AppendU64(out, LzxWriter::kFrameSize);
    for (auto offset : offsets) AppendU64(out, offset);
    return out;
}

// Real files store this GUID string cut to 38 bytes of UTF-16.
Bytes TransformListStream() {
    Bytes out;
    AppendUtf16Ascii(out, "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}");
    out.resize(38);
    return out;
}

LzxSection EncodeSection1(const Bytes& data, const ChmOptions& options) {
    if (options.customSection1) return *options.customSection1;
    Bytes withSlack = data;
    AppendBytes(withSlack, options.section1Slack);
    auto section = EncodeSection(withSlack, options.lzx);
    const std::uint64_t frames = (data.size() + LzxWriter::kFrameSize - 1) / LzxWriter::kFrameSize;
    if (section.frameOffsets.size() > frames) section.frameOffsets.resize(frames);
    section.uncompressedLength = data.size();
    return section;
}

}  // namespace

const PlacedEntry* ChmLayout::Find(std::string_view name) const {
    for (const auto& e : entries) {
        if (e.name == name) return &e;
    }
    return nullptr;
}

ChmImage BuildChm(const std::vector<ChmEntry>& entries, const ChmOptions& options) {
    CheckOptions(entries, options);

    std::vector<std::size_t> directoryOrder(entries.size());
    std::iota(directoryOrder.begin(), directoryOrder.end(), std::size_t{0});
    if (options.sortDirectory) {
        std::stable_sort(directoryOrder.begin(), directoryOrder.end(),
                         [&](std::size_t a, std::size_t b) { return ListingLess(entries[a].name, entries[b].name); });
    }
    const auto& storageOrder = options.storageOrder.empty() ? directoryOrder : options.storageOrder;

    // Place every entry's bytes in its section, in storage order.
    std::vector<std::uint64_t> offsets(entries.size(), 0);
    Bytes section0;
    Bytes section1;
    for (std::size_t index : storageOrder) {
        Bytes& section = entries[index].section == 0 ? section0 : section1;
        offsets[index] = section.size();
        AppendBytes(section, entries[index].bytes);
    }

    std::vector<DirectoryEntry> directory;
    for (std::size_t index : directoryOrder) {
        const auto& e = entries[index];
        const auto claim = options.claims.find(e.name);
        if (claim != options.claims.end())
            directory.push_back({e.name, e.section, claim->second.offset, claim->second.length});
        else
            directory.push_back({e.name, e.section, offsets[index], e.bytes.size()});
    }

    ChmLayout layout;
    const bool hasSection1 = options.customSection1.has_value() ||
                             std::any_of(entries.begin(), entries.end(), [](const auto& e) { return e.section == 1; });
    struct Machinery {
        std::string_view name;
        Bytes bytes;
        FileRange* range;
    };
    std::vector<Machinery> machinery;
    std::vector<std::uint64_t> machineryOffsets;
    if (hasSection1) {
        const auto compressed = EncodeSection1(section1, options);
        layout.section1Length = compressed.uncompressedLength;
        layout.frameOffsets = compressed.frameOffsets;
        layout.lzxStats = compressed.stats;
        Bytes spanInfo;
        AppendU64(spanInfo, compressed.uncompressedLength);
        machinery.push_back({kNameListName, NameListStream(), &layout.nameList});
        machinery.push_back({kControlDataName, ControlDataStream(options.lzx), &layout.controlData});
        machinery.push_back({kSpanInfoName, std::move(spanInfo), &layout.spanInfo});
        machinery.push_back({kTransformListName, TransformListStream(), &layout.transformList});
        Bytes resetTable = ResetTableStream(compressed, options.resetTableEndEntry);
        resetTable.resize(resetTable.size() + options.resetTablePadding, 0);
        machinery.push_back({kResetTableName, std::move(resetTable), &layout.resetTable});
        machinery.push_back({kContentName, compressed.bytes, &layout.content});
        for (auto& m : machinery) {
            machineryOffsets.push_back(section0.size());
            directory.push_back({std::string(m.name), 0, section0.size(), m.bytes.size()});
            AppendBytes(section0, m.bytes);
        }
    }

    if (options.sortDirectory && options.addFolderEntries) {
        std::set<std::string> present;
        for (const auto& e : directory) present.insert(e.name);
        std::set<std::string> folders{"/"};
        for (const auto& e : entries) {
            if (e.name.empty() || e.name[0] != '/') continue;
            for (auto slash = e.name.find('/', 1); slash != std::string::npos; slash = e.name.find('/', slash + 1)) {
                folders.insert(e.name.substr(0, slash + 1));
            }
        }
        if (hasSection1) folders.insert(std::string(kInstanceDataFolder));
        for (const auto& folder : folders) {
            if (!present.count(folder)) directory.push_back({folder, 0, 0, 0});
        }
    }
    if (options.sortDirectory) {
        std::stable_sort(directory.begin(), directory.end(),
                         [](const auto& a, const auto& b) { return ListingLess(a.name, b.name); });
    }

    auto listing = BuildListingChunks(directory, options.chunkSize);
    std::vector<Bytes> chunks = listing.chunks;
    const auto listingCount = static_cast<std::uint32_t>(chunks.size());
    const bool indexed = options.indexWhenSeveralChunks && listingCount > 1;
    if (indexed) chunks.push_back(BuildIndexChunk(listing, options.chunkSize));

    const std::uint32_t itsfLength = options.itsfVersion == 3 ? 0x60 : 0x58;
    layout.itsfHeader = {0, itsfLength};
    layout.headerSection0 = {itsfLength, kHeaderSection0Length};
    layout.itspHeader = {itsfLength + kHeaderSection0Length, kItspLength};
    layout.chunkSize = options.chunkSize;
    layout.directory = {layout.itspHeader.offset, kItspLength + std::uint64_t{options.chunkSize} * chunks.size()};
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const auto at = layout.itspHeader.offset + kItspLength + std::uint64_t{options.chunkSize} * i;
        (i < listingCount ? layout.listingChunkOffsets : layout.indexChunkOffsets).push_back(at);
    }
    layout.contentOffset = layout.directory.offset + layout.directory.length;
    const std::uint64_t fileSize = layout.contentOffset + section0.size();
    for (std::size_t i = 0; i < machinery.size(); ++i) {
        *machinery[i].range = {layout.contentOffset + machineryOffsets[i], machinery[i].bytes.size()};
    }
    for (std::size_t i = 0; i < directory.size(); ++i) {
        const auto& e = directory[i];
        layout.entries.push_back({e.name, e.section, e.offset, e.length, listing.entryChunk[i],
                                  layout.listingChunkOffsets[listing.entryChunk[i]] + listing.entryChunkOffset[i]});
    }

    Bytes file;
    file.reserve(fileSize);
    AppendText(file, "ITSF");
    AppendU32(file, options.itsfVersion);
    AppendU32(file, itsfLength);
    AppendU32(file, 1);
    AppendU32(file, 0);  // timestamp
    AppendU32(file, options.languageId);
    AppendGuid(file, kItsfGuid1);
    AppendGuid(file, kItsfGuid2);
    AppendU64(file, layout.headerSection0.offset);
    AppendU64(file, layout.headerSection0.length);
    AppendU64(file, layout.directory.offset);
    AppendU64(file, layout.directory.length);
    if (options.itsfVersion == 3) AppendU64(file, layout.contentOffset);

    AppendU32(file, 0x1FE);
    AppendU32(file, 0);
    AppendU64(file, fileSize);
    AppendU32(file, 0);
    AppendU32(file, 0);

    AppendText(file, "ITSP");
    AppendU32(file, 1);
    AppendU32(file, kItspLength);
    AppendU32(file, 0x0A);
    AppendU32(file, options.chunkSize);
    AppendU32(file, 2);
    AppendU32(file, indexed ? 2 : 1);
    AppendU32(file, indexed ? listingCount : 0xFFFFFFFFu);
    AppendU32(file, 0);
    AppendU32(file, listingCount - 1);
    AppendU32(file, 0xFFFFFFFFu);
    AppendU32(file, static_cast<std::uint32_t>(chunks.size()));
    AppendU32(file, options.languageId);
    AppendGuid(file, kItspGuid);
    AppendU32(file, kItspLength);
    for (int i = 0; i < 3; ++i) AppendU32(file, 0xFFFFFFFFu);

    for (const auto& chunk : chunks) AppendBytes(file, chunk);
    AppendBytes(file, section0);
    return {std::move(file), std::move(layout)};
}

Bytes WithSpanBroken(const ChmImage& image, std::size_t span) {
    Bytes bytes = image.bytes;
    const std::uint64_t at = image.layout.content.offset + image.layout.frameOffsets.at(span);
    bytes.at(at) = 0xFF;
    bytes.at(at + 1) = 0x7F;
    return bytes;
}

}  // namespace vexmor::testsupport
