// Test-side reading of the container structures BuildChm writes: ITSF and
// ITSP headers, the listing chunks along their links, the index chunk.
// Independent of the writer's code; throws std::runtime_error on any
// inconsistency it meets.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vexmor::testsupport {

struct ProbedEntry {
    std::string name;
    std::uint64_t section = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t lengthAt = 0;     // file offset of the length's ENCINT
    std::uint64_t lengthBytes = 0;  // its width
};

struct ProbedChm {
    std::uint32_t version = 0;
    std::uint64_t contentOffset = 0;
    std::uint32_t chunkSize = 0;
    std::uint32_t indexDepth = 0;
    std::int32_t rootIndexChunk = -1;
    std::uint32_t chunkCount = 0;
    std::uint32_t listingChunkCount = 0;  // walked along the next links
    std::uint64_t itspOffset = 0;
    std::vector<std::uint64_t> listingChunkOffsets;  // file offsets, in walk order
    std::vector<ProbedEntry> entries;     // listing order
    std::vector<std::pair<std::string, std::uint64_t>> indexEntries;  // name, chunk number
};

ProbedChm ProbeChm(std::span<const std::uint8_t> file);

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::uint64_t at);
std::uint64_t ReadU64(std::span<const std::uint8_t> bytes, std::uint64_t at);

}  // namespace vexmor::testsupport
