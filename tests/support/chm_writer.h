// Builds a complete help file image in memory: ITSF header, directory
// (PMGL listing chunks, optionally one PMGI index level), section 0 stored
// bytes and an LZX-compressed section 1 with its control data and reset
// table. Tests use it for data that no real fixture contains, and damage the
// result through the offsets in ChmLayout.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/byte_writer.h"
#include "tests/support/lzx_writer.h"

namespace vexmor::testsupport {

struct ChmEntry {
    std::string name;  // UTF-8 as the directory stores it: "/html/a.htm", "::DataSpace/..."
    Bytes bytes;
    unsigned section = 0;  // 0 stored, 1 compressed
};

struct FileRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

struct ChmOptions {
    unsigned itsfVersion = 3;  // 2 or 3
    std::uint32_t chunkSize = 4096;
    std::uint32_t languageId = 0x409;
    // Adds "/" and every folder "/a/", "/a/b/" of names starting with "/"
    // (section 0, offset 0, length 0), as real writers do.
    bool addFolderEntries = true;
    // Case-insensitive listing order as in real files. When off, the listing
    // is exactly the given entries in the given order (no folders added),
    // followed by the section machinery.
    bool sortDirectory = true;
    // One PMGI chunk (index depth 2) when there are several listing chunks.
    bool indexWhenSeveralChunks = true;
    // Indexes into the entries, in the order their bytes are stored, for each
    // section alike. Empty: directory order.
    std::vector<std::size_t> storageOrder;
    // Window bits, reset interval, block types and block size of section 1.
    LzxSectionOptions lzx;
    // Encoded after section 1's data but not counted in its length: the last
    // block (and possibly a final match) then runs past the section's end.
    Bytes section1Slack;
    // Appends the compressed length as one more reset-table entry, as one
    // open-source compiler does.
    bool resetTableEndEntry = false;
    // Zero bytes after the reset table's entries, counted in its length: a
    // table as large as one likes.
    std::size_t resetTablePadding = 0;
    // Compressed content made by hand (e.g. with LzxWriter::PutBits) instead
    // of encoding the section; its frameOffsets fill the reset table and its
    // uncompressedLength the lengths. Entry offsets still follow the
    // concatenation of the section 1 entries.
    std::optional<LzxSection> customSection1;
    // Entry names listed with this offset and length in their section
    // instead of where their bytes went: streams that claim other streams'
    // bytes, or more than there are.
    std::map<std::string, FileRange> claims;
};

struct PlacedEntry {
    std::string name;
    unsigned section = 0;
    std::uint64_t offset = 0;  // within its section
    std::uint64_t length = 0;
    std::uint32_t chunk = 0;                  // listing chunk number
    std::uint64_t directoryEntryOffset = 0;  // file offset of the entry's name-length ENCINT
};

struct ChmLayout {
    FileRange itsfHeader;
    FileRange headerSection0;
    FileRange itspHeader;
    FileRange directory;  // ITSP header and every chunk
    std::uint32_t chunkSize = 0;
    std::vector<std::uint64_t> listingChunkOffsets;  // file offsets, chunk 0 first
    std::vector<std::uint64_t> indexChunkOffsets;
    std::uint64_t contentOffset = 0;
    // The section machinery streams, as file ranges; all zero without section 1.
    FileRange nameList;
    FileRange controlData;
    FileRange spanInfo;
    FileRange transformList;
    FileRange resetTable;
    FileRange content;
    std::uint64_t section1Length = 0;
    std::vector<std::uint64_t> frameOffsets;  // as stored in the reset table
    LzxStats lzxStats;
    std::vector<PlacedEntry> entries;  // listing order, folders and machinery included

    const PlacedEntry* Find(std::string_view name) const;
};

struct ChmImage {
    Bytes bytes;
    ChmLayout layout;
};

inline constexpr std::string_view kNameListName = "::DataSpace/NameList";
inline constexpr std::string_view kControlDataName = "::DataSpace/Storage/MSCompressed/ControlData";
inline constexpr std::string_view kContentName = "::DataSpace/Storage/MSCompressed/Content";
inline constexpr std::string_view kSpanInfoName = "::DataSpace/Storage/MSCompressed/SpanInfo";
inline constexpr std::string_view kTransformListName = "::DataSpace/Storage/MSCompressed/Transform/List";
inline constexpr std::string_view kResetTableName =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

// Throws std::invalid_argument on bad options (version, section, order not a
// permutation, an entry or the index not fitting a chunk).
ChmImage BuildChm(const std::vector<ChmEntry>& entries, const ChmOptions& options = {});

// The bytes of `image` with the data of span `span` of the compressed
// section starting with an LZX block of type 7, which does not exist: the
// streams with bytes in that span fail to read, the others read.
Bytes WithSpanBroken(const ChmImage& image, std::size_t span);

}  // namespace vexmor::testsupport
