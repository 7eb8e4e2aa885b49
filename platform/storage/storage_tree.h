// The storage view of a directory: split every name at '/'; each component
// but the last names a storage, the last a stream (a name ending in '/'
// names storages only). Children keep the order of first occurrence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/storage/itsf_directory.h"

namespace vexmor::storage {

// Names are views into the directory's bytes, which outlive the tree.
struct StorageNode {
    struct Child {
        std::string_view name;
        bool isStorage = false;
        std::size_t index = 0;  // a node of the tree, or an entry of the directory
    };
    std::vector<Child> children;
    // Exact names to positions in `children`; the first one of a name wins.
    // Streams are indexed on the first look-up only: listing never needs it.
    std::unordered_map<std::string_view, std::size_t> storageByName;
    mutable std::unordered_map<std::string_view, std::size_t> streamByName;
    mutable bool streamsIndexed = false;
};

class StorageTree {
public:
    explicit StorageTree(const std::vector<DirectoryEntry>& entries);

    static constexpr std::size_t kRoot = 0;
    const StorageNode& Node(std::size_t index) const { return nodes_[index]; }

    // The child of `node` with exactly `name`, or failing that the first one
    // equal without regard to ASCII case; nullptr when there is none.
    const StorageNode::Child* Find(std::size_t node, const std::string& name, bool storage) const;

private:
    std::size_t StorageChild(std::size_t parent, std::string_view name);
    void AddStream(std::size_t parent, std::string_view name, std::size_t entry);

    std::vector<StorageNode> nodes_;
};

}  // namespace vexmor::storage
