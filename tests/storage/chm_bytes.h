// Test helper: a real help file held in memory, with the positions a test
// needs to damage it on purpose, found by the test-side directory reader.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/chm_probe.h"

namespace vexmor::test {

struct ChmBytes {
    std::string bytes;
    testsupport::ProbedChm layout;  // where its structures lie, as loaded

    static ChmBytes Load(const std::string& path);

    // File position of the first listing chunk.
    std::size_t FirstChunkAt() const;

    const testsupport::ProbedEntry& Entry(const std::string& name) const;
    // File position of a stored entry's bytes.
    std::size_t StoredAt(const std::string& name) const;

    void PutU32(std::size_t at, std::uint32_t value);
    void PutU64(std::size_t at, std::uint64_t value);
    std::uint64_t GetU64(std::size_t at) const;
};

}  // namespace vexmor::test
