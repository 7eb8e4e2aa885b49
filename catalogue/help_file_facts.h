// What `info` tells of a help file without extracting it: the #SYSTEM
// records, the number and sizes of its streams, and the parameters of its
// compressed section. Read from the catalogue's own streams, so that a
// damaged one is a note here and never stops the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/byte_total.h"
#include "catalogue/system_records.h"
#include "catalogue/uChmExtractor.h"
#include "platform/storage/storage.h"

namespace vexmor {

struct HelpFileFacts {
    std::optional<SystemRecords> system;  // absent without a readable #SYSTEM stream
    std::size_t streams = 0;
    ByteTotal streamBytes;          // sum of the streams' sizes
    std::uint64_t fileBytes = 0;    // the help file on disk, when it was opened
    // As the reader lays it out; absent without one or when it is damaged.
    std::optional<storage::CompressedSectionFacts> compressedSection;
    // Every record or stream skipped, the #SYSTEM notes included.
    std::vector<std::string> notes;
};

// The most of #SYSTEM that is read; real files hold a few KiB.
inline constexpr std::size_t kSystemReadLimit = 1u << 20;

// Reads the facts of the open file whose catalogue is `items`. Throws only
// for what is not the file's fault (out of memory); a stream that cannot be
// read or makes no sense is a note.
HelpFileFacts ReadHelpFileFacts(const TChmItems& items);

}  // namespace vexmor
