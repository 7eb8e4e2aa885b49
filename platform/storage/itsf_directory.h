// The container of a help file: its ITSF header and the directory of every
// entry, read from the listing chunks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vexmor::storage {

class FileSource;

struct DirectoryEntry {
    std::string_view name;      // as stored: "/html/a.htm", "::DataSpace/NameList", "/html/"
    std::uint64_t section = 0;  // 0 stored, 1 LZX-compressed
    std::uint64_t offset = 0;   // within the section
    std::uint64_t length = 0;
};

// Entry names point into `chunks`, the listing chunks as read: no string of
// its own for each of tens of thousands of names. Only chunks the walk
// reaches are read, so a directory costs what it really holds, whatever
// size its header declares. Moving keeps the names valid; copying does not,
// hence move-only.
struct Directory {
    Directory() = default;
    Directory(Directory&&) = default;
    Directory& operator=(Directory&&) = default;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    std::vector<std::unique_ptr<std::uint8_t[]>> chunks;
    std::vector<DirectoryEntry> entries;  // in listing order
    std::uint64_t contentOffset = 0;      // file offset where section 0 starts
};

// The entry named exactly `name`, or nullptr.
const DirectoryEntry* FindEntry(const Directory& directory, std::string_view name);

// File offset of a stored (section 0) entry's bytes, after checking that the
// entry lies inside the file; damage otherwise.
std::uint64_t StoredEntryFileOffset(const FileSource& file, const Directory& directory, const DirectoryEntry& entry);

// Throws EStorageError: kInvalidHeader for a file that is not a help file,
// kNotImplemented for an unknown version, kDamaged for a damaged one.
Directory ReadDirectory(const FileSource& file);

}  // namespace vexmor::storage
