// The storage view of a directory: split every name at '/'; each component
// but the last names a storage, the last a stream (a name ending in '/'
// names storages only). Children keep the order of first occurrence.
//
// An entry whose name is no such path is listed at the root under its whole
// stored name, so that it is seen and opens by that name, and costs no node
// for each of its levels: a name with an empty level ("/a//b"), a name
// ending in '/' that carries data, or one of more than kMaxLevels levels.
// Such names are never folder paths the program could build. A folder entry
// (no data) of that kind is left out: it holds nothing to list.
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
    // Far beyond any help file's folders; bounds the nodes a name can cost.
    static constexpr std::size_t kMaxLevels = 256;
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
