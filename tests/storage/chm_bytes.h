// Test helper: a real help file held in memory, with the positions a test
// needs to damage it on purpose, found by the test-side directory reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/chm_probe.h"

namespace vexmor::test {

struct ChmBytes {
    std::string bytes;
    std::size_t itspAt = 0;
    std::size_t firstChunkAt = 0;
    std::uint32_t chunkSize = 0;
    std::uint64_t contentOffset = 0;
    std::vector<testsupport::ProbedEntry> entries;  // listing order

    static ChmBytes Load(const std::string& path);

    const testsupport::ProbedEntry& Entry(const std::string& name) const;
    // File position of a stored entry's bytes.
    std::size_t StoredAt(const std::string& name) const;

    void PutU32(std::size_t at, std::uint32_t value);
    void PutU64(std::size_t at, std::uint64_t value);
    std::uint64_t GetU64(std::size_t at) const;
};

}  // namespace vexmor::test
