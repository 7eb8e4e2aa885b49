// An in-memory help file for the catalogue tests: a tree of storages and
// streams behind the storage interfaces, with counters and injected failures.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/storage.h"

namespace vexmor::test {

struct FakeNode {
    std::string name;
    storage::ElementType type = storage::ElementType::Stream;
    std::string data;                         // a stream's bytes
    std::optional<std::uint64_t> sizeShown;   // size the enumerator reports, when not data.size()
    std::vector<FakeNode> children;           // a storage's elements, in enumeration order
    bool failOpen = false;                    // OpenStorage / OpenStream of this element throws
    std::optional<std::uint64_t> failReadAt;  // Read throws once this many bytes were delivered
};

FakeNode Stream(std::string name, std::string data);
FakeNode Storage(std::string name, std::vector<FakeNode> children);

// What the fake saw; shared by every object of one fake.
struct FakeCounters {
    int componentsCreated = 0;
    int streamsOpened = 0;
    int liveStreams = 0;
    int liveStorages = 0;
    int reads = 0;  // Read calls, over all streams
};

// The files the fake component can open, by path.
struct FakeFiles {
    std::map<std::string, FakeNode> roots;
    std::shared_ptr<FakeCounters> counters = std::make_shared<FakeCounters>();

    // A factory for TChmExtractor: each call is one component instance.
    std::shared_ptr<storage::IITStorage> CreateComponent();
};

// A storage view of `root` on its own, for items built by hand; its storages
// report `source` as the help file they belong to.
std::shared_ptr<storage::IStorage> OpenFakeStorage(FakeNode root, std::shared_ptr<FakeCounters> counters,
                                                   storage::FileIdentity source = {});

}  // namespace vexmor::test
