// Test helper: a help file held in memory, with the positions a test needs
// to damage it on purpose, found by reading the structures directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexmor::test {

struct RawEntry {
    std::string name;
    std::uint64_t section = 0, offset = 0, length = 0;
    std::size_t lengthAt = 0;     // file position of the length number
    std::size_t lengthBytes = 0;  // its width in bytes
};

struct ChmBytes {
    std::string bytes;
    std::size_t itspAt = 0;
    std::size_t firstChunkAt = 0;
    std::uint32_t chunkSize = 0;
    std::uint64_t contentOffset = 0;
    std::vector<RawEntry> entries;  // of the first listing chunk

    static ChmBytes Load(const std::string& path);

    const RawEntry& Entry(const std::string& name) const;
    // File position of a stored entry's bytes.
    std::size_t StoredAt(const std::string& name) const;

    void PutU32(std::size_t at, std::uint32_t value);
    void PutU64(std::size_t at, std::uint64_t value);
    std::uint64_t GetU64(std::size_t at) const;
};

}  // namespace vexmor::test
