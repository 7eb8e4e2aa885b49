// What `info` tells of a help file without extracting it: the #SYSTEM
// records, the number and sizes of its streams, and the parameters of its
// compressed section. Read from the catalogue's own streams, so that a
// damaged one is a note here and never stops the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/system_records.h"
#include "catalogue/uChmExtractor.h"

namespace vexmor {

// ControlData of the compressed section, in bytes whatever its version.
struct LzxParameters {
    std::uint32_t windowBytes = 0;
    std::uint32_t resetIntervalBytes = 0;
};

// The compressed section's lengths, as its reset table states them.
struct CompressedSectionLengths {
    std::uint64_t uncompressed = 0;
    std::uint64_t compressed = 0;
};

struct HelpFileFacts {
    std::optional<SystemRecords> system;  // absent without a readable #SYSTEM stream
    std::size_t streams = 0;
    std::uint64_t streamBytes = 0;  // sum of the streams' sizes
    std::uint64_t fileBytes = 0;    // the help file on disk, when it was opened
    std::optional<LzxParameters> lzx;
    std::optional<CompressedSectionLengths> compressedSection;
    // Every record or stream skipped, the #SYSTEM notes included.
    std::vector<std::string> notes;
};

// The most of #SYSTEM that is read; real files hold a few KiB.
inline constexpr std::size_t kSystemReadLimit = 1u << 20;

// Reads the facts of the open file whose catalogue is `items`. Throws only
// for what is not the file's fault (out of memory); a stream that cannot be
// read or makes no sense is a note.
HelpFileFacts ReadHelpFileFacts(const TChmItems& items);

// Exposed for tests: the parsers of the section's two description streams.
// Both return nullopt and add a note when the bytes make no sense.
std::optional<LzxParameters> ParseControlData(const std::string& bytes, std::vector<std::string>& notes);
std::optional<CompressedSectionLengths> ParseResetTableLengths(const std::string& bytes,
                                                              std::vector<std::string>& notes);

}  // namespace vexmor
