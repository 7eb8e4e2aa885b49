// Test helper: every stream of a help file, read through the storage view
// by the names the enumeration gave.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/storage/storage.h"

namespace vexmor::test {

struct WalkedStream {
    std::string name;  // inner path and name joined with '/': "html/a.htm", "::DataSpace/NameList"
    std::uint64_t enumeratedSize = 0;
    std::string bytes;
};

// Calls `visit` for every stream in walk order (depth first, pre-order).
void WalkStreams(const std::shared_ptr<storage::IStorage>& root, const std::function<void(const WalkedStream&)>& visit);

// A stream found by the walk, to be read later.
struct PlacedStream {
    std::shared_ptr<storage::IStorage> storage;  // holds it
    std::string element;                         // its name in `storage`
    std::string name;                            // as WalkedStream::name
    storage::Placement placement;
};

// Every stream below `root`, by placement (area, then offset), as an export
// reads them; equal placements keep walk order.
std::vector<PlacedStream> StreamsInStorageOrder(const std::shared_ptr<storage::IStorage>& root);

// The placements of `streams`, in their order, for IStorage::PlanReads.
std::vector<storage::Placement> PlacementsOf(const std::vector<PlacedStream>& streams);

// Reads a stream to its end in blocks of `block` bytes.
std::string ReadAll(storage::IStream& stream, std::uint32_t block = 4096);

}  // namespace vexmor::test
